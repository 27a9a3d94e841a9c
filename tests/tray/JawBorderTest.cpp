// The polygon around a jaw on closed-form scenes, and the border of a simulated tray.
#include "SyntheticModels.h"
#include "TrayTestSupport.h"
#include "VirtualScanner.h"

namespace {

using jawcenterline::ZoCGrayImage;
using jawcenterline::ZoCHeightGridding;
using jawcenterline::ZoCImageContourExtractor;
using jawcenterline::ZoNImagePos;
using Boundaries = ZoCCreateJawBoundaries;

// A point on the box's upper faces lies in its last cell, points beyond it nowhere; invalid grids refused.
TEST(ZoCGridding3D, TakesPointsOnTheUpperFacesOnlyAndRefusesInvalidGrids) {
    ScopedLogCapture log;
    ZoCHeightGridding grid, refused;
    ASSERT_TRUE(grid.Init(CyBoundingBox3D({0, 0, 0}, {10, 10, 10}), {2, 2, 2}));
    grid.Add({{10, 10, 10}, {-0.1f, 1, 1}, {1, 1, 10.1f}});
    EXPECT_TRUE(grid.GetCells().GetCount() == 1 && grid.GetCells().Find(4, 4));
    EXPECT_FALSE(refused.Init(CyBoundingBox3D(), {1, 1, 1}));
    EXPECT_FALSE(refused.Init(CyBoundingBox3D({0, 0, 0}, {1, 1, 1}), {FLT_MAX, FLT_MAX, FLT_MAX}));
    refused.Add(CbVector3f(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(refused.GetCells().GetCount(), 0u);
    EXPECT_EQ(log.Sink().Messages("ZAZ.ImageTools.JawCenterLine.Gridding"),
              (std::vector<std::wstring>{L"Invalid grid bounds", L"Invalid Gridsize"}));
}

// The highest point over the box depth in gray levels.
TEST(ZoCCreateJawBoundaries, HeightImageScalesTheHighestPointOverTheBoxDepth) {
    Boundaries b({10, 8, 1, 4, 6});  // width, height, cell size, depth below and above
    // Mean (0, 0, 1): box [-5, 5] x [-4, 4] x [-3, 7]; the two far points lie outside it.
    const std::vector<CbVector3f> points = {{0.5f, 0.5f, -1},  {0.5f, 0.5f, 2}, {0.5f, 0.5f, 1},
                                            {-4.5f, -3.5f, 2}, {3.5f, 2.5f, 1}, {19.5f, -0.5f, 1},
                                            {-20, 0, 1}};
    ASSERT_TRUE(b.CreateGriddedImage(points));
    // (2 + 3) * 255 / 10 = 127 for the highest of three, (1 + 3) * 255 / 10 = 102; nothing else.
    std::vector<uint8_t> expected(80, 0);
    expected[4 * 10 + 5] = expected[0] = 127;
    expected[6 * 10 + 8] = 102;
    EXPECT_EQ(b.Pixels(), expected);
    // The highest pixel back in 3D: its corner, at the point's height to within a gray level.
    EXPECT_NEAR((b.ConvertFrom2DTo3D(ZoNImagePos{5, 4}) - CbVector3f(0, 0, 2)).Length(), 0, 10.0f / 255);
    const jawcenterline::ZoCJawCenterLineFinderParameter p;  // wherever the jaw lies: corners add no column
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> centre(-8000, 8000);
    for (int trial = 0; trial < 2000; ++trial) {
        const CbVector3f c(centre(rng), centre(rng), centre(rng));
        Boundaries image;
        ASSERT_TRUE(image.CreateGriddedImage({c}));
        ASSERT_EQ(std::pair(image.GetWidth(), image.GetHeight()), std::pair(p.m_iGridWidth, p.m_iGridHeight));
    }
}

// The nearest empty sample beyond the band, small holes closed; none there: vertices 80 pixels out.
TEST(ZoCCreateJawBoundaries, EdgesAreTheNearestEmptySamplesBeyondTheBand) {
    ZoCGrayImage image(201, 5);
    for (int x = 60; x <= 140; ++x)
        image.SetValue(x, 2, 200);  // an object from -40 to +40
    image.SetValue(110, 2, 0);      // a one-pixel hole at +10
    image.SetValue(128, 2, 0);      // and one at +28
    ZoCImageContourExtractor extractor(image, {1, 0}, {100, 2});
    EXPECT_EQ(Boundaries::EdgesOfProfile(extractor.GetObjectW(0)), std::pair(-41, 41));
    ZoCGrayImage blank(41, 41);  // the cross line leaves the image at +-20
    auto across = std::make_shared<ZoCImageContourExtractor>(blank, CbVector2f(0, 1), ZoNImagePos{20, 20});
    const auto [below, above] = Boundaries::EdgesOfProfile(across->GetObjectW(0));
    EXPECT_EQ(std::pair(below, above), std::pair(-80, 80));
    const auto lines =
        Boundaries::ConvertToPolylines({Boundaries::ZoNEdgeSample{{20, 20}, across, below, above}});
    EXPECT_EQ(lines, std::pair(Boundaries::TPolyline{{20, -60}}, Boundaries::TPolyline{{20, 100}}));
}

// Points up to 3 pixels off the chord go; the first farthest wins a tie; coincident ends stay.
TEST(ZoCCreateJawBoundaries, SimplificationKeepsPointsFurtherThanThreePixelsFromTheChord) {
    const std::vector<std::pair<Boundaries::TPolyline, Boundaries::TPolyline>> cases = {
        {{{0, 0}, {10, 3}, {20, 0}}, {{0, 0}, {20, 0}}},
        {{{100, 10}, {110, 24}, {120, 30}}, {{100, 10}, {120, 30}}},             // 2.83 pixels off
        {{{100, 10}, {110, 26}, {120, 30}}, {{100, 10}, {110, 26}, {120, 30}}},  // 4.24 pixels off
        {{{0, 0}, {10, 10}, {20, 0}, {30, 10}, {40, 0}}, {{0, 0}, {10, 10}, {20, 0}, {30, 10}, {40, 0}}},
        {{{0, 0}, {10, 4}, {11, 4}, {20, 0}}, {{0, 0}, {10, 4}, {20, 0}}},
        {{{0, 0}, {50, 0}, {50, 50}, {0, 0}}, {{0, 0}, {0, 0}}},
        {{{1, 1}, {2, 2}}, {{1, 1}, {2, 2}}}};
    for (const auto& [line, simplified] : cases)
        EXPECT_EQ(Boundaries::SimplifyDouglasPeucker(line), simplified) << line.size() << " " << line[1].x;
}

// Without jaw line, points or edges the polygon stays and the reason is logged.
TEST(ZoCCreateJawBoundaries, FailedPreconditionsLeaveThePolygonAndSayWhy) {
    ScopedLogCapture log;
    Boundaries b;
    const std::vector<CbVector3f> band = {{0, 0, 400}, {0, 10, 400}, {10, 0, 400}, {10, 10, 400}};
    b.Calculate(band, CyHermiteSpline());
    b.Calculate({}, CyHermiteSpline({{0, 0, 0}, {10, 0, 0}}));
    b.Calculate(band, CyHermiteSpline({{0, 0, 0}}));  // one point: no direction
    EXPECT_TRUE(b.GetPolygon().empty());
    ZoCAcquisitionSteeringOrbal2TripleTray steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    steering.setSkeletonRaw(CyHermiteSpline({{0, 0, 0}, {100, 0, 0}}));
    steering.SetJawBorderPoints({{1, 2, 3}});
    steering.CalcInvalidJawRegionsFromJawLine(ZoCImageDataBase(), eAreaTypeUpperJaw, nullptr);
    EXPECT_TRUE(steering.GetJawBorderPoints().empty());
    EXPECT_EQ(log.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2TripleTray"),
              std::vector<std::wstring>{L"Berechne Umgebendes Polygon-ROI"});
    EXPECT_EQ(log.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCCreateJawBoundaries"),
              (std::vector<std::wstring>{
                  L"Condition failed: Die Spline ist ungültig, da sie keine Kontrollpunkte besitzt",
                  L"Condition failed: Die Punktewolke ist leer",
                  L"Condition failed: Kann kein Polygon berechnen, da keine Konturen existieren.",
                  L"Condition failed: Die Punktewolke ist leer"}));
}

}  // namespace

// A simulated tray's 14 mm band: its border runs along both edges.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, BorderOfASimulatedTrayFollowsItsEdges) {
    constexpr float c_fPerMm = 40.0f;  // image-area units per mm
    const Sim::DoubleArchTrayModel tray = Sim::BuildDoubleArchTrayModel();
    ZoCAcquisitionSteeringOrbal2TripleTray steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    Sim::VirtualScannerOptions options;
    options.width = 320;  // a quarter of the camera's resolution keeps the suite fast
    options.height = 256;
    Sim::VirtualScanner scanner(ZoCOrbal2DeviceConfig(), tray.mesh, options);
    ZoCOrbal2AxisChain::CJointPositionSequence overview;
    ASSERT_TRUE(scanner.IsValid() && steering.GetJointConfigurationForOverview(overview))
        << scanner.GetError();
    ZoCImageDataBase database;
    for (int64_t i = 0; i < overview.GetCount(); ++i)
        database.ProvideImageArea(eAreaTypeUpperJaw)
            .AddImageSource(
                Sim::MakeImageSource(scanner.Record(overview[i].m_config), overview[i].m_strName));
    std::vector<CbVector3f> line, arch;  // the centre line in image-area units, and densely in mm
    for (int i = 0; i <= 2000; ++i) {
        arch.push_back(tray.arch.Position(tray.arch.GetLength() * static_cast<float>(i) / 2000));
        if (i % 80 == 0)
            line.emplace_back(arch[i].x * c_fPerMm, arch[i].y * c_fPerMm, 0.0f);
    }
    steering.setSkeletonRaw(CyHermiteSpline(line));
    steering.CalcInvalidJawRegionsFromJawLine(database, eAreaTypeUpperJaw, nullptr);
    const auto& border = steering.GetJawBorderPoints();
    ASSERT_GE(border.size(), 8u);
    size_t nearEdge = 0;
    double twice = 0;  // shoelace
    for (size_t i = 0; i < border.size(); ++i) {
        const CbVector3f &p = border[i], &q = border[(i + 1) % border.size()];
        float d = 1e9f;
        for (const CbVector3f& a : arch)
            d = std::min(d, std::hypot(p.x / c_fPerMm - a.x, p.y / c_fPerMm - a.y));
        nearEdge += d > 6.0f && d < 9.0f;
        twice += static_cast<double>(p.x) * q.y - static_cast<double>(q.x) * p.y;
    }
    EXPECT_GE(nearEdge * 10, border.size() * 9) << nearEdge << " of " << border.size();
    const double areaMm2 = std::fabs(twice) / 2 / (c_fPerMm * c_fPerMm), band = 14.0 * tray.arch.GetLength();
    EXPECT_TRUE(areaMm2 > 0.9 * band && areaMm2 < 1.4 * band) << areaMm2;
}
