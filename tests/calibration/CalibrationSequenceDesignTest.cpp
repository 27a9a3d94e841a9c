// Calibration sequences: the default table, random sequences, their travel order, D-optimal subsets.
#include "CalibrationTestSupport.h"

namespace {

using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Access = ZoCOrbal2AxisCalibrationObjFunctionTestAccess;
using Rows = std::vector<std::vector<double>>;

ZoTMatrix<double> matrixOfRows(const Rows& rows) {
    ZoTMatrix<double> m(static_cast<int>(rows.size()), 5);
    for (size_t i = 0; i < 5 * rows.size(); ++i)
        m(static_cast<int>(i / 5), static_cast<int>(i % 5)) = rows[i / 5][i % 5];
    return m;
}

Rows rowsOf(const ZoTMatrix<double>& m) {
    Rows rows;
    for (int r = 0; r < m.rows; ++r)
        rows.push_back(calibtest::Entries(m.Row(r)));
    return rows;
}

// The open path's travel: joints 2, 3 and 5 are angles on the circle.
double pathLength(const Rows& rows) {
    double length = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        double sum = 0;
        for (size_t k = 0; k < 5; ++k) {
            const double delta = std::fmod(std::abs(rows[i][k] - rows[i - 1][k]), 360.0);
            sum += std::pow(
                k == 1 || k == 2 || k == 4 ? std::min(delta, 360.0 - delta) : rows[i][k] - rows[i - 1][k], 2);
        }
        length += std::sqrt(sum);
    }
    return length;
}

// One Jacobian row per candidate at the home position, responses simulated by the simulation table.
Eigen::MatrixXd designRows(const ZoTMatrix<double>& candidates) {
    Objective objective;
    Access::setErrorsPerSample(objective, 1);
    const ZoTVector<double> home = calibtest::VectorOf({0, 90, 90, 0, 0});
    objective.AddInputResponseSample(home, objective.BuildTrafo(Objective::m_simulationJointParams, home));
    for (int r = 0; r < candidates.rows; ++r)
        objective.AddInputResponseSample(
            candidates.Row(r), objective.BuildTrafo(Objective::m_simulationJointParams, candidates.Row(r)));
    return calibtest::AsEigen(
        objective.Jacobian(calibtest::FreeOf(objective, objective.GetDefaultHomePositionParameters())));
}

// det(sum of x x^T over the chosen rows).
double informationDeterminant(const Eigen::MatrixXd& rows, const std::vector<int>& chosen) {
    const Eigen::MatrixXd X = rows(chosen, Eigen::all);
    return (X.transpose() * X).determinant();
}

}  // namespace

// Checksums per joint (plain and weighted by the entry's number); zero entries beyond the table.
TEST(ZoCOrbal2AxisCalibration, DefaultSequenceHasTwentySixFlaggedEntries) {
    const ZoCOrbal2AxisCalibration calibration;
    int count = 0;
    const auto entries = calibration.GetDefaultCalibrationSequence(count);
    ASSERT_EQ(count, 26);
    std::vector<double> sums(5), weighted(5);
    for (size_t i = 0; i < 26; ++i)
        for (size_t j = 0; j < 5; ++j)
            sums[j] += entries[i].values[j], weighted[j] += static_cast<double>(i + 1) * entries[i].values[j];
    EXPECT_EQ(sums, std::vector<double>({-73, 2198, 2187, -259, 4396}));
    EXPECT_EQ(weighted, std::vector<double>({-1013, 30378, 31139, -3536, 50038}));
    int longer = 28;
    const auto padded = calibration.GetDefaultCalibrationSequence(longer);
    EXPECT_EQ(std::make_tuple(longer, padded[25].values[3], padded[27].values[4]),
              std::make_tuple(28, -20.0f, 0.0f));
    ZoCOrbal2AxisChain::CJointPositionSequence sequence;
    sequence.Add(ZoCOrbal2AxisChain::NSConfigurationRequest{});
    calibration.GetDefaultCalibrationSequence(sequence);
    ASSERT_EQ(sequence.GetCount(), 26);
    for (int i = 0; i < 26; ++i) {
        const float* c = sequence[i].m_config.Data();
        EXPECT_TRUE(sequence[i].m_byFlag == 1 && std::equal(c, c + 5, entries[i].values) && c[5] == 0.0f)
            << i;
    }
}

// Small sets against every order (350 degrees lie 10 from 0; a first row that is a nearest neighbour).
TEST(ZoCOrbal2AxisCalibrationObjFunction, SortingFindsTheShortestPathOfSmallSets) {
    std::vector<Rows> sets = {
        {{0, 90, 90, 0, 0}, {0, 90, 90, 0, 180}, {0, 90, 90, 0, 350}}, {}, {}, {{1, 2, 3, 4, 5}}};
    sets.push_back(
        {{40, 0, 80, 100, 330}, {20, 120, 70, 60, 360}, {100, 10, 0, 50, 90}, {70, 80, 100, 70, 60}});
    for (double x : {40, 10, 90, 0, 70, 20, 60, 30, 80, 50})
        sets[1].push_back({x, 90, 90, 0, 0});
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int instance = 0; instance < 8; ++instance) {
        Rows rows(7, std::vector<double>(5));
        for (auto& row : rows)
            for (size_t c = 0; c < 5; ++c)
                row[c] = (c == 4 ? 360.0 : 120.0) * unit(rng);
        sets.push_back(rows);
    }
    for (size_t s = 0; s < sets.size(); ++s) {
        ZoTMatrix<double> m = matrixOfRows(sets[s]);
        Objective::SortRequests(m);
        const Rows sorted = rowsOf(m);
        EXPECT_TRUE(std::is_permutation(sorted.begin(), sorted.end(), sets[s].begin(), sets[s].end())) << s;
        Rows order = sets[s];  // the shortest path, by trying every order
        std::sort(order.begin(), order.end());
        double best = pathLength(order);
        while (s != 1 && std::next_permutation(order.begin(), order.end()))
            best = std::min(best, pathLength(order));
        EXPECT_LE(pathLength(sorted), (s == 1 ? 90.0 : best) + 1e-9) << s;
    }
}

// The disc's point (22, 12, -1.5) mm stays 31.5 to 38.5 mm off its vertical, z in [-10, 7] mm.
TEST(ZoCOrbal2AxisCalibrationObjFunction, RandomSequenceStaysInTheWorkingVolumeAndRepeats) {
    ScopedLogCapture quiet;
    Objective objective;
    const ZoTMatrix<double> none = objective.GenerateRandomCalibrationSequence(0);
    EXPECT_EQ(std::make_pair(none.rows, none.cols), std::make_pair(0, 5));
    const ZoTMatrix<double> requests = objective.GenerateRandomCalibrationSequence(25);
    ASSERT_EQ(requests.rows, 25);
    constexpr double c_range[5][2] = {{-169, 25}, {-60, 60}, {-104, 60}, {-23, 23}, {0, 360}};
    for (int r = 0; r < requests.rows; ++r) {
        float joints[5];
        for (int j = 0; j < 5; ++j) {
            EXPECT_TRUE(requests(r, j) >= c_range[j][0] && requests(r, j) <= c_range[j][1]) << r;
            joints[j] = static_cast<float>(requests(r, j));
        }
        const CbVector3f p =
            ZoCOrbal2AxisChain()
                .GetCamToDiscTransformation(ZoCOrbal2AxisChain::NCJointConfiguration(joints), true)
                .TransformPoint(CbVector3f{880.0f, 480.0f, -60.0f});
        const double radius = std::hypot(p.x - 880.0, p.y - 480.0);
        EXPECT_TRUE(radius > 1259.9 && radius < 1540.1 && p.z > -400.1 && p.z < 280.1) << r << " " << radius;
    }
    const Rows path = rowsOf(objective.GenerateRandomCalibrationSequence(12));
    EXPECT_EQ(rowsOf(objective.GenerateRandomCalibrationSequence(12)), path);
    for (size_t i = 0; i < path.size(); ++i)  // no reversal of a stretch (two edges exchanged) shortens it
        for (size_t j = i + 2; j <= path.size(); ++j) {
            Rows candidate = path;
            std::reverse(candidate.begin() + static_cast<long>(i), candidate.begin() + static_cast<long>(j));
            EXPECT_GE(pathLength(candidate), pathLength(path) - 1e-9) << i << " " << j;
        }
}

// Forty random configurations to choose from.
class ZoCOrbal2AxisCalibrationObjFunctionDesign : public ::testing::Test {
  protected:
    ScopedLogCapture capture;
    Objective objective;
    const ZoTMatrix<double> candidates = Objective().GenerateRandomCalibrationSequence(40);
};

// Fedorov's exchange stops when no exchange raises the determinant by the factor 1 + 1e-5.
TEST_F(ZoCOrbal2AxisCalibrationObjFunctionDesign, NoSingleExchangeImprovesTheDesign) {
    const std::vector<int> design =
        calibtest::Entries(objective.OptimizeCalibrationSequence(candidates, 4, 15));
    ASSERT_EQ(design.size(), 15u);
    EXPECT_TRUE(std::adjacent_find(design.begin(), design.end(), std::greater_equal<int>()) == design.end() &&
                design.front() >= 0 && design.back() < 40);
    const Eigen::MatrixXd rows = designRows(candidates);
    const double det = informationDeterminant(rows, design);
    ASSERT_GT(det, 0.0);
    for (int out = 0; out < 40; ++out)
        for (size_t in = 0; in < design.size() && !std::binary_search(design.begin(), design.end(), out);
             ++in) {
            std::vector<int> exchanged = design;
            exchanged[in] = out;
            EXPECT_LT(informationDeterminant(rows, exchanged), det * (1 + 1e-5) * (1 + 1e-9));
        }
    EXPECT_EQ(calibtest::Entries(objective.OptimizeCalibrationSequence(candidates, 4, 15)), design);
}

// No exchange run: all candidates for a subset as large, none when no start can be informative.
TEST_F(ZoCOrbal2AxisCalibrationObjFunctionDesign, BoundsTheSearchWhereNoRunCanBeCounted) {
    std::vector<int> all(40);
    std::iota(all.begin(), all.end(), 0);
    const double allDet = informationDeterminant(designRows(candidates), all);
    const ZoTMatrix<double> identical = matrixOfRows(Rows(30, {3, 70, 80, -5, 40})), none(0, 5);
    const struct {
        const ZoTMatrix<double>& candidates;
        int starts, size;
        std::vector<int> expected;
    } cases[] = {{candidates, 10, 40, all}, {candidates, 10, 55, all}, {candidates, 10, 11, {}},
                 {candidates, 0, 15, {}},   {identical, 10, 15, {}},   {none, 10, 15, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.starts << " " << c.size);
        capture.Sink().Clear();
        EXPECT_EQ(calibtest::Entries(objective.OptimizeCalibrationSequence(c.candidates, c.starts, c.size)),
                  c.expected);
        std::vector<std::string> lines;  // the design's own lines
        for (const std::string& line : calibtest::Narrow(capture.Sink().Messages("ZoCWinLog")))
            if (line.rfind("(CALIB OED)", 0) == 0 || line.rfind("(NLS OED)", 0) == 0)
                lines.push_back(line);
        double best = -1.0;
        ASSERT_EQ(lines.size(), 3u) << (lines.size() > 1 ? lines[1] : "");
        ASSERT_EQ(std::sscanf(lines[1].c_str(), "(NLS OED) det best=%lg", &best), 1) << lines[1];
        EXPECT_NEAR(best, c.expected.empty() ? 0.0 : allDet, 1e-5 * allDet);
    }
}
