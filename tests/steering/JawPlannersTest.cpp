// The jaw steering's further planners: user ray, gap covering, proposals, joint test, visibility, focusing.
#include "SteeringTestSupport.h"

#include <random>

namespace {

using Cloud = std::vector<std::pair<CbVector3f, CbVector3f>>;

Proposal proposal(float l5, float l1 = 0, float l2 = 90, float l3 = 90, float l4 = 0) {
    return Proposal{{l1, l2, l3, l4, l5}};
}

// Disc point (mm) that the camera sees at pixel (u, v) at the given joints, by the kinematics.
CbVector3f discSeenAt(const TestJaw& jaw, const Joints& c, double u, double v) {
    double camera[3];
    ZoCCamProjCalib().ImagePointToCameraSpace(u, v, camera);
    return jaw.GetAxisChain().GetCamToDiscTransformation(c, false).TransformPoint(
        {static_cast<float>(camera[0]), static_cast<float>(camera[1]), static_cast<float>(camera[2])});
}

// Gap covering on a scripted planning, not cancelled.
struct GapCovering : testing::Test {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();
    CbEvent cancel{true, false};
    Sequence seq;
};

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Jaw, UserRayNeedsItsPointInTheImageNearTheSolvedOneAndLateFramesIt) {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();  // solved at the home joints
    const Joints home = ReferenceDevice::Home();
    auto ray = [&](double u, double v) {  // the host's ray (image-area units) through pixel (u, v)
        return CyRay(discSeenAt(jaw, home, u, v) * 40.0f, {0, 0, -1});
    };
    // Pixel of the ray's point and of the solved point at the solved joints (1280 x 1024 image).
    using Row = std::tuple<double, double, double, bool>;
    for (const auto& [u, v, solvedU, planned] :
         {Row{640, 512, 640, true}, Row{-40, 512, -40, false}, Row{1320, 512, 1320, false},
          Row{640, -30, 640, false}, Row{640, 1060, 640, false}, Row{100, 512, 700, true},
          Row{100, 512, 800, false}}) {
        planning.solvedPoint = planningOf(jaw, {discSeenAt(jaw, home, solvedU, v)});
        Sequence seq;
        seq.Add(Request());  // a sequence is replaced, not extended
        EXPECT_EQ(jaw.GetSequenceForUserDefinedRay(ray(u, v), seq), planned)
            << u << " " << v << " " << solvedU;
        ASSERT_EQ(seq.GetCount(), planned ? 1 : 0);
        if (planned) {
            EXPECT_EQ(std::pair(seq[0].m_config, suffix(seq, 0)), std::pair(home, std::wstring(L"_UU_0")));
        }
    }
    // Late in a scan (after thirty scans) a user ray frames only 240 pixels around its point's pixel.
    planning.solvedPoint = planningOf(jaw, {discSeenAt(jaw, home, 600.3, 400.3)});
    Sequence seq;
    ASSERT_TRUE(jaw.GetSequenceForUserDefinedRay(ray(600.3, 400.3), seq));
    EXPECT_EQ(seq[0].m_rectCameraROI, CRect());  // early: the whole image
    for (int i = 0; i < 31; ++i)
        ASSERT_TRUE(jaw.putScanSync({ZoCFieldCoord(1, 1, {CbVector3f(0, 0, 0)})}, CreateGuid()));
    ASSERT_TRUE(jaw.GetSequenceForUserDefinedRay(ray(600.3, 400.3), seq));
    EXPECT_EQ(std::tuple(seq[0].m_rectCameraROI, seq[0].m_iROICenterX, seq[0].m_iROICenterY),
              std::tuple(CRect(360, 160, 840, 640), 600, 400));
}

TEST_F(GapCovering, AnswersFromTheEvaluationAndTheComputationCode) {
    // Status 4 fails; status 0 with q2 < 0.25 or q1 < 1 is covered; else codes 1 and 3 succeed; no scans.
    using Row = std::tuple<Evaluation, int, bool>;
    for (const auto& [evaluation, code, success] :
         {Row{Evaluation{1}, 0, true}, Row{{5}, 0, true}, Row{{4}, 0, false}, Row{{0, 2.0f, 0.2f}, 0, true},
          Row{{0, 0.5f, 0.5f}, 0, true}, Row{{0, 5.0f, 0.9f}, 1, true}, Row{{0, 5.0f, 0.9f}, 2, false},
          Row{{0, 5.0f, 0.9f}, 3, true}, Row{{0, 5.0f, 0.9f}, 4, false}}) {
        planning.evaluation = evaluation;
        planning.code = code;
        EXPECT_EQ(jaw.GetJointConfigurationForGapCovering(cancel, seq), success)
            << evaluation.status << " " << code;
        EXPECT_EQ(seq.GetCount(), 0);
    }
    planning.ready = false;
    EXPECT_FALSE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    // Cancelled while proposals wait: an empty sequence, and success.
    planning.ready = true;
    planning.code = 0;
    planning.proposals = {proposal(10)};
    cancel.Set();
    seq.Add(Request());
    EXPECT_TRUE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    EXPECT_EQ(seq.GetCount(), 0);
}

TEST_F(GapCovering, VisitsTheFirstTenProposalsInTheFastestOrder) {
    planning.evaluation = {0, 5.0f, 0.9f};
    planning.proposals = {proposal(120), proposal(40), proposal(160), proposal(80)};
    ASSERT_TRUE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    EXPECT_EQ(column(seq, 4), (std::vector<float>{40, 80, 120, 160}));  // from the disc at 0
    // Proposals without points frame the whole image.
    EXPECT_EQ(std::tuple(seq[3].m_rectCameraROI, seq[3].m_iROICenterX, seq[3].m_iROICenterY),
              std::tuple(CRect(0, 0, 1279, 1023), 639, 511));
    EXPECT_EQ(jaw.GetLastRequest().m_config[4], 160.0f);
    // Of twelve proposals only the first ten are planned: 300 and 330 are dropped.
    planning.proposals.clear();
    for (int i = 0; i < 12; ++i)
        planning.proposals.push_back(proposal(30.0f * i));
    ASSERT_TRUE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    expectNumbered(seq, L"_UG_", 10);
    EXPECT_THAT(column(seq, 4), testing::UnorderedElementsAre(0, 30, 60, 90, 120, 150, 180, 210, 240, 270));
}

TEST(ZoCAcquisitionSteeringOrbal2, ProposalsAreClampedFrameTheirPointsBeforeEnlargementAndBecomeRequests) {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();
    const Proposal p = proposal(30, 0, 90, 80);
    planning.proposals = {p};
    planning.points = {{}};
    for (double u : {100.0, 140.0})
        for (double v : {50.0, 60.0})
            for (float x : planningOf(jaw, {discSeenAt(jaw, Joints(p.values), u, v)}))
                planning.points[0].push_back(x);
    std::vector<Request> out(3);
    ZoCOrbal2AcquisitionPlanning::NSComputationResult result;
    ASSERT_EQ(jaw.computeAdditionalAxisConfigs(out, result), 1);
    ASSERT_EQ(out.size(), 1u);
    // The centre of (100, 50, 140, 60) is taken before enlargement to 300 x 300 pixels.
    EXPECT_EQ(std::tuple(out[0].m_config, out[0].m_iROICenterX, out[0].m_iROICenterY, out[0].m_rectCameraROI),
              std::tuple(Joints(p.values), 120, 55, CRect(0, 0, 300, 300)));
    planning.code = 1;  // a failed computation proposes nothing
    EXPECT_EQ(jaw.computeAdditionalAxisConfigs(out, result), 0);
    EXPECT_TRUE(out.empty());
    // A proposal becomes a user request; an empty list gives no sequence.
    Sequence seq;
    EXPECT_FALSE(jaw.getJointConfigurationAP(out, seq));
    Proposal user = proposal(30, 1, 80, 100, 2);
    jaw.addRequestToJointPositions(seq, user);
    expectNumbered(seq, L"_UU_", 1);
    EXPECT_EQ(joints(seq[0]), (std::vector<float>{1, 80, 100, 2, 30}));
    // Proposals are clamped into the joint limits (the tilts narrowed to 90 +- 89.99 at construction).
    auto values = [](const Proposal& p) { return std::vector<float>(p.values, p.values + 5); };
    std::vector<Proposal> inside = {proposal(0), proposal(350, -100, 40, 140, 40)}, none;
    EXPECT_FALSE(jaw.checkAdditionalAxisConfigs(inside));
    EXPECT_EQ(values(inside[1]), (std::vector<float>{-100, 40, 140, 40, 350}));
    std::vector<Proposal> outside = {proposal(-400, -200, 10, 160, 50)};
    EXPECT_TRUE(jaw.checkAdditionalAxisConfigs(outside));
    EXPECT_EQ(values(outside[0]), (std::vector<float>{-169, 30, 150, 45, -360}));
    EXPECT_FALSE(jaw.checkAdditionalAxisConfigs(none));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, JointTestSwingsTheJointBetweenThreeValuesInsideItsLimitsOnly) {
    TestJaw jaw;
    Sequence seq;
    ASSERT_TRUE(jaw.GetJointConfigurationForTestOfJointNr(seq, 1));  // L2: [30, 150], neutral 90
    expectNumbered(seq, L"_UT_", 15);
    EXPECT_THAT(column(seq, 2), testing::Each(90.0f));
    const std::vector<float> swing = {90 + 12, 30 + 6, 150 - 6};
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(seq[k].m_config[1], swing[static_cast<size_t>(k % 3)]) << k;
    EXPECT_FALSE(jaw.GetJointConfigurationForTestOfJointNr(seq, 7));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, VisibilityRemovesBackFacesAndHiddenPointsAsThePairwiseRuleSays) {
    std::mt19937_64 rng(47110518);
    std::uniform_real_distribution<float> xy(-30, 30), z(-5, 5), n(-1, 1);
    TestJaw jaw;
    for (int trial = 0; trial < 20; ++trial) {
        Cloud cloud;
        for (int i = 0; i < 300; ++i)
            cloud.push_back({{xy(rng), xy(rng), z(rng)}, {n(rng), n(rng), 1.0f}});
        const CyRay ray({0, 0, 50}, CbVector3f(n(rng) * 0.3f, n(rng) * 0.3f, -1).Normalized());
        // A point faces away, or a nearer one lies within 0.3 rad of the ray and 2 of its line.
        Cloud sorted = cloud;
        const CbVector3f d = ray.direction;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](const auto& a, const auto& b) { return d.Dot(a.first) < d.Dot(b.first); });
        std::vector<CbVector3f> expected, kept;  // positions
        const float cos2 = std::cos(0.3f) * std::cos(0.3f);
        for (size_t i = 0; i < sorted.size(); ++i) {
            bool hidden = d.Dot(sorted[i].second) >= 0;
            for (size_t j = 0; j < i && !hidden; ++j) {
                const CbVector3f delta = sorted[i].first - sorted[j].first;
                const float len2 = delta.Dot(delta), along = d.Dot(delta);
                hidden = along * along > len2 * cos2 && len2 - along * along < 4.0f;
            }
            if (!hidden)
                expected.push_back(sorted[i].first);
        }
        ScopedLogCapture capture;
        jaw.checkVisibility(cloud, ray, 0.3f, 2.0f);
        for (const auto& p : cloud)
            kept.push_back(p.first);
        EXPECT_EQ(kept, expected) << trial;
        const auto lines = capture.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2");
        const std::wstring removed =
            std::to_wstring(10000 + sorted.size() - expected.size()).substr(1);  // four digits
        EXPECT_EQ(lines.empty() ? L"" : lines.back(), L"Removed " + removed + L" Samples");
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, FocusedRayNeedsOverAHundredPointsAndSkipsAHiddenLayer) {
    TestJaw jaw;
    auto plane = [](int count, float z) {
        Cloud cloud;
        for (int i = 0; i < count; ++i)
            cloud.push_back({{(i % 10) * 0.3f, (i / 10) * 0.3f, z}, {0, 0, 1}});
        return cloud;
    };
    Cloud layered = plane(150, 7), beneath = plane(150, 3);
    layered.insert(layered.end(), beneath.begin(), beneath.end());
    for (auto [cloud, shift, found] :
         {std::tuple{plane(100, 7), 0.0f, false}, {plane(150, 7), 1.0f, true}, {layered, 0.0f, true}}) {
        CyRay focused;
        const CyRay ray({0, 0, 100}, {0, 0, -1});
        EXPECT_EQ(
            jaw.AdjustRayFocusToPointCloud(cloud, ray, CbMatrix4Rf::Translation(shift, 0, 0), 5, focused),
            found);
        EXPECT_NEAR(focused.origin.z, 7, 1e-3) << cloud.size();
        EXPECT_NEAR(focused.origin.x, shift, 1e-5);
    }
}
