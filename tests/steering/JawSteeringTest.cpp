// The jaw steering: jaw line, regions of interest, hand-over to the planning, overview and
// the tilted scans along the jaw line.
#include "CapturingLogSink.h"
#include "ReferenceDevice.h"
#include "SteeringTestSupport.h"

#include <cfloat>
#include <cmath>

namespace {

using Jaw = ZoCAcquisitionSteeringOrbal2Jaw;
using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;

// A jaw steering with access to its planning store.
class TestJaw : public Jaw {
public:
    explicit TestJaw(bool tripleTray = false, bool extended = false, bool skipLimit = false,
                     const ZoCOrbal2DeviceConfig& device = ZoCOrbal2DeviceConfig())
        : Jaw(device, tripleTray, extended, skipLimit) {}
    AcquisitionPlanningStore& Store() { return dynamic_cast<AcquisitionPlanningStore&>(*GetAcquisitionPlanning()); }
    void SetLastRequest(const ZoCOrbal2AxisChain::NCJointConfiguration& c) { m_lastRequest.m_config = c; }
    // Refreshes neutral values and limits as every planner does first.
    void Refresh() {
        NCJointConfiguration neutral;
        refreshNeutralAndLimits(neutral);
    }
    CbVector3f LL(int i) const {
        std::vector<CbVector3f> all(m_ciMaxNumPts);
        GetLL(all.data());
        return all[static_cast<size_t>(i)];
    }
};

// An arch of the given radii (mm) about the disc centre from 40 to 320 degrees, at height
// `heightMm` above the plate, in image-area coordinates; clockwise when `reversed`.
CyHermiteSpline arch(float rx = 22, float ry = 26, float heightMm = 18, bool reversed = false) {
    std::vector<CbVector3f> points;
    for (int i = 0; i < 13; ++i) {
        const float a = (40.0f + 280.0f * static_cast<float>(i) / 12.0f) * 0.017453292f;
        points.push_back({40 * rx * std::cos(a), 40 * ry * std::sin(a), -40 * heightMm});
    }
    if (reversed) std::reverse(points.begin(), points.end());
    return CyHermiteSpline(points);
}

CyHermiteSpline straight(float length) { return CyHermiteSpline({{0, 0, 0}, {length / 2, 0, 0}, {length, 0, 0}}); }

// A device whose disc is limited to [lo, hi] degrees.
ZoCOrbal2DeviceConfig deviceWithDiscLimits(float lo, float hi) {
    auto joints = ReferenceDevice::Joints();
    const auto& l5 = joints[4];
    joints[4] = ZoCOrbal2DenavitHartenbergJoint(l5.GetTheta(), l5.GetD(), l5.GetA(), l5.GetAlpha(), l5.GetKind(), lo, hi);
    return ZoCOrbal2DeviceConfig{ZoCOrbal2AxisChain(joints, ReferenceDevice::Home()), ZoCCamProjCalib()};
}

ZoCOrbal2DeviceConfig deviceWithoutNeutral() {
    return ZoCOrbal2DeviceConfig{ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false),
                                 ZoCCamProjCalib()};
}

// The tilted scans along the jaw line of an arch at `heightMm`, from the home configuration;
// `tooHigh` receives the planner's answer.
Sequence phases(TestJaw& jaw, float heightMm, bool tripleTray = false, bool* tooHigh = nullptr) {
    jaw.ExtractLLFromSkeleton(arch(22, 26, heightMm), -500);
    jaw.Refresh();
    Sequence seq;
    ZoCOrbal2AxisChain::NSConfigurationRequest req;
    req.m_config = ReferenceDevice::Home();
    const bool high = jaw.calculateJointPositionsForTiltedRecordsAlongLL_Phases(seq, req, false, tripleTray);
    if (tooHigh) *tooHigh = high;
    return seq;
}

std::wstring nameSuffix(const Sequence& seq, int i) {
    const std::wstring& n = seq[i].m_strName.str();
    return n.substr(n.find(L'_'));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and the jaw line

TEST(ZoCAcquisitionSteeringOrbal2Jaw, ConstructionNarrowsLimitsUnlessSkipped) {
    TestJaw narrowed(false, false, false);
    EXPECT_EQ(narrowed.Store().UpdateCalls(), 1);
    EXPECT_EQ(narrowed.Store().ModeFlag(), false);
    EXPECT_EQ(narrowed.Store().AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeJaw);
    TestJaw skipped(true, false, true);
    EXPECT_EQ(skipped.Store().UpdateCalls(), 0);
    EXPECT_EQ(skipped.Store().ModeFlag(), true);
    EXPECT_EQ(skipped.Store().AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeTripleTray);
    EXPECT_EQ(skipped.GetNumberOfUsedPoints(), 2048);
    EXPECT_EQ(skipped.GetLastRequest().m_config, ReferenceDevice::Home());
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, JawLineHasHalfThePointsOfItsLengthWithinThreeAndTheCapacity) {
    TestJaw jaw;
    for (const auto& [length, used] : {std::pair{3, 3}, std::pair{10000, 2048}, std::pair{1000, 500}}) {
        jaw.ExtractLLFromSkeleton(straight(static_cast<float>(length)), -500);
        EXPECT_EQ(jaw.GetNumberOfUsedPoints(), used) << length;
    }
    // Points are one step apart, in disc millimetres; the last lies one step before the end.
    EXPECT_NEAR(jaw.LL(1).x - jaw.LL(0).x, 2 * 0.025f, 1e-4);
    EXPECT_NEAR(jaw.LL(499).x, 998 * 0.025f, 1e-3);
    EXPECT_EQ(jaw.LL(500), CbVector3f());  // beyond the used points: zero
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, ClockwiseSkeletonIsReversedAndItsRegionsMirrored) {
    TestJaw ccw, cw;
    const float areaCcw = ccw.ExtractLLFromSkeleton(arch(), -500);
    const float areaCw = cw.ExtractLLFromSkeleton(arch(22, 26, 18, true), -500);
    EXPECT_GT(areaCcw, 0);
    EXPECT_NEAR(areaCw, -areaCcw, 1e-3 * areaCcw);
    const int n = ccw.GetNumberOfUsedPoints();
    ASSERT_EQ(cw.GetNumberOfUsedPoints(), n);
    // Both run counter-clockwise; the clockwise samples start one step later along the arch.
    const float step = (ccw.LL(1) - ccw.LL(0)).Length();
    EXPECT_LT((cw.LL(0) - ccw.LL(1)).Length(), 0.1f * step);
    EXPECT_LT((cw.LL(n - 1) - ccw.LL(n - 1)).Length(), 1.1f * step);
    EXPECT_GT(cw.LL(n / 4).x * ccw.LL(n / 4).x, 0);
    EXPECT_NEAR(ccw.LL(0).z, -18.0f, 1e-3);
    // Regions are given in the skeleton's arc lengths: on the clockwise one they run from the
    // other end of the reversed jaw line.
    const float length = cw.GetLLLength();
    CbList<std::pair<float, float>> list;
    list.AddTail({0.1f * length, 0.3f * length});
    ccw.SetROI(list);
    cw.SetROI(list);
    EXPECT_NEAR(cw.GetROIIndices()[0], 0.7f * (n - 1), 2);
    EXPECT_NEAR(cw.GetROIIndices()[1], 0.9f * (n - 1), 2);
    EXPECT_NEAR(ccw.GetROIIndices()[0], 0.1f * (n - 1), 2);
    EXPECT_NEAR(ccw.GetROIIndices()[1], 0.3f * (n - 1), 2);
    // An infinite region covers the whole line and marks the area positive.
    CbList<std::pair<float, float>> infinite;
    infinite.AddTail({-FLT_MAX, 5.0f});
    cw.SetROI(infinite);
    EXPECT_EQ(cw.GetLLArea(), 1.0f);
    EXPECT_EQ(std::vector<int>(cw.GetROIIndices(), cw.GetROIIndices() + 2), (std::vector<int>{0, n - 1}));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, LowerThresholdIsClampedAndNegatedForTheTray) {
    TestJaw jaw;
    for (const auto& [set, kept] : {std::pair{-300, -400}, std::pair{-700, -600}, std::pair{-450, -450}}) {
        jaw.SetLowerThreshold(set);
        EXPECT_EQ(jaw.GetLowerThreshold(), kept) << set;
    }
    TestJaw tray(true, false, true);
    tray.SetLowerThreshold(-300);
    EXPECT_EQ(tray.GetLowerThreshold(), 400);
    tray.ExtractLLFromSkeleton(arch(), -700);
    EXPECT_EQ(tray.GetLowerThreshold(), 600);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, NearestJawLinePointIsSearchedInAWindow) {
    TestJaw jaw;
    jaw.ExtractLLFromSkeleton(straight(1000), -500);  // 500 points, 0.05 mm apart
    EXPECT_EQ(jaw.findIndexOnLL(jaw.LL(100), 90), 100);
    EXPECT_EQ(jaw.findIndexOnLL(jaw.LL(100), 60), 91);  // the window [28, 92) ends before 100
    EXPECT_EQ(jaw.findIndexOnLL(jaw.LL(0), 10), 0);
    EXPECT_EQ(jaw.findIndexOnLL(jaw.LL(0), 600), -1);  // empty window
}

// ---------------------------------------------------------------------------------------------
// Regions of interest

TEST(ZoCAcquisitionSteeringOrbal2Jaw, RegionsOnAStraightSkeletonFollowItsArcLengths) {
    TestJaw jaw;
    EXPECT_EQ(jaw.ExtractLLFromSkeleton(straight(1000), -500), 0.0f);  // no enclosed area
    jaw.SetROI(CbList<std::pair<float, float>>());
    EXPECT_EQ(std::vector<int>(jaw.GetROIIndices(), jaw.GetROIIndices() + 3), (std::vector<int>{0, 499, -1}));
    EXPECT_EQ(jaw.GetPrepFlags()[0], 0);
    // Presumed preparations every 146 points (a fourteenth of the capacity), centred.
    EXPECT_EQ(std::vector<int>(jaw.GetPrepIndices(), jaw.GetPrepIndices() + 4), (std::vector<int>{73, 219, 365, -1}));
    // Arc length s lies at x = s, which is jaw-line point s / 2.
    CbList<std::pair<float, float>> list;
    list.AddTail({100.0f, 300.0f});
    list.AddTail({800.0f, 900.0f});  // the scaled index 399 is refined to the nearest point, 400
    jaw.SetROI(list);
    EXPECT_EQ(std::vector<int>(jaw.GetROIIndices(), jaw.GetROIIndices() + 5), (std::vector<int>{50, 150, 400, 450, -1}));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, SkeletonWithANonFiniteKnotGivesNoJawLine) {
    TestJaw jaw;
    jaw.ExtractLLFromSkeleton(straight(1000), -500);
    const CbVector3f kept = jaw.LL(10);
    for (const float bad : {NAN, INFINITY, -3e38f}) {
        SCOPED_TRACE(bad);
        ScopedLogCapture capture;
        EXPECT_EQ(jaw.ExtractLLFromSkeleton(CyHermiteSpline({{0, 0, 0}, {bad, 0, 0}, {1000, 0, 0}}), -450), 0.0f);
        const auto lines = capture.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(L"Condition failed"), std::wstring::npos);
        // The jaw line and threshold of the last good skeleton stay.
        EXPECT_EQ(jaw.GetNumberOfUsedPoints(), 500);
        EXPECT_EQ(jaw.LL(10), kept);
        EXPECT_EQ(jaw.GetLowerThreshold(), -500);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, SurplusRegionsAndPrepsAreDroppedAndDegenerateOnesSkipped) {
    TestJaw jaw;
    jaw.ExtractLLFromSkeleton(arch(), -500);
    const float length = jaw.GetLLLength();
    CbList<std::pair<float, float>> list;
    for (int i = 0; i < 20; ++i) list.AddTail({length * i / 20.0f, length * (i + 0.9f) / 20.0f});
    jaw.SetROI(list);
    EXPECT_EQ(jaw.getNumOfROIIntervals(), 16);
    EXPECT_EQ(jaw.GetNumOfPrepsInROI(), 20);
    CbList<std::pair<float, float>> many;
    for (int i = 0; i < 3; ++i) many.AddTail({0, length});
    jaw.SetROI(many);
    EXPECT_EQ(jaw.GetNumOfPrepsInROI(), 32);
    EXPECT_EQ(jaw.getNumOfROIIntervals(), 3);  // nothing left of the sixteen before
    CbList<std::pair<float, float>> degenerate;
    degenerate.AddTail({100.0f, 100.0f});
    jaw.SetROI(degenerate);
    EXPECT_EQ(jaw.getNumOfROIIntervals(), 0);
    EXPECT_EQ(jaw.GetNumOfPrepsInROI(), 0);
}

// ---------------------------------------------------------------------------------------------
// Hand-over to the planning

TEST(ZoCAcquisitionSteeringOrbal2Jaw, CentreLineReachesThePlanningInItsFrameWithRegionsOnlyWhenSet) {
    TestJaw jaw;
    jaw.ExtractLLFromSkeleton(arch(), -550);
    jaw.SetROI(CbList<std::pair<float, float>>());
    jaw.PutCenterLine();
    const auto line = jaw.Store().CenterLine();
    ASSERT_TRUE(line.has_value());
    const int used = jaw.GetNumberOfUsedPoints();
    ASSERT_EQ(line->points.size(), static_cast<size_t>(3 * used));
    const CbVector3f expected = ZoCPlanningFrame::DiscToPlanning(jaw.GetPlanningTransformation(), jaw.LL(7));
    EXPECT_FLOAT_EQ(line->points[21], expected.x);
    EXPECT_FLOAT_EQ(line->points[23], expected.z);
    EXPECT_EQ(line->roiIndices, (std::vector<int>{0, used - 1}));
    EXPECT_EQ(line->prepIndices.size(), static_cast<size_t>(jaw.GetNumOfPrepsInROI()));
    EXPECT_FLOAT_EQ(line->lowerThreshold, -550 * 0.025f);
    EXPECT_FALSE(line->modeFlag);
    // Without regions no region pointers are sent.
    TestJaw tray(true, false, true);
    tray.ExtractLLFromSkeleton(arch(), -500);
    tray.PutCenterLine();
    const auto trayLine = tray.Store().CenterLine();
    ASSERT_TRUE(trayLine.has_value());
    EXPECT_FALSE(trayLine->roiPresent || trayLine->prepsPresent);
    EXPECT_TRUE(trayLine->modeFlag);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, BorderAndSawCutsAreHandedOnOnlyWhenThereAreAny) {
    TestJaw jaw;
    jaw.SetJawlineBorder();
    EXPECT_TRUE(jaw.Store().JawBorder().empty());
    jaw.SetJawBorderPoints({{400, 0, 200}, {0, 800, -200}});
    jaw.SetJawlineBorder();
    const auto border = jaw.Store().JawBorder();
    ASSERT_EQ(border.size(), 6u);
    // z is negated before the disc transform and again for the planning frame.
    const CbVector3f expected = ZoCPlanningFrame::DiscToPlanning(jaw.GetPlanningTransformation(), {10, 0, -5});
    EXPECT_FLOAT_EQ(border[0], expected.x);
    EXPECT_FLOAT_EQ(border[2], expected.z);
    // Saw cuts are lowered and every other direction flipped.
    jaw.PutSawCuts({});
    EXPECT_TRUE(jaw.Store().SawCuts().empty());
    const CbVector3f d(0.6f, 0.8f, 0);
    jaw.PutSawCuts({{400, 400, -400}, d, {800, 0, -400}, d});
    const auto cuts = jaw.Store().SawCuts();
    ASSERT_EQ(cuts.size(), 12u);
    const CbVector3f p0 = ZoCPlanningFrame::DiscToPlanning(jaw.GetPlanningTransformation(), {10, 10, -10});
    EXPECT_FLOAT_EQ(cuts[0], p0.x);
    EXPECT_FLOAT_EQ(cuts[2], p0.z - 5);
    const CbVector3f dir = jaw.GetPlanningTransformation().TransformDirection({d.x, d.y, -d.z});
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(cuts[3 + k], dir[k], 1e-6);
        EXPECT_NEAR(cuts[9 + k], -dir[k], 1e-6);
    }
}

// ---------------------------------------------------------------------------------------------
// Disc angles and the overview

TEST(ZoCAcquisitionSteeringOrbal2Jaw, DiscAnglesOutsideTheRangeWrapOrTakeTheNearerBound) {
    // Disc limits, angle asked, angle given; equal limits leave the disc unlimited.
    struct Case { float lo, hi, in, out; };
    for (const Case c : {Case{-90, 270, 300, -60}, Case{-90, 270, -100, 260}, Case{-90, 270, 100, 100},
                         Case{0, 180, 200, 0}, Case{0, 180, -100, 180}, Case{5, 5, 400, 40}, Case{5, 5, -30, 330}}) {
        TestJaw jaw(false, false, false, deviceWithDiscLimits(c.lo, c.hi));
        jaw.Refresh();
        EXPECT_FLOAT_EQ(jaw.limitAngleL5(c.in), c.out) << c.lo << " " << c.hi << " " << c.in;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, OverviewRingTurnsTheDiscInEqualSteps) {
    TestJaw jaw;
    auto start = ReferenceDevice::Home();
    start[4] = 10;
    jaw.SetStartJointPositionOvw(start);
    Sequence seq;
    ASSERT_TRUE(jaw.GetJointConfigurationForOverview(seq));
    ASSERT_EQ(seq.GetCount(), 6);
    for (int k = 0; k < 6; ++k) {
        EXPECT_FLOAT_EQ(seq[k].m_config[4], 10 + 60.0f * k);
        EXPECT_EQ(nameSuffix(seq, k), L"_U0_" + std::to_wstring(k));
        EXPECT_EQ(seq[k].m_byFlag, 1);
        EXPECT_FLOAT_EQ(seq[k].m_config[1], 90);
    }
    EXPECT_EQ(jaw.GetOffsetAngle(), 310);
    EXPECT_EQ(jaw.GetLastRequest().m_config[4], 310);
    // Consecutive request numbers.
    const int first = std::stoi(seq[0].m_strName.str());
    EXPECT_EQ(std::stoi(seq[5].m_strName.str()), first + 5);
    TestJaw extended(false, true, false);
    ASSERT_TRUE(extended.GetJointConfigurationForOverview(seq));
    ASSERT_EQ(seq.GetCount(), 8);
    EXPECT_FLOAT_EQ(seq[3].m_config[4], 135);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, PlannersFailWithoutANeutralConfiguration) {
    TestJaw jaw(false, false, false, deviceWithoutNeutral());
    Sequence seq;
    seq.Add({});
    EXPECT_FALSE(jaw.GetJointConfigurationForOverview(seq));
    EXPECT_EQ(seq.GetCount(), 0);
    bool tooHigh = true;
    EXPECT_FALSE(jaw.GetJointConfigurationAlongLL(seq, tooHigh));
    EXPECT_TRUE(tooHigh);  // untouched
    EXPECT_FALSE(jaw.GetJointConfigurationForRequestsFromFile({}));
}

// ---------------------------------------------------------------------------------------------
// Scans along the jaw line

TEST(ZoCAcquisitionSteeringOrbal2Jaw, AlongTheJawLineFifteenImagesOrTwentyNineExtended) {
    // A straight line of 60 points of 2048 has one segment; of 1000 points, 5 * 0.49 rounds to two.
    struct Case { bool extended; CyHermiteSpline skeleton; int count; };
    for (const Case& c : {Case{false, arch(), 15}, Case{true, arch(), 29}, Case{false, straight(120), 7},
                          Case{false, straight(2000), 9}}) {
        TestJaw jaw(false, c.extended, false);
        jaw.ExtractLLFromSkeleton(c.skeleton, -500);
        Sequence seq;
        bool tooHigh = true;
        EXPECT_TRUE(jaw.GetJointConfigurationAlongLL(seq, tooHigh));
        EXPECT_FALSE(tooHigh);
        EXPECT_EQ(seq.GetCount(), c.count) << c.extended;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, PhasesTiltAsTheirFactorsSay) {
    TestJaw jaw;
    bool tooHigh = true;
    const Sequence seq = phases(jaw, 18, false, &tooHigh);  // 18 mm: lower than the L3 length
    ASSERT_FALSE(tooHigh);
    ASSERT_EQ(seq.GetCount(), 15);
    // L3 = 90 + sign * t3 with t3 = -factor * 60 degrees: five forward (-1), the far end, eight
    // back, the near end.
    const float l3[15] = {130, 130, 130, 130, 130, 45, 20, 20, 20, 20, 20, 20, 20, 20, 45};
    for (int k = 0; k < 15; ++k) {
        EXPECT_NEAR(seq[k].m_config[2], l3[k], 1e-3) << k;
        EXPECT_NEAR(seq[k].m_config[1], 90, 1e-3);
    }
    // The back phase stands 5 lower.
    EXPECT_NEAR(seq[7].m_config[3], 13, 1e-3);
    EXPECT_NEAR(seq[0].m_config[3], 18, 1e-3);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, TripleTrayModeTiltsLessAndTakesOneMoreForwardImage) {
    TestJaw jaw;
    const Sequence seq = phases(jaw, 18, true);
    // 6 forward, 1 far end, 6 back, 1 near end.
    ASSERT_EQ(seq.GetCount(), 14);
    EXPECT_NEAR(seq[0].m_config[2], 90 + 0.45f * 60, 1e-3);
    EXPECT_NEAR(seq[6].m_config[2], 90 - 0.25f * 60, 1e-3);
    EXPECT_NEAR(seq[7].m_config[2], 90 - 0.16666667f * 60, 1e-3);
    EXPECT_NEAR(seq[13].m_config[2], 90 - 0.5f * 60, 1e-3);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, DiscAnglesBringEachPhasesJawLinePointToTheTiltCentre) {
    TestJaw jaw;
    const Sequence seq = phases(jaw, 18);
    ASSERT_EQ(jaw.GetNumberOfUsedPoints(), 2048);
    // Five segments of 409 points: forward from 204 in steps of 409, the far end at 1840, back
    // from 1704 in eight steps of 194, the near end at 204.
    const int index[15] = {204, 613, 1022, 1431, 1840, 1840, 1704, 1510, 1316, 1122, 928, 734, 540, 346, 204};
    ASSERT_EQ(seq.GetCount(), 15);
    const ZoCOrbal2AxisChain chain;
    for (int k = 0; k < 15; ++k) {
        SCOPED_TRACE(k);
        // With the disc turned to this request's L5, the tilt centre lies over the jaw-line
        // point of the phase's index, in the same direction from the disc axis.
        auto config = ReferenceDevice::Home();
        config[4] = seq[k].m_config[4];
        const CbVector3f centre = chain.GetCamToDiscTransformation(config, false).TransformPoint({0, 0, 0});
        const CbVector3f p = jaw.LL(index[k]);
        const float angle = std::atan2(centre.y, centre.x) - std::atan2(p.y, p.x);
        EXPECT_NEAR(std::remainder(angle, 2 * 3.14159265f), 0, 1e-3);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, TiltAnglesAreHeldInsideTheTiltJointsLimits) {
    TestJaw jaw;
    const ZoCOrbal2DenavitHartenbergJoint &l2 = jaw.GetAxisChain().GetDHJoint(1), &l3 = jaw.GetAxisChain().GetDHJoint(2);
    auto rad = [](float degrees) { return degrees * 0.017453292f; };
    float t2 = 0.1f, t3 = -0.2f;
    EXPECT_FALSE(jaw.limitTiltAngles(t2, t3));
    EXPECT_EQ(t2, 0.1f);
    EXPECT_EQ(t3, -0.2f);
    // Each angle on its own: beyond the lower or upper limit it is set onto that limit.
    struct Case { float t2, t3, expected2, expected3; };
    for (const Case c : {Case{-3, 0, rad(l2.GetMinPosition() - l2.GetAngleOffset()), 0},
                         Case{3, 0, rad(l2.GetMaxPosition() - l2.GetAngleOffset()), 0},
                         Case{0, -3, 0, rad(l3.GetMinPosition() - l3.GetAngleOffset())},
                         Case{0, 3, 0, rad(l3.GetMaxPosition() - l3.GetAngleOffset())}}) {
        t2 = c.t2;
        t3 = c.t3;
        EXPECT_TRUE(jaw.limitTiltAngles(t2, t3)) << c.t2 << " " << c.t3;
        EXPECT_NEAR(t2, c.expected2, 1e-5);
        EXPECT_NEAR(t3, c.expected3, 1e-5);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, HighModelTiltsLessAndNarrowsTheTiltJoints) {
    // asin(24 / zF) = 20 degrees: tilt 20, limit 50.
    const float height = 24.0f / std::sin(20 * 0.017453292f);
    TestJaw jaw;
    const Sequence seq = phases(jaw, height);
    const auto joints = jaw.Store().JointParameters();
    EXPECT_NEAR(joints->at(1).minPosition, 40, 1e-2);
    EXPECT_NEAR(joints->at(1).maxPosition, 140, 1e-2);
    EXPECT_NEAR(seq[0].m_config[2], 90 + 0.6666667f * 20, 1e-2);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, VeryHighModelIsReportedTooHigh) {
    TestJaw jaw;
    jaw.ExtractLLFromSkeleton(arch(22, 26, 160), -500);
    Sequence seq;
    bool tooHigh = false;
    EXPECT_FALSE(jaw.GetJointConfigurationAlongLL(seq, tooHigh));
    EXPECT_TRUE(tooHigh);
    EXPECT_EQ(seq.GetCount(), 15);  // still built
    for (int k = 0; k < 15; ++k) {
        EXPECT_LE(seq[k].m_config[0], 50);  // L1 clamped to its limit
        EXPECT_LE(seq[k].m_config[3], 45);  // L4 clamped to its limit
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, ZLevelAveragesEveryFourthPointOfItsWindowOrTakesThePointAlone) {
    TestJaw jaw;
    // A ramp of 538 jaw-line points (half its length) whose height rises evenly along it.
    jaw.ExtractLLFromSkeleton(CyHermiteSpline({{0, 0, 0}, {500, 0, -200}, {1000, 0, -400}}), -500);
    ASSERT_LT(jaw.LL(200).z, jaw.LL(100).z);
    // Points 92, 96, 100, 104 average to the height of point 98.
    EXPECT_NEAR(jaw.calcZLevelOfLL(100, 8), -jaw.LL(98).z, 1e-4);
    // Without a window, or with one that leaves the line, the point's own height.
    EXPECT_EQ(jaw.calcZLevelOfLL(100, 0), -jaw.LL(100).z);
    EXPECT_EQ(jaw.calcZLevelOfLL(5, 8), -jaw.LL(5).z);
    ASSERT_EQ(jaw.GetNumberOfUsedPoints(), 538);
    EXPECT_EQ(jaw.calcZLevelOfLL(533, 8), -jaw.LL(533).z);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, ZCorrectionMovesWhatL4CannotReachToL1) {
    TestJaw jaw;
    ZoCOrbal2AxisChain::NSConfigurationRequest req;
    req.m_config[3] = 60;  // 15 beyond the L4 limit of 45
    EXPECT_NEAR(jaw.calcZcorrection(0, 0, req, false), 15, 1e-4);
    EXPECT_EQ(req.m_config[3], 45);
    req.m_config[3] = 10;
    const float angle = 0.5f;
    EXPECT_NEAR(jaw.calcZcorrection(4, angle, req, true), -std::sin(angle) * 4, 1e-5);
    req.m_config[3] = 400;  // L1 would have to reach 355
    EXPECT_NEAR(jaw.calcZcorrection(0, 0, req, true), 355, 1e-3);
    req.m_config[3] = 400;
    EXPECT_EQ(jaw.calcZcorrection(0, 0, req, false), 50);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, StartOfTheSequenceIsWhereTheAxesNeedLeastTime) {
    TestJaw jaw;
    Sequence seq;
    for (int k = 0; k < 6; ++k) {
        ZoCOrbal2AxisChain::NSConfigurationRequest r;
        r.m_config = ReferenceDevice::Home();
        r.m_config[4] = 60.0f * k;
        r.m_strName.Format(L"%d", k);
        seq.Add(r);
    }
    // The axes stand at L5 = 120: entering at index 2 saves most.
    auto last = ReferenceDevice::Home();
    last[4] = 120;
    jaw.SetLastRequest(last);
    EXPECT_EQ(jaw.getStartIndexForLLSequence(seq), 2);
    jaw.reArrangeSequence(seq, 2);
    std::vector<std::wstring> names;
    for (int k = 0; k < 6; ++k) names.push_back(seq[k].m_strName.str());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"2", L"3", L"4", L"5", L"0", L"1"}));
    EXPECT_EQ(jaw.GetLastRequest().m_config[4], 60);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, AverageRadialShiftCountsOnlyPointsOutsideTheL3Length) {
    TestJaw jaw;
    jaw.ExtractLLFromSkeleton(arch(30, 30, 18), -500);
    EXPECT_NEAR(jaw.calcAvgRadialShift(), 30 - 24, 0.05);
    jaw.ExtractLLFromSkeleton(arch(10, 10, 18), -500);
    EXPECT_EQ(jaw.calcAvgRadialShift(), 0);
}
