// Dense matrix and vector containers and the line-buffered debug print.
#include "NumericsTestSupport.h"
#include "ZoDebugPrint.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;
using Lines = std::vector<std::string>;

// A zero leading entry needs row swaps; singular and rectangular matrices are refused unchanged;
// self-assignment is harmless; no element count beyond int.
TEST(ZoTMatrix, InvertPivotsRowsLeavesSingularMatricesUnchangedAndSizeIsBounded) {
    const Rows singular = {{1, 0, 2}, {3, 0, 4}, {5, 0, 6}};
    Mat swap = fromRows({{0, 1, 1}, {1, 0, 1}, {1, 1, 0}}), zeroColumn = fromRows(singular),
        rectangular(2, 3);
    Mat& alias = swap;
    ASSERT_TRUE(swap.Invert());
    swap = alias;
    EXPECT_LT(maxDifference(swap, fromRows({{-0.5, 0.5, 0.5}, {0.5, -0.5, 0.5}, {0.5, 0.5, -0.5}})), 1e-15);
    EXPECT_FALSE(zeroColumn.Invert() || rectangular.Invert());
    EXPECT_EQ(maxDifference(zeroColumn, fromRows(singular)), 0.0);
    EXPECT_THROW(Mat(50000, 50000), std::length_error);
}

// MaxAbs is NaN when any entry is; the median leaves an unsorted vector unsorted.
TEST(ZoTVector, MaxAbsKeepsNaNAndMedianLeavesTheVectorUnsorted) {
    const Vec unsorted = vectorOf({5, -1, 7, 0});
    EXPECT_EQ(
        Reals({vectorOf({3, -4}).MaxAbs(), unsorted.Median(), unsorted[0], vectorOf({4, -2, 9}).Median()}),
        Reals({4, 2.5, 5, 4}));
    EXPECT_TRUE(std::isnan(vectorOf({NAN, 1}).MaxAbs()) && std::isnan(vectorOf({1, NAN}).MaxAbs()) &&
                std::isnan(Vec().Median()));
}

// Fragments are collected until a line feed, then logged whole, also under concurrent writers.
TEST(ZoDebugPrint, CollectsFragmentsUntilLineFeedAlsoUnderConcurrentWriters) {
    ScopedLogCapture capture;
    ZoDebugPrint("a=%d", 1);
    ZoDebugPrint(", b=%s", "x");
    EXPECT_TRUE(logLines(capture).empty());
    ZoDebugPrint(";\nrest");
    EXPECT_EQ(logLines(capture), Lines{"a=1, b=x;\nrest"});
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                ZoDebugPrint("writer %d line %d\n", t, i);
        });
    writers.clear();  // joins them
    const Lines lines = logLines(capture);
    ASSERT_EQ(lines.size(), 801u);
    EXPECT_THAT(Lines(lines.begin() + 1, lines.end()),
                testing::Each(testing::MatchesRegex("writer [0-3] line [0-9]+\n")));
}
