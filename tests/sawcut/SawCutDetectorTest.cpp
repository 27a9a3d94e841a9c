// The saw-cut detector on plates under a pinhole camera (answers in closed form) and on given 3D cuts.
#include "CapturingLogSink.h"
#include "SawCutTestSupport.h"
#include "ZoCSawCutDetector.h"

#include <gmock/gmock.h>

#include <random>

using namespace sawcuttest;
using testing::Pointwise;
using Cut3D = ZoCSawCutDetector::ZoNSawCut3D;
using Overview = ZoCSawCutDetector::ZoNOverviewImage;

namespace {
struct DetectorProbe : ZoCSawCutDetector {
    using ZoCSawCutDetector::ZoCSawCutDetector, ZoCSawCutDetector::clusterSawCuts,
        ZoCSawCutDetector::collectPoints, ZoCSawCutDetector::fitGuideLine, ZoCSawCutDetector::liftSawCut,
        ZoCSawCutDetector::listImages, ZoCSawCutDetector::nearestCrossing,
        ZoCSawCutDetector::generateSawCutData, ZoCSawCutDetector::transformSawCutData;
};

// Eye at the origin looking along +z; pixel (x, y) on the ray to (x - 319.5, y - 239.5, 800); the
// plates at z = 4000 (5 units a pixel), registered half a turn about x onto the area's z = -200.
constexpr int c_iWidth = 640, c_iHeight = 480;
constexpr float c_fFocal = 800, c_fDepth = 4000, c_fCx = 319.5f, c_fCy = 239.5f;
constexpr float c_fPixel = c_fDepth / c_fFocal, c_fTx = 1000, c_fTy = 500, c_fPlateZ = -200;

const CbMatrix4Rf c_matRegistration =
    CbMatrix4Rf::FromRows({1, 0, 0, c_fTx, 0, -1, 0, c_fTy, 0, 0, -1, c_fDepth + c_fPlateZ, 0, 0, 0, 1});

// Plates over rows 40..439: columns 100..309 and 330..lastColumn (the gap: 310..329).
struct Scan {
    CbMatrix4Rf reg = c_matRegistration;
    bool ortho = false, correlated = true, ranged = true;
    int contentType = 41, lastColumn = 539;
};
CImageSource plateSource(const Scan& scan = {}) {
    std::vector<ZoCRay> rays;
    ZoCFieldRange range(c_iWidth, c_iHeight, 0.0f);
    for (int y = 0; y < c_iHeight; ++y)
        for (int x = 0; x < c_iWidth; ++x) {
            rays.push_back({CbVector3f(), CbVector3f(x - c_fCx, y - c_fCy, c_fFocal).Normalized()});
            if (y >= 40 && y <= 439 && x >= 100 && x <= scan.lastColumn && (x < 310 || x > 329))
                range.At(x, y) = c_fDepth / rays.back().m_direction.z;
        }
    CImage image(scan.ranged ? CImageTypes::eImageTypeRange : CImageTypes::eImageTypeIntensity);
    image.SetFieldRange(range);
    image.SetFieldRay(ZoCFieldRay(c_iWidth, c_iHeight, std::move(rays), scan.ortho));
    CImageSource source(scan.contentType);
    source.SetImage(image);
    source.SetCorrelation(scan.correlated, scan.reg);
    return source;
}

CyHermiteSpline sampled(const std::vector<CbVector3f>& knots) {
    CyHermiteSpline spline(knots);
    spline.SubdivideByLength();
    return spline;
}

// An arc of radius 1500 on the plates through (tx, ty - 200), uneven so that the guide line bends.
std::vector<CbVector3f> arcKnots() {
    std::vector<CbVector3f> knots;
    for (int i = 0; i <= 40; ++i) {
        const float a = -0.35f + 0.95f * static_cast<float>(i) / 40.0f;
        knots.push_back({c_fTx + 1500 * std::sin(a), c_fTy - 200 + 1500 * (1 - std::cos(a)), c_fPlateZ});
    }
    return knots;
}

// An image area of the factory's database, emptied before and after each test.
class DetectorScene : public ::testing::Test {
protected:
    static constexpr EAreaType c_eArea = eAreaTypeScanBody;
    CImageArea& area() {
        return ZAZComponentFactory::GetImageDatabase(eAcquireDeviceOrbal2).ProvideImageArea(c_eArea);
    }
    void SetUp() override { area().RemoveAll(); }
    void TearDown() override { area().RemoveAll(); }
    std::vector<CbVector3f> run(const CyHermiteSpline& skeleton, EAreaType type = c_eArea) {
        ZoCSawCutDetector detector(type, skeleton, c_matIdentity);
        detector.Run();
        return detector.GetSawCutData();
    }
    Overview overview(DetectorProbe& probe) {
        std::list<Overview> found;
        probe.listImages(found);
        EXPECT_EQ(found.size(), 1u);
        probe.collectPoints(found.front(), *found.front().m_rangeImage.GetFieldRayPtr(), m_points, m_pixels);
        return found.front();  // its points collected, its mean height measured
    }
    std::vector<CbVector3f> m_points;
    std::vector<ZoNPixel> m_pixels;
};

MATCHER_P(Near, tolerance, "") {
    return (std::get<0>(arg) - std::get<1>(arg)).Length() <= tolerance;
}

Cut3D cut3D(float x, double length, const CbVector3f& across = {1, 0, 0}, double halfWidth = 5, float y = 0) {
    return {.m_centre = {x, y, 0}, .m_viewDirection = {0, 0, -1}, .m_along = {0, 1, 0},
            .m_across = across.Normalized(), .m_dHalfWidth = halfWidth, .m_dLength = length};
}
}  // namespace

// Face points at x = tx -+ 50 (10 pixels of 5) about the arc (y = ty - 200 within 2e-3) on pixel 319's ray.
TEST_F(DetectorScene, CutBetweenPlatesIsAnchoredWhereTheSkeletonCrossesIt) {
    ASSERT_TRUE(area().AddImageSource(plateSource()));
    const std::vector<CbVector3f> data = run(sampled(arcKnots()));
    ASSERT_EQ(data.size(), 4u);
    const CbVector3f centre = (data[0] + data[2]) * 0.5f;
    EXPECT_NEAR((centre - CbVector3f(c_fTx - 0.5f * c_fPixel, c_fTy - 200, c_fPlateZ)).Length(), 0, 0.5);
    EXPECT_THAT((std::vector{data[0].x, data[2].x}),
                testing::UnorderedPointwise(testing::FloatNear(c_fPixel), {c_fTx - 50, c_fTx + 50}));
}

// Searched: correlated 3D scans with a range image and the rays of a camera, along a skeleton.
TEST_F(DetectorScene, ScansOrSkeletonsThatGiveNoGuideLineGiveNoData) {
    EXPECT_TRUE(run(sampled(arcKnots()), eAreaTypeNone).empty());  // an area never stored
    for (const CImageSource& source : {plateSource({.contentType = 0}), plateSource({.correlated = false}),
                                       plateSource({.ortho = true}), plateSource({.ranged = false})})
        ASSERT_TRUE(area().AddImageSource(source));
    EXPECT_TRUE(run(sampled(arcKnots())).empty());
    ASSERT_TRUE(area().AddImageSource(plateSource()));
    EXPECT_TRUE(run(CyHermiteSpline()).empty());
    EXPECT_EQ(run(CyHermiteSpline(arcKnots())).size(), 4u);  // a skeleton never sampled is sampled
}

TEST_F(DetectorScene, SkeletonsWithNonFiniteKnotsFindNothingAndSayWhy) {
    ASSERT_TRUE(area().AddImageSource(plateSource()));
    for (const float bad : {NAN, 3e38f}) {  // 3e38: the length overflows
        std::vector<CbVector3f> knots = arcKnots();
        knots[20].y = bad;
        ScopedLogCapture capture;
        EXPECT_TRUE(run(CyHermiteSpline(knots)).empty()) << bad;
        EXPECT_EQ(capture.Sink().Messages("ZAZ.ZoOrbal2.SawCut.ZoCSawCutDetector"),
                  std::vector<std::wstring>{L"Saw-cut detection skipped: the skeleton has a knot that "
                                            L"is not finite or a length that overflows (41 knots)"});
    }
}

// Points seen (every 4th pixel) more than 10 inside: 12..428 of 440 and of 443 columns, 12..388 of 400 rows.
TEST_F(DetectorScene, GuideLineKeepsMoreThanTenPixelsInsideTheRectangle) {
    const CbVector3f west(c_fTx - 1400, c_fTy, c_fPlateZ), east(c_fTx + 1400, c_fTy, c_fPlateZ);
    const CbVector3f north(c_fTx - 300, c_fTy + 1200, c_fPlateZ), south(c_fTx - 300, c_fTy - 1200, c_fPlateZ);
    const struct { CbVector3f from, to; int lastColumn; bool columns; float last; } cases[] = {
        {west, east, 539, true, 428}, {west, east, 542, true, 428}, {north, south, 539, false, 388}};
    for (const auto& c : cases) {
        area().RemoveAll();
        ASSERT_TRUE(area().AddImageSource(plateSource({.lastColumn = c.lastColumn})));
        const CyHermiteSpline skeleton = sampled({c.from, c.to});
        DetectorProbe probe(c_eArea, skeleton, c_matIdentity);
        ZoCSawCutExtractor::ZoNGuideLine guide;
        ASSERT_TRUE(probe.fitGuideLine(overview(probe), m_points, m_pixels, skeleton, guide));
        const auto along = [&](double t) { return c.columns ? guide.At(t).x : guide.At(t).y; };
        EXPECT_THAT((std::vector{along(0), along(1)}), Pointwise(testing::FloatNear(1.5f), {12.0f, c.last}));
    }
}

TEST_F(DetectorScene, SingularRegistrationThrowsNotInvertible) {
    ASSERT_TRUE(area().AddImageSource(plateSource({.reg = CbMatrix4Rf::Scaling(0.0f)})));  // one point
    EXPECT_THROW(run(sampled(arcKnots())), CyExceptionNotInvertible);
}

// Off the skeleton: pixel (320, 240)'s ray (bitmap 220, 200) at the mean height, width in units, image axes.
TEST_F(DetectorScene, CutIsLiftedOntoItsPixelRayAtTheMeanHeightAlongTheImagesAxes) {
    ASSERT_TRUE(area().AddImageSource(plateSource()));
    DetectorProbe probe(c_eArea, CyHermiteSpline(), c_matIdentity);
    const Overview image = overview(probe);
    const CbVector3f onRay(c_fTx + (320 - c_fCx) * c_fPixel, c_fTy - (240 - c_fCy) * c_fPixel, c_fPlateZ);
    const CbVector3f ray = CbVector3f(320 - c_fCx, c_fCy - 240, -c_fFocal).Normalized();  // registered
    for (double deg : {0.0, 30.0, 90.0, 135.0}) {
        const double ux = std::cos(deg * c_dPi / 180.0), uy = std::sin(deg * c_dPi / 180.0);
        ZoCSawCutExtractor::ZoNSawCut cut(V(220 - 50 * ux, 200 - 50 * uy), V(220 + 50 * ux, 200 + 50 * uy));
        cut.m_dHalfWidth = 3;
        Cut3D lifted;
        ASSERT_TRUE(probe.liftSawCut(cut, image, *image.m_rangeImage.GetFieldRayPtr(), {}, lifted));
        EXPECT_NEAR((lifted.m_centre - onRay).Length(), 0, 2e-2) << deg;
        EXPECT_NEAR(lifted.m_dHalfWidth, 3.0 * c_fPixel, 0.01) << deg;
        EXPECT_EQ(lifted.m_dLength, cut.GetLength()) << deg;
        EXPECT_NEAR((lifted.m_viewDirection - ray).Length(), 0, 1e-5) << deg;
        EXPECT_NEAR(std::fabs(lifted.m_across.Dot(CbVector3f(-uy, -ux, 0))), 1.0f, 1e-3f) << deg;
        EXPECT_NEAR(std::fabs(lifted.m_along.Dot(CbVector3f(ux, -uy, 0))), 1.0f, 1e-3f) << deg;
    }
}

// A one-pixel field: the rays' own x and y stand in for the image's axes; a diagonal cut lies at 45 degrees.
TEST(ZoCSawCutDetector, CutInAOnePixelFieldTakesTheRaysOwnAxes) {
    const ZoCFieldRay single(1, 1, {ZoCRay{CbVector3f(), CbVector3f(0, 0, 1)}}, false);
    const DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), c_matIdentity);
    Overview image;
    image.m_rectValid = {0, 0, 1, 1};
    ZoCSawCutExtractor::ZoNSawCut diagonal(V(-29.5, -30), V(30.5, 30));
    diagonal.m_dHalfWidth = 3;
    Cut3D lifted;
    ASSERT_TRUE(probe.liftSawCut(diagonal, image, single, CyHermiteSpline(), lifted));
    const CbVector3f across(std::fabs(lifted.m_across.x), std::fabs(lifted.m_across.y), lifted.m_across.z);
    EXPECT_NEAR((across - CbVector3f(std::sqrt(0.5f), std::sqrt(0.5f), 0)).Length(), 0, 1e-6f);
    EXPECT_EQ(lifted.m_dHalfWidth, 3.0);  // no neighbouring rays to measure a footprint: kept in pixels
    const double off[][2] = {{1.5, 0}, {-1.5, 0}, {0, 1.5}, {0, -1.5}};  // centres off the field: refused
    for (const auto& c : off)
        EXPECT_FALSE(
            probe.liftSawCut({V(c[0] - 1, c[1] - 30), V(c[0] + 1, c[1] + 30)}, image, single, {}, lifted));
}

// Planes near an arc's points, turned up to 30 degrees: each crossing lies on its plane. A line lying in the
// plane is crossed within one of 64 steps (31.25 long) of the point; a zero normal spans no plane.
TEST(ZoCSawCutDetector, EveryPlaneThroughTheSkeletonFindsItsCrossing) {
    const CyHermiteSpline arc = sampled(arcKnots()), line = sampled({{1000, -1000, 0}, {1000, 1000, 0}});
    CbVector3f crossing;
    ASSERT_TRUE(DetectorProbe::nearestCrossing(line, {1000, 37, 0}, {1, 0, 0}, crossing));
    EXPECT_NEAR(crossing.y, 37, 31.25);
    EXPECT_FALSE(DetectorProbe::nearestCrossing(line, {1000, 37, 0}, {0, 0, 0}, crossing));
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<float> along(100, arc.GetLength() - 100), turn(-0.5f, 0.5f);
    for (int k = 0; k < 400; ++k) {
        const float s = k == 0 ? 540 : along(rng), d = 0.05f;
        const CbVector3f p =
            arc.ComputePositionAtLength(s) + CbVector3f(turn(rng), turn(rng), turn(rng)) * 40;
        const CbVector3f t =
            (arc.ComputePositionAtLength(s + d) - arc.ComputePositionAtLength(s - d)).Normalized();
        const float c = std::cos(turn(rng)), w = std::sin(turn(rng));
        const CbVector3f n(c * t.x - w * t.y, w * t.x + c * t.y, 0);
        ASSERT_TRUE(DetectorProbe::nearestCrossing(arc, p, n, crossing)) << "plane " << k << " at " << s;
        EXPECT_NEAR((crossing - p).Dot(n), 0, 0.01) << "plane " << k;
    }
}

// Longest first (ties in order); free cuts within 60 (whatever the radius) join: B joins A at their mean,
// directions weighted by length and turned to agree, the widest half width; C, near B only, stays.
TEST(ZoCSawCutDetector, ClustersFormAroundTheLongestFreeCutWithinSixty) {
    DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), c_matIdentity);
    probe.SetClusteringRadius(25);
    const CbVector3f a(1, 0, 0), b = CbVector3f(-1, 0.2f, 0.1f).Normalized();
    const CbVector3f view = CbVector3f(0, 0.1f, -1).Normalized();
    std::vector<Cut3D> cuts = {cut3D(59.9f, 200, b, 9), cut3D(1000, 300), cut3D(119.8f, 100),
                               cut3D(0, 300, a, 4), cut3D(-500, 250)};  // B, D, C, A, E
    cuts[0].m_viewDirection = view;
    probe.clusterSawCuts(cuts);
    std::vector<std::pair<float, double>> found;
    for (const Cut3D& c : cuts)
        found.push_back({c.m_centre.x, c.m_dLength});
    EXPECT_EQ(found, (decltype(found){{1000, 300}, {59.9f / 2, 300}, {-500, 250}, {119.8f, 100}}));
    EXPECT_THAT(
        (std::vector{cuts[1].m_across, cuts[1].m_viewDirection, cuts[1].m_along}),
        Pointwise(Near(1e-5f), {(a * 300 - b * 200).Normalized(),
                                (CbVector3f(0, 0, -300) + view * 200).Normalized(), CbVector3f(0, 1, 0)}));
    EXPECT_TRUE(cuts[1].m_dHalfWidth == 9.0 && !cuts[1].m_pClusterLink) << cuts[1].m_dHalfWidth;
    std::vector<Cut3D> two = {cut3D(0, 1), cut3D(50, 1)};
    probe.clusterSawCuts(two);
    EXPECT_EQ(two.size(), 1u);
}

// Per cut a face point on each side with its normal into the gap; then moved, normals only turned.
TEST(ZoCSawCutDetector, FaceDataIsTwoPointsWithInwardNormalsPerCut) {
    const CbMatrix4Rf transform =  // (x, y, z) -> (1 - 3y, 2 + 3x, 3 + 3z)
        CbMatrix4Rf::Translation(1, 2, 3) * CbMatrix4Rf::RotationZ(1.5707964f) * CbMatrix4Rf::Scaling(3.0f);
    DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), transform);
    std::vector<Cut3D> cuts = {cut3D(100, 50, {0, 1, 0}, 4, 200), cut3D(10, 50, {1, 0, 0}, 2)};
    probe.generateSawCutData(cuts);
    const std::vector<CbVector3f> face = {{100, 204, 0}, {0, -1, 0}, {100, 196, 0}, {0, 1, 0},
                                          {12, 0, 0},    {-1, 0, 0}, {8, 0, 0},     {1, 0, 0}};
    const std::vector<CbVector3f> moved = {{-611, 302, 3}, {1, 0, 0},  {-587, 302, 3}, {-1, 0, 0},
                                           {1, 38, 3},     {0, -1, 0}, {1, 26, 3},     {0, 1, 0}};
    EXPECT_EQ(probe.GetSawCutData(), face);
    probe.transformSawCutData();
    EXPECT_THAT(probe.GetSawCutData(), Pointwise(Near(1e-3f), moved));
}
