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
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::maxDifference;
using testsupport::vectorOf;

std::vector<std::wstring> winLogLines(ScopedLogCapture& capture) {
    return capture.Sink().Messages("ZoCWinLog");
}

}  // namespace

TEST(ZoTMatrix, ShapesStorageCopiesAndResize) {
    ZoTMatrix<double> m(2, 3);
    m(1, 2) = 7.0;
    EXPECT_EQ(m.data[2 * 2 + 1], 7.0);  // column by column
    const ZoTMatrix<double> square(3), id = ZoTMatrix<double>::Identity(2, 3);
    EXPECT_EQ(square.cols, 3);
    EXPECT_EQ(std::count(square.data, square.data + 9, 0.0), 9);
    EXPECT_EQ(ZoTMatrix<double>(0, 4).data, nullptr);
    EXPECT_EQ(maxDifference(id, fromRows({{1, 0, 0}, {0, 1, 0}})), 0.0);
    EXPECT_EQ(ZoTMatrix<double>::Identity(3).cols, 3);
    ZoTMatrix<double> a = fromRows({{1, 2}, {3, 4}}), b(a), c(5, 1);
    b(0, 0) = 9;
    c = a;
    c(1, 1) = -1;
    EXPECT_EQ(a(0, 0), 1.0);
    EXPECT_EQ(a(1, 1), 4.0);
    ZoTMatrix<double>& alias = a;
    a = alias;
    a.Resize(2, 2);
    EXPECT_EQ(a(1, 0), 3.0);
    a.Resize(1, 4);
    EXPECT_EQ(a.NormInf(), 0.0);
    // Element access computes c * rows + r in int: larger matrices are refused.
    EXPECT_THROW(ZoTMatrix<double>(50000, 50000), std::length_error);
}

TEST(ZoTMatrix, TransposeProductNormAndRows) {
    ZoTMatrix<double> m = fromRows({{1, 2, 3}, {4, 5, 6}});
    ZoTMatrix<double>& asBase = m;
    asBase.Transpose();
    EXPECT_EQ(maxDifference(m, fromRows({{1, 4}, {2, 5}, {3, 6}})), 0.0);
    ZoTMatrix<double> sq = fromRows({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    sq.Transpose();
    EXPECT_EQ(maxDifference(sq, fromRows({{1, 4, 7}, {2, 5, 8}, {3, 6, 9}})), 0.0);
    const ZoTMatrix<double> p = fromRows({{1, 2, 3}, {4, 5, 6}}) * fromRows({{7, 8}, {9, 10}, {11, 12}});
    EXPECT_EQ(maxDifference(p, fromRows({{58, 64}, {139, 154}})), 0.0);
    EXPECT_EQ(fromRows({{1, -2}, {-3, 0.5}}).NormInf(), 3.5);
    EXPECT_EQ(ZoTMatrix<double>().NormInf(), 0.0);
    EXPECT_EQ(fromRows({{1, 2}}).Row(0)[1], 2.0);
}

TEST(ZoTMatrix, InvertPivotsRowsAndLeavesSingularMatricesUnchanged) {
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
        EXPECT_LT(maxDifference(a * inverse, ZoTMatrix<double>::Identity(n)), 1e-12) << "trial " << trial;
    }
    ZoTMatrix<double> swap = fromRows({{0, 1}, {2, 0}});
    ASSERT_TRUE(swap.Invert());
    EXPECT_EQ(maxDifference(swap, fromRows({{0, 0.5}, {1, 0}})), 0.0);
    ZoTMatrix<double> zeroColumn = fromRows({{1, 0, 2}, {3, 0, 4}, {5, 0, 6}}), rectangular(2, 3);
    const ZoTMatrix<double> before(zeroColumn);
    EXPECT_FALSE(zeroColumn.Invert());
    EXPECT_EQ(maxDifference(zeroColumn, before), 0.0);
    EXPECT_FALSE(rectangular.Invert());
}

TEST(ZoTVector, NormDotMaxAbsMedianAndResize) {
    const ZoTVector<double> v = vectorOf({3, -4});
    EXPECT_EQ(v.Norm(), 5.0);
    EXPECT_EQ(v.Dot(vectorOf({2, 1})), 2.0);
    EXPECT_EQ(v.MaxAbs(), 4.0);
    EXPECT_EQ(ZoTVector<double>().Norm(), 0.0);
    // A NaN anywhere makes MaxAbs NaN, so "all entries small" cannot pass on garbage.
    EXPECT_TRUE(std::isnan(vectorOf({std::nan(""), 1}).MaxAbs()));
    EXPECT_TRUE(std::isnan(vectorOf({1, std::nan("")}).MaxAbs()));
    EXPECT_TRUE(std::isnan(ZoTVector<double>().Median()));
    const ZoTVector<double> unsorted = vectorOf({5, -1, 7, 0});
    EXPECT_EQ(unsorted.Median(), 2.5);
    EXPECT_EQ(unsorted[0], 5.0);  // the vector itself is not reordered
    std::mt19937_64 rng(47110518);
    std::uniform_real_distribution<double> uniform(-10.0, 10.0);
    for (int n = 1; n < 30; ++n) {
        ZoTVector<double> r(n);
        std::vector<double> sorted(n);
        for (int i = 0; i < n; ++i)
            sorted[i] = r[i] = uniform(rng);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(r.Median(), n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) * 0.5) << n;
    }
    ZoTVector<double> w = vectorOf({1, 2});
    w.Resize(2);
    EXPECT_EQ(w[1], 2.0);
    w.Resize(3);
    EXPECT_EQ(w.Norm(), 0.0);
    const ZoCPMatrix p(4);
    EXPECT_EQ(std::count(p.order.data, p.order.data + 4, 1), 4);  // every column leading
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

// Vectors and matrices print at most ten elements per line; a complete vector ends with ';'.
TEST(ZoTMatrix, PrintWritesHeaderAndLinesTruncatedAtTen) {
    ScopedLogCapture capture;
    ZoTVector<double> v(12);
    ZoTMatrix<float> m(12, 2);
    for (int i = 0; i < 12; ++i) {
        v[i] = i + 0.5;
        m(i, 0) = static_cast<float>(i);
        m(i, 1) = 0.25f;
    }
    v.Print();
    ZoTVector<int> ints(3);
    ints[0] = 1, ints[1] = -2, ints[2] = 30;
    ints.Print();
    m.Print();
    ZoTMatrix<double>(1, 11).Print();
    const auto lines = winLogLines(capture);
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], L"12-vector:\n");
    EXPECT_EQ(lines[1], L"\t0.5,\t1.5,\t2.5,\t3.5,\t4.5,\t5.5,\t6.5,\t7.5,\t8.5,\t9.5,\n");
    EXPECT_EQ(lines[2], L"3-vector:\n");
    EXPECT_EQ(lines[3], L"\t1,\t-2,\t30;\n");
    EXPECT_EQ(lines[4], L"12 x 2-matrix:\n");
    EXPECT_EQ(lines[5], L"\t0,\t0.25;\n");
    EXPECT_EQ(lines[14], L"\t9,\t0.25;\n");
    EXPECT_EQ(lines[15], L"1 x 11-matrix:\n");
    EXPECT_EQ(lines[16], L"\t0,\t0,\t0,\t0,\t0,\t0,\t0,\t0,\t0,\t0,\n");
}
