// The scan-body steering: view cones about the body's axis, the gyration and the orientation view.
#include "AcquisitionPlanningStore.h"
#include "ViewCheck.h"

#include <cmath>

namespace {

using Scanbody = ZoCAcquisitionSteeringOrbal2Scanbody;
using namespace gyrationtest;
constexpr float c_fPi = 3.14159265f;

// How far a direction's azimuth (from x, about the vertical) lies from `want`, radians.
double azimuthOff(const CbVector3f& d, float want) {
    return std::remainder(std::atan2(d.y, d.x) - want, 2 * c_fPi);
}

// An upright body's top `height` mm above disc point (x, y), image-area units (40 per mm, z into the disc).
CyRay uprightBody(float x, float y, float height) {
    return CyRay(CbVector3f(40 * x, 40 * y, -40 * height), CbVector3f(0, 0, -1));
}

CbVector3f viewDirection(int k, float cone, float offset, const CbMatrix4Rf& m) {
    float out[3];
    Scanbody::calcViewDirForScanBodyGyration(out, k, cone, 0.7853982f, offset, m);
    return {out[0], out[1], out[2]};
}

}  // namespace

// z turns into the axis (not turned about a near-vertical one); views: on the cone, straight down past 90.
TEST(ZoCAcquisitionSteeringOrbal2Scanbody, LaysViewDirectionsOnTheConeAroundTheAxisAtEvenAzimuths) {
    const Scanbody steering(c_device);
    const float axes[][3] = {{0, 0, 1},     {1e-8f, 2e-8f, 1},  {1, 0, 0},
                             {-1, 2, 0.5f}, {-0.2f, -0.1f, -1}, {0, 0, -3}};
    for (const auto& a : axes) {
        SCOPED_TRACE(&a - axes);
        const CbMatrix4Rf m = steering.calcTrafoZAxisToRayDir(a);
        const CbVector3f axis = CbVector3f(a[0], a[1], a[2]).Normalized();
        EXPECT_NEAR((m.TransformDirection(CbVector3f(0, 0, 1)) - axis).Length(), 0, 1e-5);
        for (int k = 0; k < 8; ++k) {
            const CbVector3f d = viewDirection(k, 0.6f, 0.1f, m);
            EXPECT_NEAR(angleDegrees(d, -axis), 0.6 * 57.29578, 1e-3) << k;
            if (&a - axes < 2) {
                EXPECT_NEAR(azimuthOff(d, k * c_fPi / 4 + 0.1f), 0, 1e-5) << k;
            }
        }
        EXPECT_EQ(viewDirection(2, 1.6f, 0.3f, m), CbVector3f(0, 0, -1));
    }
}

// The tilts may swing 89.99 degrees about home within their limits; without a camera nothing is planned.
TEST(ZoCAcquisitionSteeringOrbal2Scanbody, ConstructionWidensTheTiltsAndWithoutCameraPlansNothing) {
    Scanbody steering(c_device);
    const auto& store = dynamic_cast<AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning());
    EXPECT_EQ(std::make_pair(store.UpdateCalls(), store.AcquisitionType().value()),
              std::make_pair(1, ZoCOrbal2AcquisitionPlanning::eTypeGyration));
    const auto tilts = store.JointParameters().value();
    EXPECT_THAT((std::vector<float>{tilts[1].minPosition, tilts[1].maxPosition, tilts[2].minPosition,
                                    tilts[2].maxPosition}),
                allNear({30, 150, 0.01f, 150}, 1e-4f));
    ZoCOrbal2DeviceConfig blind;
    blind.m_camProjCalib = ZoCCamProjCalib(ZoCAbstractCamCalib(), ZoCAbstractCamCalib(), 150);
    Scanbody without(blind);
    NSPlan seq;
    CbMatrix4Rf trafo;
    CyRay solved;
    EXPECT_FALSE(without.GetGyrationSequenceForUserDefinedRay(uprightBody(0, 0, 10), seq));
    EXPECT_FALSE(
        without.GetJointConfigurationForScanbodyOrientation(uprightBody(0, 0, 10), seq, trafo, 0, solved));
    // Untouched: the readiness query comes first.
    EXPECT_EQ(std::make_tuple(seq.GetCount(), seq.Advance(), without.GetImageWidth()),
              std::make_tuple(int64_t{1}, 0, 0));
}

// Eight views at their azimuths, 35 to 50 degrees (narrowed by tenths) about the top, seen in the image's
// centre half; the first out of reach ends them; eight advance the stump.
TEST(ZoCAcquisitionSteeringOrbal2Scanbody, GyratesEightViewsAroundTheBodysTopUntilOneIsOutOfReach) {
    const std::tuple<CyRay, int, int> cases[] = {{uprightBody(0, 0, 10), 8, 8},
                                                 {uprightBody(-19.2f, 14.4f, 10), 1, 7},
                                                 {uprightBody(0, 0, 300), 0, 0}};
    for (const auto& [ray, least, most] : cases) {
        SCOPED_TRACE(most);
        Scanbody steering(c_device);
        NSPlan seq;
        ASSERT_TRUE(steering.GetGyrationSequenceForUserDefinedRay(ray, seq));
        const int count = static_cast<int>(seq.GetCount());
        ASSERT_TRUE(count >= least && count <= most) << count;
        EXPECT_EQ(seq.Advance(), count == 8 ? 1 : 0);
        for (int k = 0; k < count; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(seq[k].m_strName.str(), formatted(L"%03d_S%d_%d", seq.number + k, seq.stump, k + 5));
            EXPECT_EQ(seq[k].m_byFlag, 1);
            const NSView view = viewOf(seq[k].m_config, ray.origin * 0.025f);
            EXPECT_TRUE(inCentralHalf(view) && std::fabs(view.depth - 150) < 19.5) << view.u << "," << view.v;
            const CbVector3f planning = toPlanningDirection(view.viewInDisc);
            const double cone = angleDegrees(planning, CbVector3f(0, 0, -1));
            EXPECT_TRUE(cone > 0.6 * 35 - 0.01 && cone < 50.01) << cone;
            EXPECT_NEAR(azimuthOff(planning, k * c_fPi / 4), 0, 1e-3);
        }
    }
}

// The orientation view looks against the axis at the top in the image centre; image-area axes' own scales
// move points but turn directions only by their rotation.
TEST(ZoCAcquisitionSteeringOrbal2Scanbody, OrientationViewLooksAlongTheAxisAtTheBodysTop) {
    const CbMatrix4Rf stretched = CbMatrix4Rf::FromRows({2, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    const struct {
        CyRay ray;
        CbMatrix4Rf imageAreaToDisc;
        float cone;
        CbVector3f view;  // in the disc frame; zero: out of reach
    } cases[] = {
        {uprightBody(0, 0, 10), c_matIdentity, 0, {0, 0, 1}},
        {{{0, 0, -400}, {0.2f, 0, -1}}, stretched, 0, CbVector3f(-0.2f, 0, 1).Normalized()},
        {{{0, 0, -400}, {0.4f, 0.1f, -1}}, c_matIdentity, 2.0f, {0, 0, 1}},
        {{{0, 0, -400}, {0, 0, 1}}, c_matIdentity, 0, {}},  // looking up at the body from beneath the disc
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Scanbody steering(c_device);
        steering.SetTrafoImageAreaToDisc(c.imageAreaToDisc);
        NSPlan seq;
        CbMatrix4Rf trafo = CbMatrix4Rf::Scaling(2);
        CyRay solved(CbVector3f(1, 2, 3), CbVector3f(0, 1, 0));
        const bool reachable = c.view.Length() > 0;
        EXPECT_EQ(steering.GetJointConfigurationForScanbodyOrientation(c.ray, seq, trafo, c.cone, solved),
                  reachable);
        EXPECT_EQ(seq.Advance(), reachable ? 1 : 0);
        if (!reachable) {
            EXPECT_EQ(seq.GetCount(), 0);
            EXPECT_TRUE(trafo == CbMatrix4Rf::Scaling(2) && solved.origin == CbVector3f(1, 2, 3));
            continue;
        }
        ASSERT_EQ(seq.GetCount(), 1);
        EXPECT_EQ(seq[0].m_strName.str(), formatted(L"%03d_S%d_%d", seq.number, seq.stump + 1, 0));
        EXPECT_EQ(std::make_pair(seq[0].m_iOrientationScan, seq[0].m_iKeepRegistration),
                  std::make_pair(1, 1));
        EXPECT_EQ(trafo, CbMatrix4Rf::Translation(640, 512, 2048));
        const NSView view = viewOf(seq[0].m_config, c.imageAreaToDisc.TransformPoint(c.ray.origin) * 0.025f);
        EXPECT_LT(std::hypot(view.u - 640, view.v - 512), 0.5);
        EXPECT_NEAR(angleDegrees(view.viewInDisc, c.view), 0, 0.01);
        EXPECT_NEAR((solved.origin - c.ray.origin).Length(), 0, 0.5);  // image-area units
        EXPECT_NEAR((solved.direction - c.view).Length(), 0, 1e-4);
    }
}
