// The joint collision table: the interval file syntax, random bytes, the tree of axis values and
// the sample table of the reference device.
#include "TestSupport.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using LineParser::LineRep;
using Loader = ZoCTripleTrayCollisionsLoader;
namespace fs = std::filesystem;

LineRep parse(const std::string& line) {
    return LineParser::ParseLine(line.data(), line.size(), 7);
}

std::string scratchFile(const std::string& name, const std::string& content) {
    const fs::path path = fs::path(testsupport::ScratchDirectory()) / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

std::vector<LineRep> readAll(const std::string& path, bool* ok = nullptr) {
    std::vector<LineRep> reps;
    IntervalFileParser parser([&reps](const LineRep& rep) { reps.push_back(rep); });
    const bool read = parser.LoadData(path.c_str());
    if (ok)
        *ok = read;
    return reps;
}

// Every path from `node` down has `levels` more levels, single values above intervals.
bool hasFiveLevels(const AxisNode& node, int levels = 5) {
    if (levels == 0)
        return !node.HasChilds();
    if (!node.HasChilds())
        return false;
    for (const AxisNode& child : node)
        if (child.IsInterval() != (levels == 1) || !hasFiveLevels(child, levels - 1))
            return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Line syntax

TEST(IntervalFileParser, ReadsSixNumbersSeparatedByBlanksTabsCommasOrSemicolons) {
    for (const std::string line :
         {"1 2 3 4 5 6", "1,2;3\t4  5 ,6", "  1 2 3 4 5 6  # a comment", "+1 2 3 4 5 6"}) {
        const LineRep rep = parse(line);
        ASSERT_TRUE(rep.m_bValid) << line;
        EXPECT_EQ(rep.m_iLineNumber, 7);
        EXPECT_EQ(rep.m_iNumValues, 6);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(rep.m_afValues[i], static_cast<float>(i + 1)) << line;
    }
    const LineRep decimals = parse("-1.5 2e1 0.25 -0 7.5 7.5");
    ASSERT_TRUE(decimals.m_bValid);
    EXPECT_EQ(decimals.m_afValues[0], -1.5f);
    EXPECT_EQ(decimals.m_afValues[1], 20.0f);
    EXPECT_EQ(decimals.m_afValues[4], decimals.m_afValues[5]);  // a single angle is an interval too
}

TEST(IntervalFileParser, RefusesLinesThatAreNotSixFiniteNumbersWithAnOrderedInterval) {
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"", "comment line"},
        {"   \t ", "comment line"},
        {"# 1 2 3 4 5 6", "comment line"},
        {"1 2 3 4 5", "fewer than six values"},
        {"1 2 3 4 5 6 7", "more than six values"},
        {"1 2 x 4 5 6", "not a number"},
        {"1 2 3abc 4 5 6", "not a number"},
        {"1 2 3 4 5 6x", "not a number"},
        {"1 -+2 3 4 5 6", "not a number"},
        {"1 2 3 4 1e50 6", "not a number"},
        {"1 2 3 4 nan 6", "not a finite number"},
        {"inf 2 3 4 5 6", "not a finite number"},
        {"1 2 3 4 6 5", "interval lower end above its upper end"},
        {std::string("1 2 3\0 4 5 6", 12), "not a number"},
    };
    for (const auto& [line, problem] : refused) {
        const LineRep rep = parse(line);
        EXPECT_FALSE(rep.m_bValid) << line;
        EXPECT_EQ(std::string(rep.m_pszProblem), problem) << line;
    }
}

TEST(IntervalFileParser, RefusesLinesLongerThanTheLimit) {
    std::string longest = "1 2 3 4 5 6";
    longest.resize(LineParser::c_iMaxLineLength, ' ');
    EXPECT_TRUE(parse(longest).m_bValid);
    EXPECT_FALSE(parse(longest + " ").m_bValid);
    EXPECT_EQ(std::string(parse(longest + " ").m_pszProblem), "line too long");
}

TEST(IntervalFileParser, DeliversEveryLineInFileOrderWithItsNumber) {
    const std::string path = scratchFile("order.txt", "# head\r\n1 2 3 4 5 6\r\n\nbad\n7 8 9 10 11 12");
    bool ok = false;
    const std::vector<LineRep> reps = readAll(path, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(reps.size(), 5u);
    for (size_t i = 0; i < reps.size(); ++i)
        EXPECT_EQ(reps[i].m_iLineNumber, static_cast<int>(i + 1));
    const std::vector<bool> valid = {false, true, false, false, true};
    for (size_t i = 0; i < reps.size(); ++i)
        EXPECT_EQ(reps[i].m_bValid, valid[i]) << i;
    EXPECT_EQ(reps[4].m_afValues[5], 12.0f);  // the last line needs no line end
}

TEST(IntervalFileParser, SkipsAnOverlongLineWholeAndGoesOn) {
    const std::string path =
        scratchFile("overlong.txt", "1 2 3 4 5 6\n" + std::string(5000, '7') + "\n2 3 4 5 6 7\n");
    const std::vector<LineRep> reps = readAll(path);
    ASSERT_EQ(reps.size(), 3u);
    EXPECT_FALSE(reps[1].m_bValid);
    EXPECT_EQ(std::string(reps[1].m_pszProblem), "line too long");
    EXPECT_TRUE(reps[2].m_bValid);
    EXPECT_EQ(reps[2].m_iLineNumber, 3);
}

TEST(IntervalFileParser, AMissingFileDeliversNothingAndAnEmptyOneNothingButSuccess) {
    bool ok = true;
    EXPECT_TRUE(
        readAll((fs::path(testsupport::ScratchDirectory()) / "no-such-table.txt").string(), &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(readAll(scratchFile("empty.txt", ""), &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_FALSE(IntervalFileParser(nullptr).LoadData(nullptr));
}

TEST(IntervalFileParser, SurvivesRandomBytes) {
    std::mt19937_64 rng(47110815);
    const std::string numberish = "0123456789 .,;-+e\tna#\r\n";
    for (int trial = 0; trial < 120; ++trial) {
        std::string bytes(rng() % 6000, '\0');
        for (char& c : bytes) {
            // Thirds of the trials: any byte, bytes that look like numbers, valid lines with noise.
            const unsigned r = static_cast<unsigned>(rng());
            c = trial % 3 == 0 ? static_cast<char>(r & 0xFF) : numberish[r % numberish.size()];
        }
        if (trial % 3 == 2)
            for (size_t at = 0; at + 14 < bytes.size(); at += 1 + rng() % 40)
                bytes.replace(at, 13, "1 2 3 4 5 6\n");
        const std::string path = scratchFile("random.txt", bytes);
        const std::vector<LineRep> reps = readAll(path);
        size_t lines = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        if (!bytes.empty() && bytes.back() != '\n')
            ++lines;
        ASSERT_EQ(reps.size(), lines) << "trial " << trial;
        for (size_t i = 0; i < reps.size(); ++i) {
            ASSERT_EQ(reps[i].m_iLineNumber, static_cast<int>(i + 1));
            if (!reps[i].m_bValid)
                continue;
            EXPECT_EQ(reps[i].m_iNumValues, 6);
            for (float v : reps[i].m_afValues)
                EXPECT_TRUE(std::isfinite(v));
            EXPECT_LE(reps[i].m_afValues[4], reps[i].m_afValues[5]);
        }
        Loader::TCollisionTree tree;
        Loader::ReadTable(path.c_str(), tree);
        EXPECT_TRUE(!tree.HasChilds() || hasFiveLevels(tree)) << "trial " << trial;
    }
}

// ---------------------------------------------------------------------------------------------
// The tree

TEST(ZoCTripleTrayCollisionsLoader, RecordsSharingAPrefixShareItsPath) {
    Loader::TCollisionTree tree;
    EXPECT_EQ(tree.GetValue(), 3.4028235e38f);
    Loader::AddRecord(parse("1 2 3 4 5 6"), tree);
    Loader::AddRecord(parse("1 2 3 7 5 6"), tree);
    ASSERT_EQ(tree.GetNumChilds(), 1u);
    const AxisNode& third = *tree.begin()->begin()->begin();
    EXPECT_EQ(third, AxisNode(3.0f));
    ASSERT_EQ(third.GetNumChilds(), 2u);
    EXPECT_EQ(third.begin()->GetValue(), 4.0f);
    EXPECT_EQ(std::next(third.begin())->GetValue(), 7.0f);
    const AxisNode& interval = *third.begin()->begin();
    EXPECT_TRUE(interval.IsInterval());
    EXPECT_EQ(interval, AxisNode(5.0f, 6.0f));
    EXPECT_EQ(tree.CountDescendants(), 3u + 2u * 2u);
    EXPECT_TRUE(hasFiveLevels(tree));
}

TEST(ZoCTripleTrayCollisionsLoader, ARepeatedRecordAddsNothingAndAnotherIntervalASibling) {
    Loader::TCollisionTree tree;
    Loader::AddRecord(parse("1 2 3 4 5 6"), tree);
    const size_t nodes = tree.CountDescendants();
    Loader::AddRecord(parse("1 2 3 4 5 6"), tree);
    EXPECT_EQ(tree.CountDescendants(), nodes);
    Loader::AddRecord(parse("1 2 3 4 5 8"), tree);
    EXPECT_EQ(tree.CountDescendants(), nodes + 1);
    // A single value and an interval of one value are different nodes.
    EXPECT_FALSE(AxisNode(5.0f) == AxisNode(5.0f, 5.0f));
}

TEST(ZoCTripleTrayCollisionsLoader, TheReferenceDevicesSampleTableIsReadWhole) {
    const fs::path sample = fs::path(__FILE__).parent_path() / "../../data/DoubleArchJointCollisions.txt";
    bool ok = false;
    const std::vector<LineRep> reps = readAll(sample.string(), &ok);
    ASSERT_TRUE(ok) << sample;
    size_t records = 0;
    for (const LineRep& rep : reps) {
        if (rep.m_bValid)
            ++records;
        else
            EXPECT_EQ(std::string(rep.m_pszProblem), "comment line") << "line " << rep.m_iLineNumber;
    }
    EXPECT_GT(records, 100u);
    Loader::TCollisionTree tree;
    ASSERT_TRUE(Loader::ReadTable(sample.string().c_str(), tree));
    EXPECT_TRUE(hasFiveLevels(tree));
    float lo, hi;
    ZoCOrbal2AxisChain().GetMinMaxPosition(0, lo, hi);
    for (const AxisNode& l1 : tree) {
        EXPECT_GE(l1.GetValue(), lo);
        EXPECT_LE(l1.GetValue(), hi);
    }
}

namespace {

// The sample table's model (data/make_double_arch_collisions.py): tray corners on the disc and a
// cylinder about each sensor's optical axis, from 50 mm behind the eye to 75 mm before it.
bool trayHitsASensor(const ZoCOrbal2DeviceConfig& device,
                     const ZoCOrbal2AxisChain::NCJointConfiguration& config) {
    const CbMatrix4Rf discToCamera = device.m_axisChain.GetCamToDiscTransformation(config, false).Inverted();
    const ZoCAbstractCamCalib* sensors[2] = {&device.m_camProjCalib.GetCamera(),
                                             &device.m_camProjCalib.GetProjector()};
    std::vector<CbVector3f> corners;
    for (float x : {-35.0f, 0.0f, 35.0f})
        for (float y : {-30.0f, 30.0f})
            for (float z : {0.0f, -25.0f})
                corners.emplace_back(x, y, z);
    for (float x : {35.0f, 80.0f})
        for (float y : {-8.0f, 8.0f})
            for (float z : {-5.0f, -15.0f})
                corners.emplace_back(x, y, z);
    for (const ZoCAbstractCamCalib* sensor : sensors) {
        CCoordinate3<double> eye, view;
        sensor->GetEyePt(eye);
        sensor->GetViewDirection(view);
        for (const CbVector3f& corner : corners) {
            const CbVector3f p = discToCamera.TransformPoint(corner);
            const double d[3] = {p.x - eye.x, p.y - eye.y, p.z - eye.z};
            const double depth = d[0] * view.x + d[1] * view.y + d[2] * view.z;
            const double lateral = d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - depth * depth;
            if (depth >= -50 && depth <= 75 && lateral < 45.0 * 45.0)
                return true;
        }
    }
    return false;
}

}  // namespace

TEST(ZoCTripleTrayCollisionsLoader, TheSampleTableHoldsCollisionsOfTheReferenceDevice) {
    const fs::path sample = fs::path(__FILE__).parent_path() / "../../data/DoubleArchJointCollisions.txt";
    const ZoCOrbal2DeviceConfig device;
    int checked = 0;
    for (const LineRep& rep : readAll(sample.string())) {
        if (!rep.m_bValid || rep.m_iLineNumber % 37 != 0)
            continue;  // a spread of records
        const float* v = rep.m_afValues;
        ZoCOrbal2AxisChain::NCJointConfiguration config;
        config.Set(v[0], v[1], v[2], v[3], v[4]);
        EXPECT_TRUE(trayHitsASensor(device, config)) << "line " << rep.m_iLineNumber;
        config[4] = 0.5f * (v[4] + v[5]);
        EXPECT_TRUE(trayHitsASensor(device, config)) << "line " << rep.m_iLineNumber;
        ++checked;
    }
    EXPECT_GT(checked, 10);
    // The tray stands clear of the sensor at home, whatever the disc's turn.
    for (float l5 = 0; l5 < 360; l5 += 15) {
        ZoCOrbal2AxisChain::NCJointConfiguration home;
        home.Set(0, 90, 90, 0, l5);
        EXPECT_FALSE(trayHitsASensor(device, home)) << l5;
    }
}
