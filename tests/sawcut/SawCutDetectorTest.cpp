// The saw-cut detector on a flat scene seen from straight above, whose answers follow in closed
// form: two plates with a gap of 20 pixels under a pinhole camera. Listing, guide line,
// lifting, anchoring on the skeleton, clustering and the face data.
#include "CapturingLogSink.h"
#include "SawCutTestSupport.h"
#include "ZoCSawCutDetector.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace sawcuttest;
using Cut3D = ZoCSawCutDetector::ZoNSawCut3D;

namespace {

class DetectorProbe : public ZoCSawCutDetector {
public:
    using ZoCSawCutDetector::clusterSawCuts;
    using ZoCSawCutDetector::collectPoints;
    using ZoCSawCutDetector::fitGuideLine;
    using ZoCSawCutDetector::detectSawCutSingle;
    using ZoCSawCutDetector::generateSawCutData;
    using ZoCSawCutDetector::GetZMean;
    using ZoCSawCutDetector::liftSawCut;
    using ZoCSawCutDetector::listImages;
    using ZoCSawCutDetector::nearestCrossing;
    using ZoCSawCutDetector::transformSawCutData;
    using ZoCSawCutDetector::ZoCSawCutDetector;
};

// The scene. Camera frame: eye at the origin looking along +z, pixel (x, y) on the ray towards
// (x - 319.5, y - 239.5, 800). The plates lie in the camera plane z = 4000, where one pixel is
// 5 units. The registration turns the camera half a turn about x and moves it so that the
// plates lie in the image area's plane z = -200, the camera's centre ray hitting (tx, ty).
constexpr int c_iWidth = 640, c_iHeight = 480;
constexpr float c_fFocal = 800, c_fDepth = 4000, c_fCx = 319.5f, c_fCy = 239.5f;
constexpr float c_fTx = 1000, c_fTy = 500, c_fPlateZ = -200;
constexpr float c_fUnitsPerPixel = c_fDepth / c_fFocal;

CbMatrix4Rf registration(float shiftX = 0) {
    return CbMatrix4Rf::FromRows({1, 0, 0, c_fTx + shiftX,  //
                                  0, -1, 0, c_fTy,          //
                                  0, 0, -1, c_fDepth + c_fPlateZ, 0, 0, 0, 1});
}

ZoCFieldRay cameraRays(bool ortho = false) {
    std::vector<ZoCRay> rays;
    for (int y = 0; y < c_iHeight; ++y)
        for (int x = 0; x < c_iWidth; ++x)
            rays.push_back({CbVector3f(), CbVector3f(x - c_fCx, y - c_fCy, c_fFocal).Normalized()});
    return ZoCFieldRay(c_iWidth, c_iHeight, std::move(rays), ortho);
}

// Plates over rows 40..439: columns 100..309 and 330..539 (the gap: 310..329).
CImage plateImage(bool ortho = false, int lastColumn = 539) {
    const ZoCFieldRay rays = cameraRays(ortho);
    ZoCFieldRange range(c_iWidth, c_iHeight, 0.0f);
    for (int y = 40; y <= 439; ++y)
        for (int x = 100; x <= lastColumn; ++x)
            if (x < 310 || x > 329)
                range.At(x, y) = c_fDepth / rays.GetRay(x, y).m_direction.z;
    CImage image(CImageTypes::eImageTypeRange);
    image.SetFieldRange(range);
    image.SetFieldMask(ZoCFieldMask(c_iWidth, c_iHeight, 1));
    image.SetFieldRay(rays);
    return image;
}

CImageSource plateSource(const CbMatrix4Rf& reg, bool ortho = false, int contentType = 41,
                         bool correlated = true, int lastColumn = 539) {
    CImageSource source(contentType);
    source.SetImage(plateImage(ortho, lastColumn));
    CImage intensity(CImageTypes::eImageTypeIntensity);
    intensity.SetFieldIntensity(ZoCFieldIntensity(c_iWidth, c_iHeight, 128));
    source.SetImage(intensity);
    source.SetCorrelation(correlated, reg);
    return source;
}

// A bent skeleton on the plates' plane crossing the gap: an arc of radius 1500 through
// (tx, ty - 200) for angles -0.35 .. 0.6 (uneven, so the guide line bends along the gap's normal).
CyHermiteSpline arcSkeleton() {
    std::vector<CbVector3f> points;
    for (int i = 0; i <= 40; ++i) {
        const float a = -0.35f + 0.95f * static_cast<float>(i) / 40.0f;
        points.push_back({c_fTx + 1500 * std::sin(a), c_fTy - 200 + 1500 * (1 - std::cos(a)), c_fPlateZ});
    }
    CyHermiteSpline spline(points);
    spline.SubdivideByLength();
    return spline;
}

// Where the cut's plane meets the skeleton: the cut is lifted on the ray of pixel column 319
// (its centre 319.5 truncated), half a pixel left of the camera's centre.
float expectedCrossingX(float shiftX = 0) {
    return c_fTx + shiftX - 0.5f * c_fUnitsPerPixel;
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
    std::vector<CbVector3f> run(const CyHermiteSpline& skeleton,
                                const CbMatrix4Rf& transform = c_matIdentity) {
        ZoCSawCutDetector detector(c_eArea, skeleton, transform);
        detector.Run();
        return detector.GetSawCutData();
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The whole detection

TEST_F(DetectorScene, CutBetweenPlatesIsAnchoredWhereTheSkeletonCrossesIt) {
    ASSERT_TRUE(area().AddImageSource(plateSource(registration())));
    const std::vector<CbVector3f> data = run(arcSkeleton());
    ASSERT_EQ(data.size(), 4u);
    const CbVector3f centre = (data[0] + data[2]) * 0.5f;
    EXPECT_NEAR(centre.x, expectedCrossingX(), 0.5);
    EXPECT_NEAR(centre.y, c_fTy - 200, 0.5);
    EXPECT_NEAR(centre.z, c_fPlateZ, 0.01);
    // The face points lie on the plates' faces at x = tx -+ 50 (the gap is 20 pixels of 5 units),
    // up to one pixel: the cut is traced through the boundary pixels' centres and its centre
    // taken on a whole pixel's ray. Their normals run across the gap (the image's x is the
    // area's x) and point into it.
    const CbVector3f across = data[3];
    EXPECT_NEAR(across.Length(), 1.0f, 1e-5);
    EXPECT_GT(std::fabs(across.x), 0.9999f);
    EXPECT_NEAR(std::min(data[0].x, data[2].x), c_fTx - 50, c_fUnitsPerPixel);
    EXPECT_NEAR(std::max(data[0].x, data[2].x), c_fTx + 50, c_fUnitsPerPixel);
    EXPECT_EQ(data[1], -data[3]);
    EXPECT_GT((centre - data[0]).Dot(data[1]), 0);  // from each face into the cut
    EXPECT_GT((centre - data[2]).Dot(data[3]), 0);
}

TEST_F(DetectorScene, SameCutInTwoImagesIsMergedWithinSixty) {
    // The second recording is registered 50 units further along x: its cut is anchored 50
    // units away, close enough to merge with the first at their mean.
    ASSERT_TRUE(area().AddImageSource(plateSource(registration())));
    ASSERT_TRUE(area().AddImageSource(plateSource(registration(50))));
    std::vector<CbVector3f> data = run(arcSkeleton());
    ASSERT_EQ(data.size(), 4u);
    EXPECT_NEAR(((data[0] + data[2]) * 0.5f).x, (expectedCrossingX() + expectedCrossingX(50)) / 2, 0.5);

    // 70 units apart they stay two cuts, the first image's first (equal lengths keep their order).
    area().RemoveAll();
    ASSERT_TRUE(area().AddImageSource(plateSource(registration())));
    ASSERT_TRUE(area().AddImageSource(plateSource(registration(70))));
    data = run(arcSkeleton());
    ASSERT_EQ(data.size(), 8u);
    EXPECT_NEAR(((data[0] + data[2]) * 0.5f).x, expectedCrossingX(), 0.5);
    EXPECT_NEAR(((data[4] + data[6]) * 0.5f).x, expectedCrossingX(70), 0.5);
}

TEST_F(DetectorScene, OnlyCorrelatedScansWithRaysOfACameraAreSearched) {
    ASSERT_TRUE(area().AddImageSource(plateSource(registration(), false, 0)));          // not a 3D scan
    ASSERT_TRUE(area().AddImageSource(plateSource(registration(), false, 41, false)));  // not registered
    ASSERT_TRUE(area().AddImageSource(plateSource(registration(), true)));              // orthographic rays
    CImageSource intensityOnly(41);
    intensityOnly.SetImage(CImage(CImageTypes::eImageTypeIntensity));
    intensityOnly.SetCorrelation(true, registration());
    ASSERT_TRUE(area().AddImageSource(intensityOnly));
    EXPECT_TRUE(run(arcSkeleton()).empty());

    DetectorProbe probe(c_eArea, arcSkeleton(), c_matIdentity);
    std::list<ZoCSawCutDetector::ZoNOverviewImage> images;
    probe.listImages(images);
    ASSERT_EQ(images.size(), 2u);  // the orthographic scan and the one without a range image
    EXPECT_NE(images.front().m_pRangeImage, nullptr);
    EXPECT_EQ(images.front().m_rectValid, (ZoCRect2{100, 40, 540, 440}));
    EXPECT_EQ(images.front().m_matRegistration, registration());
    EXPECT_EQ(images.front().m_fieldIntensity.GetWidth(), c_iWidth);
    EXPECT_EQ(images.back().m_pRangeImage, nullptr);
    EXPECT_TRUE(images.back().m_fieldRange.IsEmpty());
}

TEST_F(DetectorScene, AreasAndSkeletonsThatGiveNoGuideLineGiveNoData) {
    EXPECT_TRUE(run(arcSkeleton()).empty());  // an empty area
    ZoCSawCutDetector missing(eAreaTypeNone, arcSkeleton(), c_matIdentity);  // never stored
    missing.Run();
    EXPECT_TRUE(missing.GetSawCutData().empty());
    ASSERT_TRUE(area().AddImageSource(plateSource(registration())));
    EXPECT_TRUE(run(CyHermiteSpline()).empty());
    EXPECT_TRUE(run(CyHermiteSpline({CbVector3f(c_fTx, c_fTy, c_fPlateZ)})).empty());  // one point
    // A skeleton that was never sampled is sampled by the detector.
    EXPECT_EQ(run(CyHermiteSpline(arcSkeleton().GetControlPoints())).size(), 4u);
}

TEST_F(DetectorScene, SkeletonsWithNonFiniteKnotsFindNothingAndSayWhy) {
    ASSERT_TRUE(area().AddImageSource(plateSource(registration())));
    for (const float bad : {NAN, INFINITY, 3e38f}) {
        SCOPED_TRACE(bad);
        std::vector<CbVector3f> points = arcSkeleton().GetControlPoints();
        points[20].y = bad;
        points[21].x = -bad;
        ScopedLogCapture capture;
        EXPECT_TRUE(run(CyHermiteSpline(points)).empty());
        const auto messages = capture.Sink().Messages("ZAZ.ZoOrbal2.SawCut.ZoCSawCutDetector");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find(L"skeleton"), std::wstring::npos);
    }
}

// The guide line keeps the skeleton samples whose nearest point lies more than 10 pixels inside
// the valid rectangle. Points are taken every 4th pixel from its left and top, so the first
// kept column and row are 12, and the last the largest multiple of 4 below width - 11 (height -
// 11): 428 for 440 columns (432 lies 8 inside) and for 443 (432 is width - 11), 388 for 400 rows.
TEST_F(DetectorScene, GuideLineKeepsMoreThanTenPixelsInsideTheRectangle) {
    const CyHermiteSpline alongX({{c_fTx - 1400, c_fTy, c_fPlateZ}, {c_fTx + 1400, c_fTy, c_fPlateZ}});
    const CyHermiteSpline alongY({{c_fTx - 300, c_fTy + 1200, c_fPlateZ}, {c_fTx - 300, c_fTy - 1200, c_fPlateZ}});
    struct Case {
        const CyHermiteSpline* skeleton;
        int lastColumn;
        bool columns;
        double first, last;
    } cases[] = {{&alongX, 539, true, 12, 428}, {&alongX, 542, true, 12, 428}, {&alongY, 539, false, 12, 388}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastColumn);
        area().RemoveAll();
        ASSERT_TRUE(area().AddImageSource(plateSource(registration(), false, 41, true, c.lastColumn)));
        CyHermiteSpline skeleton = *c.skeleton;
        skeleton.SubdivideByLength();
        DetectorProbe probe(c_eArea, skeleton, c_matIdentity);
        std::list<ZoCSawCutDetector::ZoNOverviewImage> images;
        probe.listImages(images);
        ASSERT_EQ(images.size(), 1u);
        const ZoCSawCutDetector::ZoNOverviewImage& image = images.front();
        std::vector<CbVector3f> cameraPoints;
        std::vector<ZoNPixel> pixels;
        probe.collectPoints(image, *image.m_rangeImage.GetFieldRayPtr(), cameraPoints, pixels);
        ZoCSawCutExtractor::ZoNGuideLine guide;
        ASSERT_TRUE(probe.fitGuideLine(image, cameraPoints, pixels, skeleton, guide));
        const auto along = [&](double t) { return c.columns ? guide.At(t).x : guide.At(t).y; };
        EXPECT_NEAR(along(0), c.first, 1.5);
        EXPECT_NEAR(along(1), c.last, 1.5);
    }
}

TEST_F(DetectorScene, SingularRegistrationThrowsNotInvertible) {
    CbMatrix4Rf singular = registration();
    for (int c = 0; c < 3; ++c)
        singular(2, c) = 0;  // flattens everything onto z = const
    ASSERT_TRUE(area().AddImageSource(plateSource(singular)));
    ZoCSawCutDetector detector(c_eArea, arcSkeleton(), c_matIdentity);
    try {
        detector.Run();
        FAIL() << "no exception";
    } catch (const CyExceptionNotInvertible& e) {
        EXPECT_NE(std::string(e.GetSource()).find("Invert"), std::string::npos);
    }
    EXPECT_TRUE(detector.GetSawCutData().empty());
}

// ---------------------------------------------------------------------------------------------
// Lifting a 2D cut

class Lifting : public DetectorScene {
protected:
    Lifting() : m_probe(c_eArea, arcSkeleton(), c_matIdentity) {}
    void SetUp() override {
        DetectorScene::SetUp();
        ASSERT_TRUE(area().AddImageSource(plateSource(registration())));
        m_probe.listImages(m_images);
        ASSERT_EQ(m_images.size(), 1u);
        // One pass over the image measures the plates' mean height.
        std::vector<Cut3D> ignored;
        m_skeleton = arcSkeleton();
        m_probe.detectSawCutSingle(m_images.front(), m_skeleton, ignored);
    }
    DetectorProbe m_probe;
    std::list<ZoCSawCutDetector::ZoNOverviewImage> m_images;
    CyHermiteSpline m_skeleton;
};

TEST_F(Lifting, PointOfThePixelRayAtTheMeanHeight) {
    EXPECT_NEAR(m_probe.GetZMean(), c_fPlateZ, 1e-3);
    // A skeleton beside the cut, parallel to its plane, never crosses it: the centre stays on
    // the ray of pixel (119 + 100, 200 + 40) at the plates' height.
    const CyHermiteSpline beside = [] {
        CyHermiteSpline s({{c_fTx + 700, c_fTy - 900, c_fPlateZ}, {c_fTx + 700, c_fTy + 900, c_fPlateZ}});
        s.SubdivideByLength();
        return s;
    }();
    ZoCSawCutExtractor::ZoNSawCut cut(V(119.5, 20), V(119.5, 380));  // bitmap coordinates
    cut.m_dHalfWidth = 3;
    Cut3D lifted;
    const ZoCSawCutDetector::ZoNOverviewImage& image = m_images.front();
    ASSERT_TRUE(m_probe.liftSawCut(cut, image, *image.m_rangeImage.GetFieldRayPtr(), beside, lifted));
    const float xc = (219 - c_fCx) * c_fUnitsPerPixel, yc = (240 - c_fCy) * c_fUnitsPerPixel;
    EXPECT_NEAR(lifted.m_centre.x, c_fTx + xc, 1e-2);
    EXPECT_NEAR(lifted.m_centre.y, c_fTy - yc, 1e-2);
    EXPECT_NEAR(lifted.m_centre.z, c_fPlateZ, 1e-2);
    EXPECT_NEAR(lifted.m_dHalfWidth, 3.0 * c_fUnitsPerPixel, 0.01);  // pixels to image-area units
    EXPECT_DOUBLE_EQ(lifted.m_dLength, 360.0);
    EXPECT_EQ(lifted.m_pClusterLink, nullptr);
    // The view direction is the pixel's ray in the image area: pointing down onto the plates.
    EXPECT_LT(lifted.m_viewDirection.z, -0.98f);
    EXPECT_NEAR(lifted.m_viewDirection.Length(), 1.0f, 1e-5);
    // With the crossing skeleton, the centre moves onto it.
    ASSERT_TRUE(m_probe.liftSawCut(cut, image, *image.m_rangeImage.GetFieldRayPtr(), m_skeleton, lifted));
    EXPECT_NEAR(lifted.m_centre.z, c_fPlateZ, 1e-2);
    const float crossingX = c_fTx + (219 - c_fCx) * c_fUnitsPerPixel;
    EXPECT_NEAR(lifted.m_centre.x, crossingX, 0.5);
    const float a = std::asin((crossingX - c_fTx) / 1500);
    EXPECT_NEAR(lifted.m_centre.y, c_fTy - 200 + 1500 * (1 - std::cos(a)), 0.5);
}

TEST_F(Lifting, DirectionsFollowTheImageAxes) {
    // Seen from straight above, the image's x is the area's x and the image's y the area's -y.
    const ZoCSawCutDetector::ZoNOverviewImage& image = m_images.front();
    for (double deg : {0.0, 30.0, 90.0, 135.0}) {
        const double a = deg * 3.14159265358979 / 180.0;
        const CbVector2f u = V(std::cos(a), std::sin(a));
        // A cut through the image centre (pixel 320, 240 of the image; the rectangle starts
        // at 100, 40); its 2D normal is (-u.y, u.x).
        ZoCSawCutExtractor::ZoNSawCut cut(V(220 - 50 * u.x, 200 - 50 * u.y),
                                          V(220 + 50 * u.x, 200 + 50 * u.y));
        Cut3D lifted;
        ASSERT_TRUE(m_probe.liftSawCut(cut, image, *image.m_rangeImage.GetFieldRayPtr(), m_skeleton, lifted));
        const CbVector3f normal(-u.y, -u.x, 0);  // (-u.y, u.x) with y turned over
        EXPECT_NEAR(std::fabs(lifted.m_across.Dot(normal)), 1.0f, 1e-3f) << deg;
        EXPECT_NEAR(std::fabs(lifted.m_along.Dot(CbVector3f(u.x, -u.y, 0))), 1.0f, 1e-3f) << deg;
        EXPECT_NEAR(lifted.m_across.Dot(lifted.m_along), 0.0f, 1e-5f);
        EXPECT_NEAR(lifted.m_across.Dot(lifted.m_viewDirection), 0.0f, 1e-5f);
    }
}

// A field of one pixel has no neighbours to give the image's axes: the rays' own x and y stand
// in, each as a unit. A diagonal cut then lies at 45 degrees between the area's x and y.
TEST_F(Lifting, CutInAOnePixelFieldTakesTheRaysOwnAxes) {
    const ZoCFieldRay single(1, 1, {ZoCRay{CbVector3f(), CbVector3f(0, 0, 1)}}, false);
    ZoCSawCutDetector::ZoNOverviewImage image = m_images.front();
    image.m_rectValid = {0, 0, 1, 1};
    Cut3D lifted;
    ASSERT_TRUE(m_probe.liftSawCut(ZoCSawCutExtractor::ZoNSawCut(V(-29.5, -30), V(30.5, 30)), image, single,
                                   CyHermiteSpline(), lifted));
    EXPECT_NEAR(std::fabs(lifted.m_across.x), std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(std::fabs(lifted.m_across.y), std::sqrt(0.5f), 1e-6f);
    EXPECT_NEAR(lifted.m_across.z, 0.0f, 1e-6f);
}

// A straight skeleton along y at x = 1000, 2000 long: the plane x = 1000 holds all of it (the
// crossing nearest to the point is found within one of the 64 coarse steps, 31.25), a zero
// normal spans no plane, and the plane y = 37 is crossed where the skeleton reaches y = 37.
TEST(ZoCSawCutDetector, CrossingsOfPlanesThatHoldTheSkeletonOrNone) {
    CyHermiteSpline skeleton({{1000, -1000, 0}, {1000, 1000, 0}});
    skeleton.SubdivideByLength();
    CbVector3f crossing;
    ASSERT_TRUE(DetectorProbe::nearestCrossing(skeleton, {1000, 37, 0}, {1, 0, 0}, crossing));
    EXPECT_NEAR(crossing.y, 37, 31.25);
    EXPECT_FALSE(DetectorProbe::nearestCrossing(skeleton, {1000, 37, 0}, {0, 0, 0}, crossing));
    ASSERT_TRUE(DetectorProbe::nearestCrossing(skeleton, {500, 37, 0}, {0, 1, 0}, crossing));
    EXPECT_NEAR(crossing.y, 37, 0.01);
    EXPECT_EQ(crossing.x, 1000);
}

// ---------------------------------------------------------------------------------------------
// Clustering and face data

namespace {
Cut3D cut3D(const CbVector3f& centre, double length, const CbVector3f& across = {1, 0, 0},
            double halfWidth = 5) {
    Cut3D c;
    c.m_centre = centre;
    c.m_across = across.Normalized();
    c.m_along = CbVector3f(0, 1, 0);
    c.m_viewDirection = CbVector3f(0, 0, -1);
    c.m_dLength = length;
    c.m_dHalfWidth = halfWidth;
    return c;
}
}  // namespace

TEST(ZoCSawCutDetector, ClustersFormAroundTheLongestFreeCutWithinSixty) {
    DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), c_matIdentity);
    EXPECT_EQ(probe.GetClusteringRadius(), 50.0f);
    EXPECT_EQ(probe.GetSegmentationThreshold(), 50.0f);
    probe.SetClusteringRadius(25);  // stored only: the distance stays 60
    probe.SetSegmentationThreshold(7);
    EXPECT_EQ(probe.GetClusteringRadius(), 25.0f);
    EXPECT_EQ(probe.GetSegmentationThreshold(), 7.0f);
    // B lies within 60 of A; C within 60 of B but not of A: C is not chained into A's cluster.
    std::vector<Cut3D> cuts = {cut3D({60.1f, 0, 0}, 100), cut3D({0, 0, 0}, 300), cut3D({59.9f, 0, 0}, 200)};
    probe.clusterSawCuts(cuts);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_NEAR(cuts[0].m_centre.x, 59.9f / 2, 1e-4);  // A and B merged
    EXPECT_EQ(cuts[0].m_pClusterLink, nullptr);
    EXPECT_EQ(cuts[1].m_centre.x, 60.1f);
    EXPECT_EQ(cuts[1].m_dLength, 100.0);
}

TEST(ZoCSawCutDetector, CutsAreOrderedLongestFirstAndEqualLengthsKeepTheirOrder) {
    const DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), c_matIdentity);
    std::vector<Cut3D> cuts = {cut3D({0, 0, 0}, 100), cut3D({500, 0, 0}, 300), cut3D({1000, 0, 0}, 200),
                               cut3D({1500, 0, 0}, 300)};
    probe.clusterSawCuts(cuts);
    ASSERT_EQ(cuts.size(), 4u);
    EXPECT_EQ(cuts[0].m_centre.x, 500);
    EXPECT_EQ(cuts[1].m_centre.x, 1500);
    EXPECT_EQ(cuts[2].m_centre.x, 1000);
    EXPECT_EQ(cuts[3].m_centre.x, 0);
    // A single cut is left alone.
    std::vector<Cut3D> one = {cut3D({7, 0, 0}, 1)};
    one[0].m_pClusterLink = &one[0];
    probe.clusterSawCuts(one);
    EXPECT_EQ(one[0].m_pClusterLink, &one[0]);
}

TEST(ZoCSawCutDetector, MergedDirectionsAreLengthWeightedAndTurnedToAgree) {
    const DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), c_matIdentity);
    const CbVector3f a(1, 0, 0), b = CbVector3f(-1, 0.2f, 0).Normalized(),
                                 c = CbVector3f(0.9f, -0.3f, 0.1f).Normalized();
    std::vector<Cut3D> cuts = {cut3D({0, 0, 0}, 300, a, 4), cut3D({10, 0, 0}, 200, b, 9),
                               cut3D({0, 20, 0}, 100, c, 6)};
    cuts[1].m_viewDirection = CbVector3f(0, 0.1f, -1).Normalized();
    probe.clusterSawCuts(cuts);
    ASSERT_EQ(cuts.size(), 1u);
    // b points the other way: it is subtracted.
    const CbVector3f across = (a * 300 - b * 200 + c * 100).Normalized();
    EXPECT_NEAR((cuts[0].m_across - across).Length(), 0, 1e-5);
    const CbVector3f view =
        (CbVector3f(0, 0, -1) * 400 + CbVector3f(0, 0.1f, -1).Normalized() * 200).Normalized();
    EXPECT_NEAR((cuts[0].m_viewDirection - view).Length(), 0, 1e-5);
    EXPECT_NEAR((cuts[0].m_along - CbVector3f(0, 1, 0)).Length(), 0, 1e-6);
    EXPECT_NEAR(cuts[0].m_centre.x, 10.0f / 3, 1e-5);
    EXPECT_NEAR(cuts[0].m_centre.y, 20.0f / 3, 1e-5);
    EXPECT_EQ(cuts[0].m_dHalfWidth, 9.0);
    EXPECT_EQ(cuts[0].m_dLength, 300.0);
}

TEST(ZoCSawCutDetector, FaceDataIsTwoPointsWithInwardNormalsPerCut) {
    DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), c_matIdentity);
    std::vector<Cut3D> cuts = {cut3D({100, 200, 300}, 50, {0, 1, 0}, 4), cut3D({0, 0, 0}, 50, {1, 0, 0}, 2)};
    probe.generateSawCutData(cuts);
    const std::vector<CbVector3f> expected = {{100, 204, 300}, {0, -1, 0}, {100, 196, 300}, {0, 1, 0},
                                              {2, 0, 0},       {-1, 0, 0}, {-2, 0, 0},      {1, 0, 0}};
    EXPECT_EQ(probe.GetSawCutData(), expected);
    // The data is appended, never replaced.
    probe.generateSawCutData(cuts);
    EXPECT_EQ(probe.GetSawCutData().size(), 16u);
}

TEST(ZoCSawCutDetector, TransformMovesPointsAndTurnsDirections) {
    // Scaled by 3, turned a quarter about z, moved by (1, 2, 3).
    const CbMatrix4Rf transform =
        CbMatrix4Rf::Translation(1, 2, 3) * CbMatrix4Rf::RotationZ(1.5707964f) * CbMatrix4Rf::Scaling(3.0f);
    DetectorProbe probe(eAreaTypeUpperJaw, CyHermiteSpline(), transform);
    std::vector<Cut3D> cuts = {cut3D({10, 0, 0}, 50, {1, 0, 0}, 1)};
    probe.generateSawCutData(cuts);
    probe.transformSawCutData();
    const std::vector<CbVector3f>& data = probe.GetSawCutData();
    ASSERT_EQ(data.size(), 4u);
    const std::vector<CbVector3f> expected = {{1, 35, 3}, {0, -1, 0}, {1, 29, 3}, {0, 1, 0}};  // (11, 0, 0), ...
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR((data[i] - expected[i]).Length(), 0.0f, 1e-4f) << i;  // directions lose the scaling
}
