// Calibration sequences: the default table, random sequences inside the working volume, their
// travel order, and D-optimal subsets with the bounds of their search.
#include "CalibrationTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoCOrbal2AxisCalibration.h"
#include "ZoCOrbal2AxisCalibrationObjFunction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Access = ZoCOrbal2AxisCalibrationObjFunctionTestAccess;
using calibtest::VectorOf;

ZoTMatrix<double> matrixOfRows(const std::vector<std::vector<double>>& rows) {
    ZoTMatrix<double> m(static_cast<int>(rows.size()), 5);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < 5; ++c)
            m(r, c) = rows[static_cast<size_t>(r)][static_cast<size_t>(c)];
    return m;
}

std::vector<std::vector<double>> rowsOf(const ZoTMatrix<double>& m) {
    std::vector<std::vector<double>> rows;
    for (int r = 0; r < m.rows; ++r) {
        const ZoTVector<double> row = m.Row(r);
        rows.emplace_back(row.data, row.data + row.size);
    }
    return rows;
}

ZoTMatrix<double> defaultSequenceMatrix() {
    std::vector<std::vector<double>> rows;
    for (const auto& entry : ZoCOrbal2AxisCalibration::c_defaultCalibrationSequence)
        rows.emplace_back(entry.values, entry.values + 5);
    return matrixOfRows(rows);
}

// The travel measure of the ordering: angles of joints 2, 3 and 5 on the circle.
double jointDistance(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0;
    for (size_t k = 0; k < 5; ++k) {
        double delta = std::abs(a[k] - b[k]);
        if (k == 1 || k == 2 || k == 4) {
            delta = std::fmod(delta, 360.0);
            delta = std::min(delta, 360.0 - delta);
        }
        sum += delta * delta;
    }
    return std::sqrt(sum);
}

double pathLength(const std::vector<std::vector<double>>& rows) {
    double length = 0;
    for (size_t i = 1; i < rows.size(); ++i)
        length += jointDistance(rows[i - 1], rows[i]);
    return length;
}

// The rows of the design search's linearised model: one Jacobian row per candidate at the
// home-position parameters, the candidates' responses simulated by the simulation table.
ZoTMatrix<double> designRows(const ZoTMatrix<double>& candidates) {
    Objective objective;
    Access::setErrorsPerSample(objective, 1);
    const ZoTVector<double> home = VectorOf({0, 90, 90, 0, 0});
    objective.AddInputResponseSample(home, objective.BuildTrafo(Objective::m_simulationJointParams, home));
    for (int r = 0; r < candidates.rows; ++r)
        objective.AddInputResponseSample(
            candidates.Row(r), objective.BuildTrafo(Objective::m_simulationJointParams, candidates.Row(r)));
    const ZoTVector<double> params = objective.GetDefaultHomePositionParameters();
    const ZoTVector<int>& free = objective.GetFreeVariablesIndices();
    ZoTVector<double> z(free.size);
    for (int j = 0; j < z.size; ++j)
        z[j] = params[free[j]];
    return objective.Jacobian(z);
}

// det(sum of x x^T over the chosen rows) by Gaussian elimination with partial pivoting.
double informationDeterminant(const ZoTMatrix<double>& rows, const std::vector<int>& chosen) {
    const int k = rows.cols;
    std::vector<std::vector<double>> M(static_cast<size_t>(k),
                                       std::vector<double>(static_cast<size_t>(k), 0.0));
    for (int i : chosen)
        for (int a = 0; a < k; ++a)
            for (int b = 0; b < k; ++b)
                M[static_cast<size_t>(a)][static_cast<size_t>(b)] += rows(i, a) * rows(i, b);
    double det = 1.0;
    for (size_t c = 0; c < M.size(); ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < M.size(); ++r)
            if (std::abs(M[r][c]) > std::abs(M[pivot][c]))
                pivot = r;
        if (M[pivot][c] == 0.0)
            return 0.0;
        if (pivot != c) {
            std::swap(M[pivot], M[c]);
            det = -det;
        }
        det *= M[c][c];
        for (size_t r = c + 1; r < M.size(); ++r) {
            const double f = M[r][c] / M[c][c];
            for (size_t j = c; j < M.size(); ++j)
                M[r][j] -= f * M[c][j];
        }
    }
    return det;
}

// No reversal of a stretch of the open path (an exchange of two edges) shortens it.
void expectTwoOptOptimum(const std::vector<std::vector<double>>& path) {
    const double length = pathLength(path);
    for (size_t i = 0; i < path.size(); ++i)
        for (size_t j = i + 2; j <= path.size(); ++j) {
            std::vector<std::vector<double>> candidate = path;
            std::reverse(candidate.begin() + static_cast<long>(i), candidate.begin() + static_cast<long>(j));
            EXPECT_GE(pathLength(candidate), length - 1e-9) << i << " " << j;
        }
}

std::vector<int> indicesOf(const ZoTVector<int>& v) {
    return std::vector<int>(v.data, v.data + v.size);
}

std::vector<std::string> designLogLines(ScopedLogCapture& capture) {
    std::vector<std::string> lines;
    for (const std::string& line : calibtest::Narrow(capture.Sink().Messages("ZoCWinLog")))
        if (line.rfind("(CALIB OED)", 0) == 0 || line.rfind("(NLS OED)", 0) == 0)
            lines.push_back(line);
    return lines;
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// Default sequence

TEST(ZoCOrbal2AxisCalibration, DefaultSequenceHasTwentySixEntries) {
    const ZoCOrbal2AxisCalibration calibration;
    int count = 0;
    const auto entries = calibration.GetDefaultCalibrationSequence(count);
    ASSERT_EQ(count, 26);
    EXPECT_EQ(std::vector<float>(entries[0].values, entries[0].values + 5),
              std::vector<float>({0, 85, 20, -16, 290}));
    // Every entry through two checksums per joint: the plain sum and the sum weighted by the
    // entry's number (1..26), taken from the device's calibration table.
    const double sums[5] = {-73, 2198, 2187, -259, 4396}, weighted[5] = {-1013, 30378, 31139, -3536, 50038};
    for (int j = 0; j < 5; ++j) {
        double sum = 0, weightedSum = 0;
        for (int i = 0; i < 26; ++i) {
            sum += entries[i].values[j];
            weightedSum += (i + 1) * entries[i].values[j];
        }
        EXPECT_EQ(sum, sums[j]) << "joint " << j + 1;
        EXPECT_EQ(weightedSum, weighted[j]) << "joint " << j + 1;
    }
    // A longer request keeps its count; the entries beyond the table are zero.
    int longer = 28;
    const auto padded = calibration.GetDefaultCalibrationSequence(longer);
    EXPECT_EQ(longer, 28);
    EXPECT_EQ(padded[25].values[3], -20.0f);
    EXPECT_EQ(padded[27].values[4], 0.0f);
}

TEST(ZoCOrbal2AxisCalibration, DefaultSequenceBecomesFlaggedRequests) {
    const ZoCOrbal2AxisCalibration calibration;
    ZoCOrbal2AxisChain::CJointPositionSequence sequence;
    sequence.Add(ZoCOrbal2AxisChain::NSConfigurationRequest{});
    calibration.GetDefaultCalibrationSequence(sequence);
    ASSERT_EQ(sequence.GetCount(), 26);
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(sequence[i].m_byFlag, 1);
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(sequence[i].m_config[j],
                      ZoCOrbal2AxisCalibration::c_defaultCalibrationSequence[i].values[j]);
        EXPECT_EQ(sequence[i].m_config[5], 0.0f);
    }
}

// -----------------------------------------------------------------------------------------------
// Travel order

// Disc angles 0, 180 and 350: 350 lies 10 degrees from 0, so the shortest path is 0, 350, 180
// (10 + 170 degrees); read without the circle it would be 0, 180, 350.
TEST(ZoCOrbal2AxisCalibrationObjFunction, SortingMeasuresAnglesOnTheCircle) {
    ZoTMatrix<double> rows = matrixOfRows({{0, 90, 90, 0, 0}, {0, 90, 90, 0, 180}, {0, 90, 90, 0, 350}});
    Objective::SortRequests(rows);
    EXPECT_EQ(rows(1, 4), 350.0);
    EXPECT_EQ(std::abs(rows(0, 4) - rows(2, 4)), 180.0);
    // Fewer than two rows are left alone.
    ZoTMatrix<double> empty(0, 5), one = matrixOfRows({{1, 2, 3, 4, 5}});
    Objective::SortRequests(empty);
    Objective::SortRequests(one);
    EXPECT_EQ(empty.rows, 0);
    EXPECT_EQ(rowsOf(one), (std::vector<std::vector<double>>{{1, 2, 3, 4, 5}}));
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, SortingPutsPositionsAlongALineInOrder) {
    std::vector<std::vector<double>> input;
    for (double x : {40, 10, 90, 0, 70, 20, 60, 30, 80, 50})
        input.push_back({x, 90, 90, 0, 0});
    ZoTMatrix<double> rows = matrixOfRows(input);
    Objective::SortRequests(rows);
    const double direction = rows(1, 0) > rows(0, 0) ? 1.0 : -1.0;
    for (int r = 1; r < rows.rows; ++r)
        EXPECT_EQ(rows(r, 0) - rows(r - 1, 0), direction * 10.0) << r;
}

// The default sequence holds a move of the 2-opt whose end nodes coincide; sorting must still
// end, keep every row, repeat itself and leave no improving exchange of two edges.
TEST(ZoCOrbal2AxisCalibrationObjFunction, SortingTheDefaultSequenceEndsInATwoOptOptimum) {
    const ZoTMatrix<double> original = defaultSequenceMatrix();
    ZoTMatrix<double> sorted = original;
    Objective::SortRequests(sorted);
    std::vector<std::vector<double>> before = rowsOf(original), after = rowsOf(sorted);
    EXPECT_LT(pathLength(after), pathLength(before));
    ZoTMatrix<double> again = original;
    Objective::SortRequests(again);
    EXPECT_EQ(rowsOf(again), after);
    std::sort(before.begin(), before.end());
    std::vector<std::vector<double>> afterSorted = after;
    std::sort(afterSorted.begin(), afterSorted.end());
    EXPECT_EQ(before, afterSorted);
    expectTwoOptOptimum(after);
    // Random configurations: the exchanges that start at the tour's first node count too.
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int instance = 0; instance < 30; ++instance) {
        ZoTMatrix<double> rows(9, 5);
        for (int r = 0; r < 9; ++r)
            for (int c = 0; c < 5; ++c)
                rows(r, c) = (c == 4 ? 360.0 : 120.0) * unit(rng);
        Objective::SortRequests(rows);
        SCOPED_TRACE(instance);
        expectTwoOptOptimum(rowsOf(rows));
    }
}

// -----------------------------------------------------------------------------------------------
// Random sequences

// Each configuration keeps the disc's reference point (22, 12, -1.5) mm in the hollow cylinder
// of radii 31.5 and 38.5 mm about the vertical through (22, 12), between z = -10 and 7 mm;
// checked with the reference device's kinematics.
TEST(ZoCOrbal2AxisCalibrationObjFunction, RandomSequenceStaysInTheWorkingVolume) {
    ScopedLogCapture capture;
    Objective objective;
    const ZoTMatrix<double> requests = objective.GenerateRandomCalibrationSequence(25);
    ASSERT_EQ(requests.rows, 25);
    const ZoCOrbal2AxisChain device;
    for (int r = 0; r < requests.rows; ++r) {
        SCOPED_TRACE(r);
        float joints[5];
        for (int j = 0; j < 5; ++j) {
            const auto& table = Objective::m_defaultJointParams[j];
            EXPECT_GE(requests(r, j), table.minValue);
            EXPECT_LE(requests(r, j), table.maxValue);
            joints[j] = static_cast<float>(requests(r, j));
        }
        const CbMatrix4Rf trafo =
            device.GetCamToDiscTransformation(ZoCOrbal2AxisChain::NCJointConfiguration(joints), true);
        const CbVector3f p = trafo.TransformPoint(CbVector3f{880.0f, 480.0f, -60.0f});
        const double radius = std::hypot(p.x - 880.0, p.y - 480.0);
        EXPECT_GE(radius, 1260.0 - 0.1);
        EXPECT_LE(radius, 1540.0 + 0.1);
        EXPECT_GE(p.z, -400.0 - 0.1);
        EXPECT_LE(p.z, 280.0 + 0.1);
    }
    int points = 0;
    for (const std::string& line : calibtest::Narrow(capture.Sink().Messages("ZoCWinLog")))
        points += line == "3-vector:\n" ? 1 : 0;
    EXPECT_EQ(points, 25);
}

// A sequence of nothing only announces itself.
TEST(ZoCOrbal2AxisCalibrationObjFunction, RandomSequenceRepeatsAndComesOrderedForTravel) {
    ScopedLogCapture capture;
    Objective objective;
    const ZoTMatrix<double> none = objective.GenerateRandomCalibrationSequence(0);
    EXPECT_EQ(none.rows, 0);
    EXPECT_EQ(none.cols, 5);
    EXPECT_EQ(calibtest::Narrow(capture.Sink().Messages("ZoCWinLog")),
              (std::vector<std::string>{"(CALIB OED) Generating 0 random samples\n"}));
    const ZoTMatrix<double> first = objective.GenerateRandomCalibrationSequence(12);
    const ZoTMatrix<double> second = objective.GenerateRandomCalibrationSequence(12);
    EXPECT_EQ(rowsOf(first), rowsOf(second));
    expectTwoOptOptimum(rowsOf(first));
    // A shorter sequence is the same draws, fewer of them.
    const ZoTMatrix<double> shorter = objective.GenerateRandomCalibrationSequence(6);
    std::vector<std::vector<double>> shortRows = rowsOf(shorter), longRows = rowsOf(first);
    for (const auto& row : shortRows)
        EXPECT_NE(std::find(longRows.begin(), longRows.end(), row), longRows.end());
}

// -----------------------------------------------------------------------------------------------
// D-optimal design

// Forty random configurations, drawn once for the suite.
class ZoCOrbal2AxisCalibrationObjFunctionDesign : public ::testing::Test {
  protected:
    const ZoTMatrix<double>& candidates() {
        static const ZoTMatrix<double> drawn = [] {
            ScopedLogCapture quiet;
            return Objective().GenerateRandomCalibrationSequence(40);
        }();
        return drawn;
    }
};

// Fedorov's exchange stops when no exchange of a design row for a candidate raises the
// determinant by the factor 1 + 1e-5; the reported best determinant is the design's. The design
// is distinct ascending candidate indices, the same on a second search.
TEST_F(ZoCOrbal2AxisCalibrationObjFunctionDesign, NoSingleExchangeImprovesTheDesign) {
    ScopedLogCapture capture;
    Objective objective;
    const std::vector<int> design = indicesOf(objective.OptimizeCalibrationSequence(candidates(), 4, 15));
    ASSERT_EQ(design.size(), 15u);
    EXPECT_TRUE(std::is_sorted(design.begin(), design.end()));
    EXPECT_EQ(std::adjacent_find(design.begin(), design.end()), design.end());
    EXPECT_GE(design.front(), 0);
    EXPECT_LT(design.back(), 40);
    const ZoTMatrix<double> rows = designRows(candidates());
    const double det = informationDeterminant(rows, design);
    ASSERT_GT(det, 0.0);
    for (int out = 0; out < 40; ++out) {
        if (std::binary_search(design.begin(), design.end(), out))
            continue;
        for (size_t in = 0; in < design.size(); ++in) {
            std::vector<int> exchanged = design;
            exchanged[in] = out;
            EXPECT_LT(informationDeterminant(rows, exchanged), det * (1 + 1e-5) * (1 + 1e-9));
        }
    }
    const std::vector<std::string> lines = designLogLines(capture);
    ASSERT_GE(lines.size(), 3u);
    double best = 0.0, criterion = 0.0;
    ASSERT_EQ(std::sscanf(lines[lines.size() - 2].c_str(), "(NLS OED) det best=%lg", &best), 1);
    ASSERT_EQ(std::sscanf(lines.back().c_str(), "(CALIB OED) D-criterion value for optimal design: %lg",
                          &criterion),
              1);
    EXPECT_NEAR(best, det, 1e-5 * det);  // %g keeps six digits
    EXPECT_EQ(best, criterion);
    // Random subsets of the same size carry less information.
    std::mt19937_64 rng(99);
    std::vector<int> all(40);
    std::iota(all.begin(), all.end(), 0);
    for (int trial = 0; trial < 20; ++trial) {
        std::shuffle(all.begin(), all.end(), rng);
        EXPECT_LT(informationDeterminant(rows, std::vector<int>(all.begin(), all.begin() + 15)), det);
    }
    EXPECT_EQ(indicesOf(objective.OptimizeCalibrationSequence(candidates(), 4, 15)), design);
}

TEST_F(ZoCOrbal2AxisCalibrationObjFunctionDesign, CountsOnlyRunsThatExchangeAndLogsEach) {
    ScopedLogCapture capture;
    Objective objective;
    objective.OptimizeCalibrationSequence(candidates(), 3, 20);
    const std::vector<std::string> lines = designLogLines(capture);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "(CALIB OED) Starting search for D-optimal design...\n");
    for (int i = 1; i <= 3; ++i) {
        int exchanges = 0;
        double start = 0, stop = 0;
        ASSERT_EQ(std::sscanf(lines[static_cast<size_t>(i)].c_str(),
                              "(NLS OED) #iters=%d: det start=%lg, det stop=%lg", &exchanges, &start, &stop),
                  3)
            << lines[static_cast<size_t>(i)];
        EXPECT_GE(exchanges, 1);
        EXPECT_GT(stop, start);
    }
    EXPECT_EQ(lines[4].rfind("(NLS OED) det best=", 0), 0u);
}

// The search borrows the objective: afterwards it holds its samples again, measures twelve
// residuals per sample and counts one measurement per candidate.
TEST_F(ZoCOrbal2AxisCalibrationObjFunctionDesign, RestoresTheObjectivesSamples) {
    ScopedLogCapture capture;
    Objective objective;
    const ZoTVector<double> q0 = VectorOf({0, 85, 20, -16, 290}), q1 = VectorOf({1, 88, 91, -13, 139});
    objective.AddInputResponseSample(q0, objective.BuildTrafoWithDefaultParams(q0));
    objective.AddInputResponseSample(q1, objective.BuildTrafoWithDefaultParams(q1));
    const ZoTMatrix<double> reference = Access::referenceInverse(objective);
    objective.OptimizeCalibrationSequence(candidates(), 2, 14);
    ASSERT_EQ(objective.GetNumSamples(), 2);
    EXPECT_EQ(objective.GetSamples()[1].input[4], 139.0);
    EXPECT_EQ(objective.GetErrorsPerSample(), 12);
    EXPECT_EQ(objective.GetNumMeasurements(), 40);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(Access::referenceInverse(objective).data[i], reference.data[i]);
}

// Subsets that the search cannot work on are answered at once: all candidates for a subset as
// large as the candidates, none for one smaller than the twelve free parameters, none when no
// start is positive definite (identical candidates), none for no starts.
TEST_F(ZoCOrbal2AxisCalibrationObjFunctionDesign, BoundsTheSearchWhereNoRunCanBeCounted) {
    ScopedLogCapture capture;
    Objective objective;
    std::vector<int> all(40);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(indicesOf(objective.OptimizeCalibrationSequence(candidates(), 10, 40)), all);
    EXPECT_EQ(indicesOf(objective.OptimizeCalibrationSequence(candidates(), 10, 55)), all);
    EXPECT_TRUE(indicesOf(objective.OptimizeCalibrationSequence(candidates(), 10, 11)).empty());
    EXPECT_TRUE(indicesOf(objective.OptimizeCalibrationSequence(candidates(), 10, -3)).empty());
    EXPECT_TRUE(indicesOf(objective.OptimizeCalibrationSequence(candidates(), 0, 15)).empty());
    const ZoTMatrix<double> identical =
        matrixOfRows(std::vector<std::vector<double>>(30, {3, 70, 80, -5, 40}));
    EXPECT_TRUE(indicesOf(objective.OptimizeCalibrationSequence(identical, 10, 15)).empty());
    EXPECT_TRUE(indicesOf(objective.OptimizeCalibrationSequence(ZoTMatrix<double>(0, 5), 10, 15)).empty());
}
