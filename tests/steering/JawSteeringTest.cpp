// The jaw steering: jaw line, regions, hand-over to the planning, rings and the tilted scans along the line.
#include "SteeringTestSupport.h"

#include <cfloat>

namespace {

using Regions = CbList<std::pair<float, float>>;

Regions regions(std::initializer_list<std::pair<float, float>> list) {
    Regions out;
    for (const auto& r : list)
        out.AddTail(r);
    return out;
}

// The reference device with the disc limited to [lo, hi] degrees.
ZoCOrbal2DeviceConfig device(float lo, float hi) {
    auto joints = ReferenceDevice::Joints();
    const auto& l5 = joints[4];
    joints[4] = ZoCOrbal2DenavitHartenbergJoint(l5.GetTheta(), l5.GetD(), l5.GetA(), l5.GetAlpha(),
                                                l5.GetKind(), lo, hi);
    return ZoCOrbal2DeviceConfig{ZoCOrbal2AxisChain(joints, ReferenceDevice::Home()), ZoCCamProjCalib()};
}

// The tilted scans along the jaw line of an arch at `heightMm`, from the home configuration.
Sequence phases(TestJaw& jaw, float heightMm, bool tripleTray = false) {
    jaw.ExtractLLFromSkeleton(arch(22, 26, heightMm), -500);
    jaw.Refresh();
    Sequence seq;
    Request req;
    req.m_config = ReferenceDevice::Home();
    jaw.calculateJointPositionsForTiltedRecordsAlongLL_Phases(seq, req, false, tripleTray);
    return seq;
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Jaw, StraightJawLineFollowsTheArcLengthAndANonFiniteSkeletonGivesNone) {
    TestJaw jaw;
    for (const auto& [length, used] : {std::pair{3, 3}, std::pair{10000, 2048}, std::pair{1000, 500}}) {
        EXPECT_EQ(jaw.ExtractLLFromSkeleton(straight(static_cast<float>(length)), -500), 0.0f);  // no area
        EXPECT_EQ(jaw.GetNumberOfUsedPoints(), used) << length;
    }
    EXPECT_NEAR(jaw.LL(1).x - jaw.LL(0).x, 2 * 0.025f, 1e-4);  // one step in disc millimetres
    // The nearest point is searched in a window of the given half-width: [28, 92) misses 100.
    for (const auto& [index, window, found] :
         {std::tuple{100, 90, 100}, {100, 60, 91}, {0, 10, 0}, {0, 600, -1}})
        EXPECT_EQ(jaw.findIndexOnLL(jaw.LL(index), window), found) << index << " " << window;
    // Arc length s is point s / 2; the scaled index 399 is refined to the nearest point, 400.
    jaw.SetROI(regions({{100.0f, 300.0f}, {800.0f, 900.0f}}));
    EXPECT_EQ(jaw.ROI(5), (std::vector<int>{50, 150, 400, 450, -1}));
    // No region resets them to the whole line; presumed preparations every 146 points (1/14 of 2048),
    // centred.
    jaw.SetROI(Regions());
    EXPECT_EQ(jaw.ROI(3), (std::vector<int>{0, 499, -1}));
    EXPECT_EQ(std::vector<int>(jaw.GetPrepIndices(), jaw.GetPrepIndices() + 4),
              (std::vector<int>{73, 219, 365, -1}));
    // A skeleton with a non-finite knot gives no jaw line; the last good line and threshold stay.
    const CbVector3f kept = jaw.LL(10);
    for (const float bad : {NAN, INFINITY, -3e38f}) {
        ScopedLogCapture capture;
        const CyHermiteSpline skeleton({{0, 0, 0}, {bad, 0, 0}, {1000, 0, 0}});
        EXPECT_EQ(jaw.ExtractLLFromSkeleton(skeleton, -450), 0.0f);
        EXPECT_THAT(capture.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2"),
                    testing::ElementsAre(testing::HasSubstr(L"Condition failed")));
        EXPECT_EQ(std::tuple(jaw.GetNumberOfUsedPoints(), jaw.LL(10), jaw.GetLowerThreshold()),
                  std::tuple(500, kept, -500));
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, ClockwiseSkeletonIsReversedRegionsMirroredAndSurplusOnesDropped) {
    TestJaw ccw, cw;
    const float areaCcw = ccw.ExtractLLFromSkeleton(arch(), -500);
    EXPECT_GT(areaCcw, 0);
    EXPECT_NEAR(cw.ExtractLLFromSkeleton(arch(22, 26, 18, true), -500), -areaCcw, 1e-3 * areaCcw);
    const int n = ccw.GetNumberOfUsedPoints();
    ASSERT_EQ(cw.GetNumberOfUsedPoints(), n);
    // Both run counter-clockwise; the clockwise samples start one step later along the arch.
    EXPECT_LT((cw.LL(0) - ccw.LL(1)).Length(), 0.1f * (ccw.LL(1) - ccw.LL(0)).Length());
    // Regions in the skeleton's arc lengths run from the other end of the reversed line.
    const float length = cw.GetLLLength();
    for (const auto& [jaw, from, to] : {std::tuple{&ccw, 0.1f, 0.3f}, std::tuple{&cw, 0.7f, 0.9f}}) {
        jaw->SetROI(regions({{0.1f * length, 0.3f * length}}));
        EXPECT_NEAR(jaw->GetROIIndices()[0], from * (n - 1), 2);
        EXPECT_NEAR(jaw->GetROIIndices()[1], to * (n - 1), 2);
    }
    cw.SetROI(regions({{-FLT_MAX, 5.0f}}));  // an infinite region covers the line, area positive
    EXPECT_EQ(std::pair(cw.GetLLArea(), cw.ROI(2)), std::pair(1.0f, std::vector<int>{0, n - 1}));
    Regions many;  // surplus regions and presumed preparations are dropped, degenerate ones skipped
    for (int i = 0; i < 20; ++i)
        many.AddTail({length * i / 20.0f, length * (i + 0.9f) / 20.0f});
    for (const auto& [list, counts] : {std::pair{many, std::pair{16, 20}},
                                       {regions({{0, length}, {0, length}, {0, length}}), {3, 32}},
                                       {regions({{100.0f, 100.0f}}), {0, 0}}}) {
        cw.SetROI(list);
        EXPECT_EQ(std::pair(cw.getNumOfROIIntervals(), cw.GetNumOfPrepsInROI()), counts);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, TrayModeThresholdAndTheHandOverOfCentreLineBorderAndSawCuts) {
    TestJaw jaw, tray(true, false, true);
    using Planning = ZoCOrbal2AcquisitionPlanning;
    auto mode = [](TestJaw& j) {
        return std::tuple(store(j).UpdateCalls(), store(j).ModeFlag(), store(j).AcquisitionType());
    };
    EXPECT_EQ(mode(jaw), std::tuple(1, std::optional(false), std::optional(Planning::eTypeJaw)));
    EXPECT_EQ(mode(tray), std::tuple(0, std::optional(true), std::optional(Planning::eTypeTripleTray)));
    // The lower threshold is clamped, and negated in tray mode.
    for (const auto& [set, kept] : {std::pair{-300, -400}, std::pair{-700, -600}, std::pair{-450, -450}}) {
        jaw.SetLowerThreshold(set);
        tray.SetLowerThreshold(set);
        EXPECT_EQ(std::pair(jaw.GetLowerThreshold(), tray.GetLowerThreshold()),
                  std::pair(1.0f * kept, -1.0f * kept));
    }
    jaw.ExtractLLFromSkeleton(arch(), -550);
    jaw.SetROI(Regions());
    jaw.PutCenterLine();
    tray.ExtractLLFromSkeleton(arch(), -500);
    tray.PutCenterLine();  // without regions no region pointers are sent
    const auto trayLine = store(tray).CenterLine().value();
    EXPECT_EQ(std::tuple(trayLine.roiPresent, trayLine.prepsPresent, trayLine.modeFlag),
              std::tuple(false, false, true));
    const auto line = store(jaw).CenterLine().value();
    const int used = jaw.GetNumberOfUsedPoints();
    ASSERT_EQ(line.points.size(), static_cast<size_t>(3 * used));
    EXPECT_THAT(std::vector<float>(&line.points[21], &line.points[24]),
                near(planningOf(jaw, {jaw.LL(7)}), 1e-3));
    EXPECT_EQ(std::tuple(line.roiIndices, line.prepIndices.size(), line.lowerThreshold, line.modeFlag),
              std::tuple(std::vector<int>{0, used - 1}, static_cast<size_t>(jaw.GetNumOfPrepsInROI()),
                         -550 * 0.025f, false));
    // Border: z negated before the disc transform and again for the planning frame.
    jaw.SetJawlineBorder();
    EXPECT_TRUE(store(jaw).JawBorder().empty());
    jaw.SetJawBorderPoints({{400, 0, 200}, {0, 800, -200}});
    jaw.SetJawlineBorder();
    EXPECT_THAT(store(jaw).JawBorder(), near(planningOf(jaw, {{10, 0, -5}, {0, 20, 5}}), 1e-3));
    // Saw cuts are lowered by 5 and every other direction flipped.
    jaw.PutSawCuts({});
    EXPECT_TRUE(store(jaw).SawCuts().empty());
    const CbVector3f d(0.6f, 0.8f, 0);
    jaw.PutSawCuts({{400, 400, -400}, d, {800, 0, -400}, d});
    const auto p = planningOf(jaw, {{10, 10, -10}, {20, 0, -10}}, -5), o = planningOf(jaw, {{}, d});
    const CbVector3f n(o[3] - o[0], o[4] - o[1], o[5] - o[2]);  // the direction in the planning frame
    EXPECT_THAT(store(jaw).SawCuts(),
                near({p[0], p[1], p[2], n.x, n.y, n.z, p[3], p[4], p[5], -n.x, -n.y, -n.z}, 1e-3));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, DiscAnglesOutsideTheRangeWrapOrTakeTheNearerBound) {
    // Disc limits, angle asked, angle given; equal limits leave the disc unlimited.
    using Row = std::tuple<float, float, float, float>;
    for (const auto& [lo, hi, in, out] :
         {Row{-90, 270, 300, -60}, Row{-90, 270, -100, 260}, Row{-90, 270, 100, 100}, Row{0, 180, 200, 0},
          Row{0, 180, -100, 180}, Row{5, 5, 400, 40}, Row{5, 5, -30, 330}}) {
        TestJaw jaw(false, false, false, device(lo, hi));
        jaw.Refresh();
        EXPECT_FLOAT_EQ(jaw.limitAngleL5(in), out) << lo << " " << hi << " " << in;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, OverviewAndBuccalRingsTurnTheDiscInEqualStepsWithConsecutiveNumbers) {
    // Overview: 6 (8 extended) from the start's disc angle, last request at its end; buccal: 7, last kept.
    using Row = std::tuple<bool, bool, std::vector<float>, float, int, float>;
    for (const auto& [extended, buccal, first, step, count, last] :
         {Row{false, false, {0, 90, 90, 0, 10}, 60, 6, 310}, Row{true, false, {0, 90, 90, 0, 10}, 45, 8, 325},
          Row{false, true, {48, 50, 90, 0, 0}, 360.0f / 7, 7, 0}}) {
        TestJaw jaw(false, extended, false);
        jaw.SetStartJointPositionOvw(homeAt(10));
        Sequence seq;
        ASSERT_TRUE(buccal ? jaw.GetJointConfigurationBukkal(seq)
                           : jaw.GetJointConfigurationForOverview(seq));
        expectNumbered(seq, L"_U0_", count);
        for (int k = 0; k < seq.GetCount(); ++k) {
            std::vector<float> expected = first;
            expected[4] += step * static_cast<float>(k);
            EXPECT_THAT(joints(seq[k]), near(expected, 1e-4)) << k;
            const int number = std::stoi(seq[k].m_strName.str()) - std::stoi(seq[0].m_strName.str());
            EXPECT_EQ(std::tuple(number, seq[k].m_byFlag), std::tuple(k, 1));
        }
        EXPECT_EQ(std::pair(jaw.GetLastRequest().m_config[4], jaw.GetOffsetAngle()),
                  std::pair(last, buccal ? 0 : last));
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, PlannersFailWithoutANeutralConfiguration) {
    TestJaw jaw(false, false, false,
                {ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false), {}});
    Sequence seq;
    seq.Add({});
    EXPECT_FALSE(jaw.GetJointConfigurationForOverview(seq));
    EXPECT_EQ(seq.GetCount(), 0);
    bool tooHigh = true;  // stays untouched
    EXPECT_FALSE(jaw.GetJointConfigurationAlongLL(seq, tooHigh));
    EXPECT_TRUE(tooHigh);
    EXPECT_FALSE(jaw.GetJointConfigurationForRequestsFromFile({}));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, AlongTheJawLineFifteenImagesOrTwentyNineExtended) {
    // A straight line of 60 points of 2048 has one segment; of 1000 points, 5 * 0.49 rounds to two.
    using Row = std::tuple<bool, CyHermiteSpline, int>;
    for (const auto& [extended, skeleton, count] :
         {Row{false, arch(), 15}, Row{true, arch(), 29}, Row{false, straight(120), 7},
          Row{false, straight(2000), 9}}) {
        TestJaw jaw(false, extended, false);
        jaw.ExtractLLFromSkeleton(skeleton, -500);
        Sequence seq;
        bool tooHigh = true;
        EXPECT_TRUE(jaw.GetJointConfigurationAlongLL(seq, tooHigh));
        EXPECT_EQ(std::pair(tooHigh, seq.GetCount()), std::pair(false, int64_t{count})) << extended;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, PhasesTiltAsTheirFactorsSayHigherModelsLessAndTheHighestTooHigh) {
    // L3 = 90 + sign * factor * 60; jaw: 5 forward, the far end, 8 back, the near end; tray: 6 and 6.
    using Row = std::tuple<bool, std::vector<float>, std::vector<int>>;
    for (const auto& [tray, l3, index] :
         {Row{false,
              {130, 130, 130, 130, 130, 45, 20, 20, 20, 20, 20, 20, 20, 20, 45},
              {204, 613, 1022, 1431, 1840, 1840, 1704, 1510, 1316, 1122, 928, 734, 540, 346, 204}},
          Row{true, {117, 117, 117, 117, 117, 117, 75, 80, 80, 80, 80, 80, 80, 60}, {}}}) {
        TestJaw jaw;
        const Sequence seq = phases(jaw, 18, tray);  // 18 mm: lower than the L3 length
        EXPECT_THAT(column(seq, 2), near(l3, 1e-3)) << tray;
        EXPECT_THAT(column(seq, 1), testing::Each(testing::FloatNear(90, 1e-3)));
        for (size_t k = 0; k < index.size(); ++k) {  // at its L5 the tilt centre faces its point
            const Joints at = homeAt(seq[static_cast<int>(k)].m_config[4]);
            const CbVector3f centre =
                jaw.GetAxisChain().GetCamToDiscTransformation(at, false).TransformPoint({});
            const CbVector3f p = jaw.LL(index[k]);
            const float off = std::atan2(centre.y, centre.x) - std::atan2(p.y, p.x);
            EXPECT_NEAR(std::remainder(off, 2 * 3.14159265f), 0, 1e-3) << k;
        }
        if (!tray) {
            EXPECT_EQ(std::pair(std::round(seq[0].m_config[3]), std::round(seq[7].m_config[3])),
                      std::pair(18.0f, 13.0f));
        }
    }
    // Higher models tilt less: asin(24 / zF) = 20 degrees: L2 limited to 90 +- 50, L3 tilted by 2/3 of 20.
    TestJaw jaw;
    const Sequence seq = phases(jaw, 24.0f / std::sin(20 * 0.017453292f));
    const auto l2 = store(jaw).JointParameters()->at(1);
    EXPECT_THAT((std::vector<float>{l2.minPosition, l2.maxPosition, seq[0].m_config[2]}),
                near({40, 140, 90 + 0.6666667f * 20}, 1e-2));
    jaw.ExtractLLFromSkeleton(arch(22, 26, 160), -500);  // still built, L1 and L4 on their limits
    Sequence high;
    bool tooHigh = false;
    const bool built = jaw.GetJointConfigurationAlongLL(high, tooHigh);
    EXPECT_EQ(std::tuple(built, tooHigh, high.GetCount()), std::tuple(false, true, int64_t{15}));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, TiltAnglesAreHeldInsideTheTiltJointsLimits) {
    TestJaw jaw;
    auto bound = [&](int j, bool max) {  // a tilt joint's limit in radians from its angle offset
        const auto& l = jaw.GetAxisChain().GetDHJoint(j);
        return ((max ? l.GetMaxPosition() : l.GetMinPosition()) - l.GetAngleOffset()) * 0.017453292f;
    };
    // Angles (radians) in, changed, angles out: beyond a limit an angle is set onto that limit.
    using Row = std::tuple<float, float, bool, float, float>;
    for (const auto& [t2, t3, changed, out2, out3] :
         {Row{0.1f, -0.2f, false, 0.1f, -0.2f}, Row{-3.0f, 0.0f, true, bound(1, false), 0.0f},
          Row{3.0f, 0.0f, true, bound(1, true), 0.0f}, Row{0.0f, -3.0f, true, 0.0f, bound(2, false)},
          Row{0.0f, 3.0f, true, 0.0f, bound(2, true)}}) {
        float a2 = t2, a3 = t3;
        EXPECT_EQ(jaw.limitTiltAngles(a2, a3), changed) << t2 << " " << t3;
        EXPECT_THAT((std::vector<float>{a2, a3}), near({out2, out3}, 1e-5));
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, HeightHelpersAverageTheWindowMoveL4OverflowToL1AndAverageTheShift) {
    TestJaw jaw;
    // An even ramp: a window averages points 92 .. 104 (step 4); none, or one off the line, its own height.
    jaw.ExtractLLFromSkeleton(CyHermiteSpline({{0, 0, 0}, {500, 0, -200}, {1000, 0, -400}}), -500);
    ASSERT_EQ(jaw.GetNumberOfUsedPoints(), 538);
    EXPECT_NEAR(jaw.calcZLevelOfLL(100, 8), -jaw.LL(98).z, 1e-4);
    for (const auto& [index, half] : {std::pair{100, 0}, std::pair{5, 8}, std::pair{533, 8}})
        EXPECT_EQ(jaw.calcZLevelOfLL(index, half), -jaw.LL(index).z) << index;
    // L4 asked, radius, angle, unclamped, L1 answered, L4 left (L4 in [-45, 45], L1 up to 50).
    using Row = std::tuple<float, float, float, bool, float, float>;
    for (const auto& [l4, radius, angle, unclamped, l1, l4Left] :
         {Row{60.0f, 0.0f, 0.0f, false, 15.0f, 45.0f},
          Row{10.0f, 4.0f, 0.5f, true, -std::sin(0.5f) * 4, 10.0f},
          Row{400.0f, 0.0f, 0.0f, true, 355.0f, 45.0f}, Row{400.0f, 0.0f, 0.0f, false, 50.0f, 45.0f}}) {
        Request req;
        req.m_config[3] = l4;
        EXPECT_NEAR(jaw.calcZcorrection(radius, angle, req, unclamped), l1, 1e-3) << l4;
        EXPECT_EQ(req.m_config[3], l4Left);
    }
    // The radial shift averages only the points beyond the L3 length (24 mm).
    jaw.ExtractLLFromSkeleton(arch(30, 30, 18), -500);
    EXPECT_NEAR(jaw.calcAvgRadialShift(), 30 - 24, 0.05);
    jaw.ExtractLLFromSkeleton(arch(10, 10, 18), -500);
    EXPECT_EQ(jaw.calcAvgRadialShift(), 0);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, StartOfTheSequenceIsWhereTheAxesNeedLeastTime) {
    TestJaw jaw;
    Sequence seq;
    for (int k = 0; k < 6; ++k) {
        seq.Add({});
        seq[k].m_config = homeAt(60.0f * k);
    }
    jaw.SetLastRequest(homeAt(120));  // the axes stand at L5 = 120: entering at index 2 saves most
    EXPECT_EQ(jaw.getStartIndexForLLSequence(seq), 2);
    jaw.reArrangeSequence(seq, 2);
    EXPECT_EQ(column(seq, 4), (std::vector<float>{120, 180, 240, 300, 0, 60}));
    EXPECT_EQ(jaw.GetLastRequest().m_config[4], 60);
}
