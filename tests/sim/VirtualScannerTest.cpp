// The virtual scanner's recordings against the kinematics and the camera model, computed in
// closed form for boxes and quads.
#include "SceneFixtures.h"
#include "SyntheticModels.h"
#include "VirtualScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace simtest;

namespace {
// A quarter of the device's resolution in each direction keeps the suite fast; the field of
// view is the same, so a pixel covers about 0.3 mm at the working distance.
Sim::VirtualScannerOptions smallImage() {
    Sim::VirtualScannerOptions options;
    options.width = 320;
    options.height = 256;
    return options;
}

const CbVector3f c_boxLo(-10, -10, -6), c_boxHi(10, 10, 0);

Config home() {
    Config c;
    ZoCOrbal2AxisChain().GetNeutralConfiguration(c);
    return c;
}

// Tolerance for coordinates against the closed-form hit: well below a pixel's footprint, above
// single-precision rounding at 150 mm (image-area units).
constexpr float c_fCoordTolerance = 0.04f;  // 1 micrometre
}  // namespace

TEST(VirtualScanner, EmptyModelGivesAnInvalidScannerAndEmptyRecordings) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, Sim::TriangleMesh{}, smallImage());
    EXPECT_FALSE(scanner.IsValid());
    EXPECT_FALSE(scanner.GetError().empty());
    const Sim::RecordedImage image = scanner.Record(home());
    EXPECT_EQ(image.range.GetWidth(), 320);
    EXPECT_EQ(image.measuredPixels, 0);
    EXPECT_TRUE(image.coords.RectValid().IsEmpty());
}

// Every pixel of the box, hit in closed form, is measured exactly where the camera and the
// projector see the face within the incidence limit, at the predicted range and coordinate.
TEST(VirtualScanner, BoxRecordingMatchesTheClosedFormPixelByPixel) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, BoxMesh(c_boxLo, c_boxHi), smallImage());
    const double limit = 75.0, margin = 1.0;
    for (const Config& config : {home(), MakeConfig(20, 60, 110, -10, 45)}) {
        const Sim::RecordedImage image = scanner.Record(config);
        const CbMatrix4Rf camToDisc = device.m_axisChain.GetCamToDiscTransformation(config, false);
        const CbVector3f projector = EyeOnDisc(camToDisc, scanner.GetProjector());
        int checked = 0, measured = 0;
        for (int y = 0; y < scanner.GetHeight(); ++y)
            for (int x = 0; x < scanner.GetWidth(); ++x) {
                const DiscRay ray = PixelRayOnDisc(scanner, config, x, y);
                const auto hit = IntersectBox(ray.origin, ray.direction, c_boxLo, c_boxHi);
                if (!hit) {
                    EXPECT_EQ(image.mask.At(x, y), 0) << x << ", " << y;
                    continue;
                }
                const CbVector3f p = ray.origin + ray.direction * static_cast<float>(hit->t);
                const double toCamera = AngleDeg(hit->normal, -ray.direction);
                const double toProjector = AngleDeg(hit->normal, (projector - p).Normalized());
                // The plate's own face (z = 0) is hidden by the disc; near the limit or a face's
                // edge the pixel may go either way.
                if (hit->normal.z > 0.5f || std::fabs(toCamera - limit) < margin ||
                    std::fabs(toProjector - limit) < margin)
                    continue;
                const float faceDistances[6] = {p.x - c_boxLo.x, c_boxHi.x - p.x, p.y - c_boxLo.y,
                                                c_boxHi.y - p.y, p.z - c_boxLo.z, c_boxHi.z - p.z};
                if (std::count_if(faceDistances, faceDistances + 6, [](float d) { return d < 0.05f; }) >= 2)
                    continue;  // on an edge, where either face may be hit first
                ++checked;
                const bool expected = toCamera < limit && toProjector < limit;
                ASSERT_EQ(image.mask.At(x, y) != 0, expected) << x << ", " << y;
                if (!expected)
                    continue;
                ++measured;
                EXPECT_NEAR(image.range.At(x, y), hit->t * 40.0, 0.01);
                const CbVector3f c = image.coords.At(x, y);
                EXPECT_NEAR(c.x, p.x * 40.0f, c_fCoordTolerance);
                EXPECT_NEAR(c.y, p.y * 40.0f, c_fCoordTolerance);
                EXPECT_NEAR(c.z, p.z * 40.0f, c_fCoordTolerance);
            }
        EXPECT_GT(checked, 2000);
        EXPECT_GT(measured, 1000);
        int64_t maskCount = 0;
        for (int y = 0; y < scanner.GetHeight(); ++y)
            for (int x = 0; x < scanner.GetWidth(); ++x)
                maskCount += image.mask.At(x, y) != 0;
        EXPECT_EQ(image.measuredPixels, maskCount);
    }
}

// A slab with a pillar standing on it: where the pillar hides the projector's eye from a point
// of the slab that the camera sees, the pixel is not measured.
TEST(VirtualScanner, ProjectorShadowsAreNotMeasured) {
    const ZoCOrbal2DeviceConfig device;
    const CbVector3f slabLo(-20, -20, -2), slabHi(20, 20, 0);
    const CbVector3f pillarLo(-3, -3, -25), pillarHi(3, 3, -2);
    Sim::TriangleMesh scene = BoxMesh(slabLo, slabHi);
    scene.Append(BoxMesh(pillarLo, pillarHi));
    Sim::VirtualScanner scanner(device, scene, smallImage());
    for (const Config& config : {home(), MakeConfig(0, 90, 90, 0, 135)}) {
        const Sim::RecordedImage image = scanner.Record(config);
        const CbVector3f projector =
            EyeOnDisc(device.m_axisChain.GetCamToDiscTransformation(config, false), scanner.GetProjector());
        // Whether the pixel ray (offset within the pixel) meets the slab's top first, and
        // whether that point is in the pillar's shadow.
        auto classify = [&](double x, double y, bool& onSlabTop, bool& shadowed) {
            const DiscRay ray = PixelRayOnDisc(scanner, config, x, y);
            const auto slab = IntersectBox(ray.origin, ray.direction, slabLo, slabHi);
            const auto pillar = IntersectBox(ray.origin, ray.direction, pillarLo, pillarHi);
            onSlabTop = slab && slab->normal.z < -0.5f && (!pillar || pillar->t > slab->t);
            if (!onSlabTop)
                return;
            const CbVector3f p = ray.origin + ray.direction * static_cast<float>(slab->t);
            const CbVector3f toProjector = projector - p;
            const auto blocker = IntersectBox(p, toProjector.Normalized(), pillarLo, pillarHi);
            shadowed = blocker && blocker->t < toProjector.Length();
        };
        int lit = 0, dark = 0;
        for (int y = 0; y < scanner.GetHeight(); ++y)
            for (int x = 0; x < scanner.GetWidth(); ++x) {
                bool onTop = false, shadowed = false, stable = true;
                classify(x, y, onTop, shadowed);
                if (!onTop)
                    continue;
                // Pixels whose quarter-pixel neighbours classify differently straddle a border.
                for (const auto& [dx, dy] : {std::pair{-0.3, 0.0}, {0.3, 0.0}, {0.0, -0.3}, {0.0, 0.3}}) {
                    bool onTop2 = false, shadowed2 = false;
                    classify(x + dx, y + dy, onTop2, shadowed2);
                    stable = stable && onTop2 && shadowed2 == shadowed;
                }
                if (!stable)
                    continue;
                ASSERT_EQ(image.mask.At(x, y) == 0, shadowed) << x << ", " << y << " at L5 " << config[4];
                (shadowed ? dark : lit) += 1;
            }
        EXPECT_GT(dark, 100) << "the pillar must cast a sizeable shadow for the test to mean anything";
        EXPECT_GT(lit, 1000);
    }
}

// With the camera below the plate, the disc hides a model standing on it.
TEST(VirtualScanner, DiscHidesTheModelFromBelow) {
    const ZoCOrbal2DeviceConfig device;
    const Config below = MakeConfig(0, 90, -15, 0, 0);
    const CbMatrix4Rf camToDisc = device.m_axisChain.GetCamToDiscTransformation(below, false);
    ASSERT_GT(EyeOnDisc(camToDisc, device.m_camProjCalib.GetCamera()).z, 0.0f)
        << "the camera must be below the plate";
    const Sim::TriangleMesh box = BoxMesh(c_boxLo, c_boxHi);
    Sim::VirtualScanner onDisc(device, box, smallImage());
    EXPECT_EQ(onDisc.Record(below).measuredPixels, 0);
    Sim::VirtualScannerOptions noDisc = smallImage();
    noDisc.discRadius = 0;
    Sim::VirtualScanner floating(device, box, noDisc);
    EXPECT_GT(floating.Record(below).measuredPixels, 100);
}
