// Dense matrix and vector containers, the column permutation and the debug print.
#include "NumericsTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoCPMatrix.h"
#include "ZoDebugPrint.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::vectorOf;

std::vector<std::wstring> winLogLines(ScopedLogCapture& capture) {
    return capture.Sink().Messages("ZoCWinLog");
}

}  // namespace

TEST(ZoTMatrix, StoresElementsColumnByColumn) {
    ZoTMatrix<double> m(2, 3);
    m(1, 2) = 7.0;
    m(0, 1) = 5.0;
    EXPECT_EQ(m.data[2 * 2 + 1], 7.0);
    EXPECT_EQ(m.data[1 * 2 + 0], 5.0);
}

TEST(ZoTMatrix, SingleSizeConstructorMakesSquareZeroMatrix) {
    ZoTMatrix<double> m(3);
    ASSERT_EQ(m.rows, 3);
    ASSERT_EQ(m.cols, 3);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(m.data[i], 0.0);
    ZoTMatrix<double> empty;
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_EQ(ZoTMatrix<double>(0, 4).data, nullptr);
}

TEST(ZoTMatrix, IdentityOfRectangularShapeHasOnesOnLeadingDiagonalOnly) {
    const ZoTMatrix<double> id = ZoTMatrix<double>::Identity(2, 3);
    ASSERT_EQ(id.rows, 2);
    ASSERT_EQ(id.cols, 3);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(id(r, c), r == c ? 1.0 : 0.0) << r << "," << c;
    EXPECT_EQ(ZoTMatrix<double>::Identity(3).cols, 3);
}

TEST(ZoTMatrix, ResizeKeepsContentOnlyForSameShape) {
    ZoTMatrix<double> m = fromRows({{1, 2}, {3, 4}});
    m.Resize(2, 2);
    EXPECT_EQ(m(1, 0), 3.0);
    m.Resize(1, 4);
    ASSERT_EQ(m.rows, 1);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(m(0, c), 0.0);
}

TEST(ZoTMatrix, CopiesAreDeepAndSelfAssignmentIsHarmless) {
    ZoTMatrix<double> a = fromRows({{1, 2}, {3, 4}});
    ZoTMatrix<double> b(a);
    b(0, 0) = 9;
    EXPECT_EQ(a(0, 0), 1.0);
    ZoTMatrix<double> c(5, 1);
    c = a;
    c(1, 1) = -1;
    EXPECT_EQ(a(1, 1), 4.0);
    EXPECT_EQ(c.rows, 2);
    ZoTMatrix<double>& alias = a;
    a = alias;
    EXPECT_EQ(a(1, 0), 3.0);
}

TEST(ZoTMatrix, TransposeOfRectangularMatrixSwapsShapeAndElements) {
    ZoTMatrix<double> m = fromRows({{1, 2, 3}, {4, 5, 6}});
    const ZoTMatrix<double> original(m);
    m.Transpose();
    ASSERT_EQ(m.rows, 3);
    ASSERT_EQ(m.cols, 2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(m(c, r), original(r, c));
}

TEST(ZoTMatrix, TransposingSquareMatrixTwiceRestoresIt) {
    ZoTMatrix<double> m = fromRows({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    ZoTMatrix<double>& asBase = m;
    asBase.Transpose();
    EXPECT_EQ(m(0, 2), 7.0);
    EXPECT_EQ(m(2, 0), 3.0);
    m.Transpose();
    EXPECT_EQ(m(0, 2), 3.0);
    EXPECT_EQ(m(1, 0), 4.0);
}

TEST(ZoTMatrix, ProductFollowsRowTimesColumn) {
    const ZoTMatrix<double> a = fromRows({{1, 2, 3}, {4, 5, 6}});
    const ZoTMatrix<double> b = fromRows({{7, 8}, {9, 10}, {11, 12}});
    const ZoTMatrix<double> p = a * b;
    ASSERT_EQ(p.rows, 2);
    ASSERT_EQ(p.cols, 2);
    EXPECT_EQ(p(0, 0), 58.0);
    EXPECT_EQ(p(0, 1), 64.0);
    EXPECT_EQ(p(1, 0), 139.0);
    EXPECT_EQ(p(1, 1), 154.0);
}

TEST(ZoTMatrix, NormInfIsLargestAbsoluteRowSum) {
    EXPECT_EQ(fromRows({{1, -2}, {-3, 0.5}}).NormInf(), 3.5);
    EXPECT_EQ(ZoTMatrix<double>().NormInf(), 0.0);
    EXPECT_EQ(fromRows({{1, 2}}).Row(0)[1], 2.0);
}

TEST(ZoTMatrix, InvertMatchesIdentityForRandomWellConditionedMatrices) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int trial = 0; trial < 20; ++trial) {
        const int n = 1 + trial % 6;
        ZoTMatrix<double> a(n);
        for (int i = 0; i < n * n; ++i)
            a.data[i] = uniform(rng);
        for (int i = 0; i < n; ++i)
            a(i, i) += (trial % 2 ? -1.0 : 1.0) * n;  // keep it away from singular
        ZoTMatrix<double> inverse(a);
        ASSERT_TRUE(inverse.Invert()) << "trial " << trial;
        const ZoTMatrix<double> product = a * inverse;
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                EXPECT_NEAR(product(r, c), r == c ? 1.0 : 0.0, 1e-12) << "trial " << trial;
    }
}

TEST(ZoTMatrix, InvertNeedsRowPivotingForZeroLeadingEntry) {
    ZoTMatrix<double> a = fromRows({{0, 1}, {2, 0}});
    ASSERT_TRUE(a.Invert());
    EXPECT_EQ(a(0, 0), 0.0);
    EXPECT_EQ(a(0, 1), 0.5);
    EXPECT_EQ(a(1, 0), 1.0);
    EXPECT_EQ(a(1, 1), 0.0);
}

TEST(ZoTMatrix, InvertOfSingularMatrixFailsAndLeavesItUnchanged) {
    ZoTMatrix<double> zeroColumn = fromRows({{1, 0, 2}, {3, 0, 4}, {5, 0, 6}});
    const ZoTMatrix<double> before(zeroColumn);
    EXPECT_FALSE(zeroColumn.Invert());
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(zeroColumn.data[i], before.data[i]);
    ZoTMatrix<double> rectangular(2, 3);
    EXPECT_FALSE(rectangular.Invert());
}

TEST(ZoTVector, NormAndDot) {
    const ZoTVector<double> v = vectorOf({3, 4});
    EXPECT_EQ(v.Norm(), 5.0);
    EXPECT_EQ(v.Dot(vectorOf({2, -1})), 2.0);
    EXPECT_EQ(ZoTVector<double>().Norm(), 0.0);
}

TEST(ZoTVector, MedianOfOddEvenAndEmptyVectors) {
    EXPECT_EQ(vectorOf({3, 1, 2}).Median(), 2.0);
    EXPECT_EQ(vectorOf({4, 1, 3, 2}).Median(), 2.5);
    EXPECT_TRUE(std::isnan(ZoTVector<double>().Median()));
    const ZoTVector<double> unsorted = vectorOf({5, -1, 7, 0});
    EXPECT_EQ(unsorted.Median(), 2.5);
    EXPECT_EQ(unsorted[0], 5.0);  // the vector itself is not reordered
    EXPECT_EQ(unsorted[3], 0.0);
}

TEST(ZoTVector, MedianAgreesWithSortingForRandomVectors) {
    std::mt19937_64 rng(47110518);
    std::uniform_real_distribution<double> uniform(-10.0, 10.0);
    for (int n = 1; n < 30; ++n) {
        ZoTVector<double> v(n);
        std::vector<double> sorted(n);
        for (int i = 0; i < n; ++i)
            sorted[i] = v[i] = uniform(rng);
        std::sort(sorted.begin(), sorted.end());
        const double expected = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) * 0.5;
        EXPECT_EQ(v.Median(), expected) << "n = " << n;
    }
}

TEST(ZoTVector, ResizeKeepsContentOnlyForSameSize) {
    ZoTVector<double> v = vectorOf({1, 2});
    v.Resize(2);
    EXPECT_EQ(v[1], 2.0);
    v.Resize(3);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
}

TEST(ZoCPMatrix, FreshPermutationMarksEveryColumnAsLeading) {
    const ZoCPMatrix p(4);
    ASSERT_EQ(p.order.size, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p.order[i], 1);
}

TEST(ZoDebugPrint, CollectsFragmentsUntilLineFeed) {
    ScopedLogCapture capture;
    ZoDebugPrint("a=%d", 1);
    ZoDebugPrint(", b=%s", "x");
    EXPECT_TRUE(winLogLines(capture).empty());
    ZoDebugPrint(";\nrest");
    ASSERT_EQ(winLogLines(capture).size(), 1u);
    EXPECT_EQ(winLogLines(capture)[0], L"a=1, b=x;\nrest");
    EXPECT_EQ(ZoDebugPrintBuffer().Pending(), "");
}

TEST(ZoDebugPrint, KeepsLinesWholeUnderConcurrentWriters) {
    ScopedLogCapture capture;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                ZoDebugPrint("writer %d line %d\n", t, i);
        });
    for (auto& w : writers)
        w.join();
    const auto lines = winLogLines(capture);
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& line : lines)
        EXPECT_EQ(line.find(L'\n'), line.size() - 1) << std::string(line.begin(), line.end());
}

TEST(ZoTVector, PrintShowsAtMostTenElementsEachWithComma) {
    ScopedLogCapture capture;
    ZoTVector<double> v(12);
    for (int i = 0; i < 12; ++i)
        v[i] = i + 0.5;
    v.Print();
    const auto lines = winLogLines(capture);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"12-vector:\n");
    EXPECT_EQ(lines[1], L"\t0.5,\t1.5,\t2.5,\t3.5,\t4.5,\t5.5,\t6.5,\t7.5,\t8.5,\t9.5,\n");
}

TEST(ZoTVector, PrintEndsCompleteVectorWithSemicolonAndPrintsIntegersAsIntegers) {
    ScopedLogCapture capture;
    ZoTVector<int> v(3);
    v[0] = 1;
    v[1] = -2;
    v[2] = 30;
    v.Print();
    const auto lines = winLogLines(capture);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"3-vector:\n");
    EXPECT_EQ(lines[1], L"\t1,\t-2,\t30;\n");
}

TEST(ZoTMatrix, PrintWritesHeaderAndOneLinePerRowTruncatedAtTen) {
    ScopedLogCapture capture;
    ZoTMatrix<float> m(12, 2);
    for (int r = 0; r < 12; ++r) {
        m(r, 0) = static_cast<float>(r);
        m(r, 1) = 0.25f;
    }
    m.Print();
    const auto lines = winLogLines(capture);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], L"12 x 2-matrix:\n");
    EXPECT_EQ(lines[1], L"\t0,\t0.25;\n");
    EXPECT_EQ(lines[10], L"\t9,\t0.25;\n");

    capture.Sink().Clear();
    ZoTMatrix<double> wide(1, 11);
    wide.Print();
    const auto wideLines = winLogLines(capture);
    ASSERT_EQ(wideLines.size(), 2u);
    std::wstring expected;
    for (int c = 0; c < 10; ++c)
        expected += L"\t0,";
    EXPECT_EQ(wideLines[1], expected + L"\n");
}
