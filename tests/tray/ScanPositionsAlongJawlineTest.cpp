// Scan positions along a tray's jaw line: spacing, projection, the two mirrored view directions
// and degenerate jaw lines.
#include "CapturingLogSink.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

namespace {

using Positions = ZoCCreateScanPositionsAlongJawline;
const char* const c_pszPositionsLogger = "ZAZ.ZoOrbal2.Steering.ZoCCreateScanPositionsAlongJawline";

// A straight jaw line along x of `length`, its control points raised off the disc plane.
CyHermiteSpline straightLine(float length) {
    return CyHermiteSpline({{0, 0, -300}, {length / 2, 0, -350}, {length, 0, -320}});
}

TEST(ZoCCreateScanPositionsAlongJawline, SpacingIsTheLengthOverItsRoundedNumberOfUnits) {
    for (const auto& [length, count, spacing] : {std::tuple{1300.0f, 2, 650.0f}, {900.0f, 1, 450.0f}, {300.0f, 0, 150.0f},
                                                  {4000.0f, 6, 4000.0f / 6}}) {
        EXPECT_EQ(Positions::NumberOfPositions(length), count) << length;
        EXPECT_FLOAT_EQ(Positions::Spacing(length), spacing) << length;
    }
}

// Positions are placed once the walked length exceeds the spacing: every
// (floor(spacing / step) + 1) steps of 10, as long as the walk is inside the line.
TEST(ZoCCreateScanPositionsAlongJawline, PlacesPositionsEveryWholeStepBeyondTheSpacing) {
    for (const float length : {900.0f, 1300.0f, 4000.0f, 5230.0f}) {
        SCOPED_TRACE(length);
        Positions positions;
        positions.Calculate(straightLine(length));
        const float d = Positions::Spacing(length);
        const float interval = 10.0f * (std::floor(d / 10.0f) + 1);
        std::vector<float> expected;
        for (float s = interval; s < length; s += interval)
            expected.push_back(s);
        const auto& placed = positions.GetScanPositions();
        ASSERT_EQ(placed.size(), expected.size());
        for (size_t i = 0; i < placed.size(); ++i) {
            // The line is straight in x; the arc length of the sampled spline matches x closely.
            EXPECT_NEAR(placed[i].m_origin.x, expected[i], 1.0f) << i;
            EXPECT_NEAR(placed[i].m_origin.y, 0.0f, 1e-3f);
            EXPECT_EQ(placed[i].m_origin.z, 0.0f);
            EXPECT_NEAR(placed[i].m_lineDirection.x, -1.0f, 1e-5f);  // back to the previous sample
            EXPECT_EQ(placed[i].m_viewDirections.size(), 2u);
        }
    }
}

// On a curved jaw line each position's line direction is the line's own direction there: the
// tangent of an arc, at right angles to its radius.
TEST(ZoCCreateScanPositionsAlongJawline, LineDirectionsFollowACurvedJawLine) {
    std::vector<CbVector3f> arc;
    for (int i = 0; i <= 12; ++i)
        arc.emplace_back(1000 * std::cos(0.25f * static_cast<float>(i)), 1000 * std::sin(0.25f * static_cast<float>(i)), 0);
    Positions positions;
    positions.Calculate(CyHermiteSpline(arc));
    ASSERT_GE(positions.GetScanPositions().size(), 3u);
    for (const auto& p : positions.GetScanPositions()) {
        EXPECT_NEAR(p.m_lineDirection.Length(), 1.0f, 1e-4f);
        EXPECT_NEAR(p.m_lineDirection.Dot(p.m_origin * (1.0f / p.m_origin.Length())), 0.0f, 0.05f);
    }
}

TEST(ZoCCreateScanPositionsAlongJawline, ViewDirectionsAreMirrorImagesTiltedByTwentyFiveDegrees) {
    std::mt19937_64 random(5489);
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    std::vector<CbVector3f> directions = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    for (int i = 0; i < 200; ++i) {
        const float a = angle(random);
        directions.emplace_back(std::cos(a), std::sin(a), 0.0f);
    }
    const float cosTilt = std::cos(Positions::c_fTiltAngle);
    for (size_t i = 0; i < directions.size(); ++i) {
        SCOPED_TRACE(i);
        const CbVector3f& d = directions[i];
        const auto views = Positions::ViewDirections(d);
        ASSERT_EQ(views.size(), 2u);
        for (const CbVector3f& v : views) {
            EXPECT_NEAR(v.Length(), 1.0f, 1e-5f);
            EXPECT_NEAR(v.z, -cosTilt, 1e-5f);   // 25 degrees from looking straight along -z
            EXPECT_NEAR(v.Dot(d), 0.0f, 1e-5f);  // tilted across the line, not along it
        }
        // The mirror across the vertical plane through d: keep the parts along d and z,
        // flip the part along the horizontal normal n.
        const CbVector3f n(-d.y, d.x, 0);
        const CbVector3f mirrored = views[0] - n * (2 * views[0].Dot(n));
        EXPECT_NEAR((mirrored - views[1]).Length(), 0.0f, 1e-5f);
        EXPECT_GT(std::fabs(views[0].Dot(n)), 0.4f);  // the two really differ
    }
    // A zero line direction still gives two directions, tilted about the x axis.
    EXPECT_EQ(Positions::ViewDirections({0, 0, 0}).size(), 2u);
}

TEST(ZoCCreateScanPositionsAlongJawline, DegenerateJawLinesAreLoggedAndGiveNoPositions) {
    ScopedLogCapture log;
    Positions positions;
    positions.Calculate(straightLine(1300));
    ASSERT_FALSE(positions.GetScanPositions().empty());
    positions.Calculate(CyHermiteSpline());  // refused: keeps what it had
    EXPECT_FALSE(positions.GetScanPositions().empty());
    positions.Calculate(CyHermiteSpline({{5, 5, 5}}));
    EXPECT_TRUE(positions.GetScanPositions().empty());
    positions.Calculate(CyHermiteSpline({{0, 0, 0}, {0, 0, 100}}));  // vertical: length 0 on the disc
    positions.Calculate(straightLine(5));                            // shorter than one walking step
    EXPECT_TRUE(positions.GetScanPositions().empty());
    EXPECT_EQ(log.Sink().Messages(c_pszPositionsLogger),
              (std::vector<std::wstring>{L"Condition failed: Spline ungültig. Sie hat keine Kontrollpunkte",
                                         L"Condition failed: Die Spline hat die Länge 0",
                                         L"Condition failed: Die Spline hat die Länge 0",
                                         L"calculateScanPositions: Keine Scanpositionen gefunden"}));
}

}  // namespace
