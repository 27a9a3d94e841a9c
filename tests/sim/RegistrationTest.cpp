// Registrations of the virtual scanner's recordings, the rays that reproduce the coordinates,
// a tooth tip of the built-in jaw, and the hand-over to the image database.
#include "SceneFixtures.h"
#include "SyntheticModels.h"
#include "VirtualScanner.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace simtest;

namespace {
Sim::VirtualScannerOptions smallImage() {
    Sim::VirtualScannerOptions options;
    options.width = 320;
    options.height = 256;
    return options;
}

// Rotation angle (degrees) and translation length of the rigid motion a * b^-1.
void relativeMotion(const CbMatrix4Rf& a, const CbMatrix4Rf& b, double& angleDeg, double& shift) {
    const CbMatrix4Rf d = a * b.Inverted();
    const double trace = d(0, 0) + d(1, 1) + d(2, 2);
    angleDeg = std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)) * 180.0 / 3.14159265358979;
    shift = std::sqrt(d(0, 3) * d(0, 3) + d(1, 3) * d(1, 3) + d(2, 3) * d(2, 3));
}

const Config c_config = MakeConfig(5, 80, 95, 0, 30);
}  // namespace

TEST(VirtualScanner, ExactRegistrationIsTheChainsCamToDiscInImageAreaUnits) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, BoxMesh({-5, -5, -5}, {5, 5, 0}), smallImage());
    const Sim::RecordedImage image = scanner.Record(c_config);
    EXPECT_EQ(image.registration, device.m_axisChain.GetCamToDiscTransformation(c_config, true));
    EXPECT_EQ(image.exactRegistration, image.registration);
}

TEST(VirtualScanner, ClampsTheConfigurationToTheJointLimits) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, BoxMesh({-5, -5, -5}, {5, 5, 0}), smallImage());
    const Sim::RecordedImage image = scanner.Record(MakeConfig(0, 200, 90, 0, 0));
    EXPECT_EQ(image.config[1], 150.0f);
    EXPECT_EQ(image.registration,
              device.m_axisChain.GetCamToDiscTransformation(MakeConfig(0, 150, 90, 0, 0), true));
}

TEST(VirtualScanner, NoisyRegistrationIsARigidMotionOfTheGivenSize) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScannerOptions options = smallImage();
    options.noise = {0.2f, 0.05f};
    Sim::VirtualScanner scanner(device, BoxMesh({-5, -5, -5}, {5, 5, 0}), options);
    const Sim::RecordedImage first = scanner.Record(c_config);
    const Sim::RecordedImage second = scanner.Record(c_config);
    for (const Sim::RecordedImage* image : {&first, &second}) {
        double angle = 0, shift = 0;
        relativeMotion(image->registration, image->exactRegistration, angle, shift);
        EXPECT_NEAR(angle, 0.2, 2e-3);
        // The disturbance turns about the disc origin and then shifts, so the offset of the
        // combined motion is the shift itself: 0.05 mm = 2 image-area units.
        EXPECT_NEAR(shift, 2.0, 1e-3);
    }
    EXPECT_FALSE(first.registration == second.registration) << "every recording draws its own disturbance";
}

TEST(VirtualScanner, NoiseRepeatsFromRunToRun) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScannerOptions options = smallImage();
    options.noise = {0.5f, 0.1f};
    const Sim::TriangleMesh box = BoxMesh({-5, -5, -5}, {5, 5, 0});
    Sim::VirtualScanner a(device, box, options);
    Sim::VirtualScanner b(device, box, options);
    std::vector<CbMatrix4Rf> sequence;
    for (int i = 0; i < 3; ++i) {
        sequence.push_back(a.Record(c_config).registration);
        EXPECT_EQ(b.Record(c_config).registration, sequence.back());
    }
    options.noiseSeed += 1;
    Sim::VirtualScanner otherSeed(device, box, options);
    EXPECT_FALSE(otherSeed.Record(c_config).registration == sequence.front());
}

// The points follow the reported registration: with noise they are the true surface moved by
// the disturbance, and the rays with the ranges give them back through that registration.
TEST(VirtualScanner, CoordinatesAreTheRaysAtTheirRangesThroughTheReportedRegistration) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScannerOptions options = smallImage();
    options.noise = {0.3f, 0.08f};
    Sim::VirtualScanner scanner(device, BoxMesh({-10, -10, -6}, {10, 10, 0}), options);
    const Sim::RecordedImage image = scanner.Record(c_config);
    const CbMatrix4Rf disturbance = image.registration * image.exactRegistration.Inverted();
    const ZoCFieldCoord fromRays(&image.rays, image.range, &image.registration);
    int64_t compared = 0;
    for (int y = 0; y < scanner.GetHeight(); ++y)
        for (int x = 0; x < scanner.GetWidth(); ++x) {
            if (!image.mask.At(x, y)) {
                EXPECT_EQ(image.coords.At(x, y), image.coords.GetInvalidValue());
                continue;
            }
            // Independently: the camera model's ray in the disc frame, at the recorded range.
            const DiscRay ray = PixelRayOnDisc(scanner, image.config, x, y);
            const CbVector3f truePoint =
                (ray.origin + ray.direction * (image.range.At(x, y) / 40.0f)) * 40.0f;
            const CbVector3f expected = disturbance.TransformPoint(truePoint);
            const CbVector3f got = image.coords.At(x, y);
            ASSERT_LT((got - expected).Length(), 0.05f) << x << ", " << y;
            ASSERT_LT((fromRays.At(x, y) - got).Length(), 1e-3f);
            ++compared;
        }
    EXPECT_EQ(compared, image.measuredPixels);
    EXPECT_GT(compared, 1000);
}

TEST(VirtualScanner, RayFieldIsInTheCameraFrameInImageAreaUnits) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, BoxMesh({-5, -5, -5}, {5, 5, 0}), smallImage());
    const Sim::RecordedImage image = scanner.Record(c_config);
    EXPECT_FALSE(image.rays.IsOrtho25());
    CCoordinate3<double> eye;
    scanner.GetCamera().GetEyePt(eye);
    for (const auto& [x, y] : {std::pair{0, 0}, {319, 0}, {160, 128}, {17, 255}}) {
        const ZoCRay& ray = image.rays.GetRay(x, y);
        EXPECT_NEAR(ray.m_origin.x, eye.x * 40, 1e-3);
        EXPECT_NEAR(ray.m_origin.z, eye.z * 40, 1e-3);
        double d[3];
        scanner.GetCamera().PixelRay(x + 0.5, y + 0.5, d);
        EXPECT_NEAR(ray.m_direction.x, d[0], 1e-6);
        EXPECT_NEAR(ray.m_direction.y, d[1], 1e-6);
        EXPECT_NEAR(ray.m_direction.Length(), 1.0f, 1e-6);
    }
}

// Tooth tips of the built-in jaw appear at the pixel the camera model projects them to.
TEST(VirtualScanner, ToothTipsOfTheJawAppearWhereTheCameraModelPutsThem) {
    const ZoCOrbal2DeviceConfig device;
    const Sim::JawModel jaw = Sim::BuildJawModel();
    Sim::VirtualScannerOptions options;
    options.width = 640;
    options.height = 512;
    Sim::VirtualScanner scanner(device, jaw.mesh, options);
    const Config config = MakeConfig(0, 90, 90, 0, 0);
    const Sim::RecordedImage image = scanner.Record(config);
    const CbMatrix4Rf discToCam = device.m_axisChain.GetCamToDiscTransformation(config, false).Inverted();
    int seen = 0;
    for (const Sim::ToothTruth& tooth : jaw.teeth) {
        const CbVector3f c = discToCam.TransformPoint(tooth.tip);
        const double p[3] = {c.x, c.y, c.z};
        double u = 0, v = 0;
        ASSERT_TRUE(scanner.GetCamera().Project(p, u, v));
        const int x = static_cast<int>(u), y = static_cast<int>(v);
        if (x < 0 || y < 0 || x >= scanner.GetWidth() || y >= scanner.GetHeight() || !image.mask.At(x, y))
            continue;
        ++seen;
        // A pixel covers about 0.15 mm here; the crown is nearly flat at its tip.
        EXPECT_LT((image.coords.At(x, y) * (1.0f / 40.0f) - tooth.tip).Length(), 0.3f)
            << "tooth " << tooth.index;
    }
    EXPECT_GE(seen, 10) << "most tips face the camera from above";
}

TEST(MakeImageSource, StoresBothImagesCorrelatedWithTheRegistration) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, BoxMesh({-10, -10, -6}, {10, 10, 0}), smallImage());
    const Sim::RecordedImage image = scanner.Record(c_config);
    const CImageSource source = Sim::MakeImageSource(image, L"007_U0_1");
    EXPECT_EQ(source.GetContentType(), 41);
    EXPECT_TRUE(source.IsCorrelationSuccess());
    EXPECT_EQ(source.GetCorrelationMatrix(), image.registration);
    EXPECT_EQ(source.GetName(), CString(L"007_U0_1"));
    const CImage* range = source.GetImagePtr(CImageTypes::eImageTypeRange);
    const CImage* intensity = source.GetImagePtr(CImageTypes::eImageTypeIntensity);
    ASSERT_TRUE(range && intensity);
    ASSERT_NE(range->GetFieldRayPtr(), nullptr);
    EXPECT_EQ(range->GetFieldRange().RectValid(0.0f, range->GetFieldRange().FullRect()),
              image.coords.RectValid());
    EXPECT_EQ(intensity->GetFieldMask().At(160, 128), image.mask.At(160, 128));

    // Through the database and a point set, the host's points come back unchanged.
    ZoIImageDatabase database;
    ASSERT_TRUE(database.ProvideImageArea(eAreaTypeUpperJaw).AddImageSource(source));
    const ZoCPointSetField set(1, database, eAreaTypeUpperJaw, 0, false, 4, nullptr, 1, 1);
    ZoCPointSetField::CIterSubSet it(set);
    ASSERT_TRUE(it.GetCurrent());
    const ZoCFieldCoord points = it->GetFieldCoord();
    const ZoCRect2 rect = image.coords.RectValid();
    for (int y = rect.top; y < rect.bottom; y += 7)
        for (int x = rect.left; x < rect.right; x += 7)
            EXPECT_EQ(points.At(x, y), image.coords.At(x, y));
}
