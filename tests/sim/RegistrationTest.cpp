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

// Without noise the registration is the chain's camera-to-disc in image-area units; with noise a
// rigid motion of the given size, drawn anew for every recording.
TEST(VirtualScanner, RegistrationIsTheChainsOrARigidMotionOfTheGivenSizeAway) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner exact(device, BoxMesh({-5, -5, -5}, {5, 5, 0}), smallImage());
    const Sim::RecordedImage image = exact.Record(c_config);
    EXPECT_EQ(image.registration, device.m_axisChain.GetCamToDiscTransformation(c_config, true));
    EXPECT_EQ(image.exactRegistration, image.registration);
    Sim::VirtualScannerOptions options = smallImage();
    options.noise = {0.2f, 0.05f};
    Sim::VirtualScanner scanner(device, BoxMesh({-5, -5, -5}, {5, 5, 0}), options);
    const Sim::RecordedImage first = scanner.Record(c_config), second = scanner.Record(c_config);
    for (const Sim::RecordedImage* noisy : {&first, &second}) {
        double angle = 0, shift = 0;
        relativeMotion(noisy->registration, noisy->exactRegistration, angle, shift);
        EXPECT_NEAR(angle, 0.2, 2e-3);
        // The disturbance turns about the disc origin and then shifts, so the offset of the
        // combined motion is the shift itself: 0.05 mm = 2 image-area units.
        EXPECT_NEAR(shift, 2.0, 1e-3);
    }
    EXPECT_FALSE(first.registration == second.registration);
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

