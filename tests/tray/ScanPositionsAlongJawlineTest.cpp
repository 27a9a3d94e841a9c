// Scan positions along a tray's jaw line: spacing, projection, the two mirrored view directions
// and degenerate jaw lines.
#include "CapturingLogSink.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using Positions = ZoCCreateScanPositionsAlongJawline;

// A straight jaw line along x of `length`, its control points raised off the disc plane.
CyHermiteSpline straightLine(float length) {
    return CyHermiteSpline({{0, 0, -300}, {length / 2, 0, -350}, {length, 0, -320}});
}

// The spacing is the length over its number of 650-unit parts rounded (half the length below two
// parts); a position is placed on the disc plane at each first step of 10 beyond the spacing, as
// long as the walk is inside the line, its line direction pointing back along the line.
TEST(ZoCCreateScanPositionsAlongJawline, PlacesPositionsEveryWholeStepBeyondTheSpacing) {
    // length, spacing, its multiple of 10 above it
    for (const auto& [length, spacing, interval] : {std::tuple{300.0f, 150.0f, 160.0f}, {900.0f, 450.0f, 460.0f},
                                                     {1300.0f, 650.0f, 660.0f}, {4000.0f, 4000.0f / 6, 670.0f},
                                                     {5230.0f, 653.75f, 660.0f}}) {
        SCOPED_TRACE(length);
        EXPECT_FLOAT_EQ(Positions::Spacing(length), spacing);
        Positions positions;
        positions.Calculate(straightLine(length));
        const auto& placed = positions.GetScanPositions();
        ASSERT_EQ(placed.size(), static_cast<size_t>(std::ceil(length / interval)) - 1);
        for (size_t i = 0; i < placed.size(); ++i) {
            // The line is straight in x; the arc length of the sampled spline matches x closely.
            EXPECT_NEAR(placed[i].m_origin.x, interval * static_cast<float>(i + 1), 1.0f) << i;
            EXPECT_TRUE(std::fabs(placed[i].m_origin.y) < 1e-3f && placed[i].m_origin.z == 0.0f) << i;
            EXPECT_NEAR(placed[i].m_lineDirection.x, -1.0f, 1e-5f);
            EXPECT_EQ(placed[i].m_viewDirections.size(), 2u);
        }
    }
}

// On a curved jaw line each position's line direction is the tangent of the arc there, at right
// angles to its radius.
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

// Both views look down 25 degrees off the vertical, across the line, one the mirror image of the
// other in the vertical plane through the line.
TEST(ZoCCreateScanPositionsAlongJawline, ViewDirectionsAreMirrorImagesTiltedByTwentyFiveDegrees) {
    std::mt19937_64 random(5489);
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    std::vector<CbVector3f> directions = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    for (int i = 0; i < 200; ++i) {
        const float a = angle(random);
        directions.emplace_back(std::cos(a), std::sin(a), 0.0f);
    }
    for (const CbVector3f& d : directions) {
        const auto views = Positions::ViewDirections(d);
        ASSERT_EQ(views.size(), 2u);
        for (const CbVector3f& v : views)
            EXPECT_TRUE(std::fabs(v.Length() - 1) < 1e-5f && std::fabs(v.z + std::cos(25 * 3.14159265f / 180)) < 1e-5f &&
                        std::fabs(v.Dot(d)) < 1e-5f) << d.x << "," << d.y;
        const CbVector3f n(-d.y, d.x, 0);  // the horizontal normal of the line
        EXPECT_NEAR((views[0] - n * (2 * views[0].Dot(n)) - views[1]).Length(), 0.0f, 1e-5f) << d.x << "," << d.y;
        EXPECT_GT(std::fabs(views[0].Dot(n)), 0.4f);  // the two really differ
    }
    EXPECT_EQ(Positions::ViewDirections({0, 0, 0}).size(), 2u);  // a zero line direction still gives two
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
    EXPECT_EQ(log.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCCreateScanPositionsAlongJawline"),
              (std::vector<std::wstring>{L"Condition failed: Spline ungültig. Sie hat keine Kontrollpunkte",
                                         L"Condition failed: Die Spline hat die Länge 0",
                                         L"Condition failed: Die Spline hat die Länge 0",
                                         L"calculateScanPositions: Keine Scanpositionen gefunden"}));
}

}  // namespace
