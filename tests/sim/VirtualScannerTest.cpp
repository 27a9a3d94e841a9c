// The virtual scanner's recordings against the kinematics and camera model, for scenes of boxes.
#include "SceneFixtures.h"
#include "VirtualScanner.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

using namespace simtest;

namespace {

using Boxes = std::vector<std::pair<CbVector3f, CbVector3f>>;

CbVector3f eyeOnDisc(const CbMatrix4Rf& camToDisc, const ZoCAbstractCamCalib& sensor) {
    CCoordinate3<double> e;
    sensor.GetEyePt(e);
    return camToDisc.TransformPoint(CbVector3f(e.x, e.y, e.z));
}

double angleDeg(const CbVector3f& a, const CbVector3f& b) {
    return std::acos(std::clamp(static_cast<double>(a.Dot(b)), -1.0, 1.0)) * 180.0 / 3.14159265358979;
}

// What the ray through (x, y) of the pixel grid sees, from the camera model and box geometry alone.
struct Seen {
    int face = -1;  // box and side first met; -1: none
    bool clear = true, lit = false, shadowed = false;
    double t = 0;
    CbVector3f p;
};
Seen see(const Sim::VirtualScanner& scanner, const CbMatrix4Rf& camToDisc, const Boxes& boxes, double x,
         double y, const CbVector3f& projector) {
    double d[3];
    scanner.GetCamera().PixelRay(x + 0.5, y + 0.5, d);
    const CbVector3f o = eyeOnDisc(camToDisc, scanner.GetCamera());
    const CbVector3f dir = camToDisc.TransformDirection(CbVector3f(d[0], d[1], d[2]));
    Seen s;
    std::optional<BoxHit> first;
    for (size_t b = 0; b < boxes.size(); ++b) {
        const auto hit = IntersectBox(o, dir, boxes[b].first, boxes[b].second);
        if (hit && (!first || hit->t < first->t))
            first = hit, s.face = static_cast<int>(7 * b + 3) + static_cast<int>(hit->normal.Dot({1, 2, 3}));
    }
    if (!first)
        return s;
    const CbVector3f n = first->normal;
    s.t = first->t;
    s.p = o + dir * static_cast<float>(s.t);
    const double toCamera = angleDeg(n, -dir), toProjector = angleDeg(n, (projector - s.p).Normalized());
    // Near the incidence limit the pixel may go either way; faces on the plate are hidden by the disc.
    s.clear = std::fabs(toCamera - 75) > 1 && std::fabs(toProjector - 75) > 1 && n.z < 0.5f;
    s.lit = toCamera < 75 && toProjector < 75;
    const CbVector3f from = s.p + n * 1e-3f, toProjector3 = projector - from;
    for (const auto& [lo, hi] : boxes) {
        const auto blocker = IntersectBox(from, toProjector3.Normalized(), lo, hi);
        s.shadowed = s.shadowed || (blocker && blocker->t < toProjector3.Length());
    }
    return s;
}

}  // namespace

// Measured where camera and projector see the first face hit within the incidence limit, unshadowed,
// at the closed-form range and point (noise: moved by the disturbance); pixels on a border left out.
TEST(VirtualScanner, RecordingsOfBoxScenesMatchTheClosedFormPixelByPixel) {
    const Boxes box = {{{-10, -10, -6}, {10, 10, 0}}};
    const Boxes pillar = {{{-20, -20, -2}, {20, 20, 0}}, {{-3, -3, -25}, {3, 3, -2}}};  // on a slab
    const std::tuple<Boxes, std::array<float, 5>, Sim::RegistrationNoise, int> cases[] = {
        {box, {0, 90, 90, 0, 0}, {}, 0},  // at home
        {box, {20, 60, 110, -10, 45}, {0.2f, 0.05f}, 0},
        {pillar, {0, 90, 90, 0, 0}, {}, 100},
        {pillar, {0, 90, 90, 0, 135}, {}, 100}};
    const ZoCOrbal2DeviceConfig device;
    for (const auto& [boxes, joints, noise, minShadowed] : cases) {
        const Config config(joints.data());
        Sim::TriangleMesh scene;
        for (const auto& [lo, hi] : boxes)
            scene.Append(BoxMesh(lo, hi));
        Sim::VirtualScannerOptions options = SmallImage();
        options.noise = noise;
        Sim::VirtualScanner scanner(device, scene, options);
        const Sim::RecordedImage image = scanner.Record(config);
        EXPECT_EQ(image.exactRegistration, device.m_axisChain.GetCamToDiscTransformation(config, true));
        // The registration: the exact one moved rigidly by the noise's size (mm x 40), drawn anew each time.
        const CbMatrix4Rf camToDisc = device.m_axisChain.GetCamToDiscTransformation(config, false);
        const CbMatrix4Rf d = image.registration * image.exactRegistration.Inverted();  // the disturbance
        EXPECT_NEAR(std::acos(std::min(1.0, (d(0, 0) + d(1, 1) + d(2, 2) - 1) / 2.0)) * 57.2957795,
                    noise.rotationDeg, 2e-3);
        EXPECT_NEAR(CbVector3f(d(0, 3), d(1, 3), d(2, 3)).Length(), noise.translationMm * 40, 1e-3);
        EXPECT_EQ(scanner.Record(config).registration == image.registration, noise.rotationDeg == 0);
        const CbVector3f projector = eyeOnDisc(camToDisc, scanner.GetProjector());
        const ZoCFieldCoord fromRays(&image.rays, image.range, &image.registration);
        int checked = 0, measured = 0, shadowed = 0, masked = 0;
        for (int y = 0; y < scanner.GetHeight(); ++y)
            for (int x = 0; x < scanner.GetWidth(); ++x) {
                const bool got = image.mask.At(x, y) != 0;
                masked += got;
                if (!got)
                    EXPECT_EQ(image.coords.At(x, y), image.coords.GetInvalidValue());
                else
                    ASSERT_LT((fromRays.At(x, y) - image.coords.At(x, y)).Length(), 1e-3f);
                const Seen s = see(scanner, camToDisc, boxes, x, y, projector);
                const bool expected = s.lit && !s.shadowed;
                bool stable = s.clear;
                for (const auto& [dx, dy] : {std::pair{-0.3, 0.0}, {0.3, 0.0}, {0.0, -0.3}, {0.0, 0.3}}) {
                    const Seen n = see(scanner, camToDisc, boxes, x + dx, y + dy, projector);
                    stable = stable && n.face == s.face && (n.lit && !n.shadowed) == expected;
                }
                if (!stable)
                    continue;
                ++checked;
                ASSERT_EQ(got, expected) << x << ", " << y << " at L5 " << config[4];
                shadowed += s.lit && s.shadowed;
                if (!expected)
                    continue;
                ++measured;
                EXPECT_NEAR(image.range.At(x, y), s.t * 40.0, 0.01);
                // 0.05 image-area units: about a micrometre, above single-precision rounding at 150 mm.
                ASSERT_LT((image.coords.At(x, y) - d.TransformPoint(s.p * 40.0f)).Length(), 0.05f);
            }
        EXPECT_EQ(image.measuredPixels, masked);
        EXPECT_GT(checked, 2000);
        EXPECT_GT(measured, 1000);
        EXPECT_GE(shadowed, minShadowed);  // a sizeable shadow, for the test to mean anything
    }
}

// No model: an invalid scanner and empty recordings. Camera below the plate: the disc hides the model.
TEST(VirtualScanner, NothingIsMeasuredWithoutAModelOrFromBelowThePlate) {
    const ZoCOrbal2DeviceConfig device;
    const Config below(std::array<float, 5>{0, 90, -15, 0, 0}.data());
    Sim::VirtualScanner none(device, Sim::TriangleMesh{}, SmallImage());
    EXPECT_TRUE(!none.IsValid() && !none.GetError().empty());
    EXPECT_EQ(none.Record(below).measuredPixels, 0);
    Sim::VirtualScannerOptions noDisc = SmallImage();
    noDisc.discRadius = 0;
    const Sim::TriangleMesh box = BoxMesh({-10, -10, -6}, {10, 10, 0});
    EXPECT_EQ(Sim::VirtualScanner(device, box, SmallImage()).Record(below).measuredPixels, 0);
    EXPECT_GT(Sim::VirtualScanner(device, box, noDisc).Record(below).measuredPixels, 100);
}
