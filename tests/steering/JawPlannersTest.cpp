// The jaw steering's further planners: buccal ring, gap covering from proposals, the fastest
// order of the proposals, the joint test, the camera regions of proposals, ray focusing.
#include "CapturingLogSink.h"
#include "ReferenceDevice.h"
#include "SteeringTestSupport.h"

#include <cmath>
#include <cwchar>
#include <random>

namespace {

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using Request = ZoCOrbal2AxisChain::NSConfigurationRequest;
using Proposal = ZoCOrbal2AcquisitionPlanning::NSDHAxisConfiguration;

// A planning that evaluates and proposes as a test tells it to.
class ScriptedPlanning : public AcquisitionPlanningStore {
public:
    NSEvaluationResult evaluation;
    int code = 0;
    std::vector<Proposal> proposals;
    std::vector<std::vector<float>> points;
    bool ready = true;
    float solvedJoints[5] = {0, 90, 90, 0, 0};
    std::vector<float> solvedPoint = {0, 0, 0};

    void SolveJoints(const float*, const float*, float, float joints[5], float point[3], float direction[3],
                     int& status) override {
        std::copy(solvedJoints, solvedJoints + 5, joints);
        std::copy(solvedPoint.begin(), solvedPoint.end(), point);
        std::fill(direction, direction + 3, 0.0f);
        status = 0;
    }

    bool IsReadyToPlan(unsigned long, const ZoCOrbal2AxisChain::CJointPositionSequence&) override { return ready; }
    void Evaluate(NSEvaluationResult& result) override { result = evaluation; }
    int GetNumberOfProposals(NSComputationResult& result) override {
        result.code = code;
        result.numProposals = static_cast<int>(proposals.size());
        return code == 0 ? static_cast<int>(proposals.size()) : 0;
    }
    void GetProposals(int n, NSDHAxisConfiguration* configs, NSProposalInfo*) override {
        for (int i = 0; i < n; ++i) configs[i] = proposals[static_cast<size_t>(i)];
    }
    void GetProposalPoints(int n, std::vector<float>* lists) override {
        for (int i = 0; i < n; ++i) lists[i] = i < static_cast<int>(points.size()) ? points[static_cast<size_t>(i)] : std::vector<float>();
    }
};

class TestJaw : public ZoCAcquisitionSteeringOrbal2Jaw {
public:
    TestJaw() : ZoCAcquisitionSteeringOrbal2Jaw(ZoCOrbal2DeviceConfig(), false, false, false) {}
    // Replaces the planning by a scripted one (the worker is idle: no scans are queued).
    ScriptedPlanning& Script() {
        auto* scripted = new ScriptedPlanning();
        m_pPlanning.reset(scripted);
        return *scripted;
    }
    void SetLastRequest(const ZoCOrbal2AxisChain::NCJointConfiguration& c) { m_lastRequest.m_config = c; }
    const int* VisitingOrder() const { return m_aiRotationOrder; }
};

Proposal proposal(float l1, float l2, float l3, float l4, float l5) { return Proposal{{l1, l2, l3, l4, l5}}; }

std::wstring suffix(const Sequence& seq, int i) {
    const std::wstring& n = seq[i].m_strName.str();
    return n.substr(n.find(L'_'));
}

// Planning-frame point of a camera-frame point at the given configuration.
std::vector<float> planningPointSeenAt(const TestJaw& jaw, const ZoCOrbal2AxisChain::NCJointConfiguration& c,
                                       double u, double v) {
    ZoCCamProjCalib calib;
    double camera[3];
    calib.ImagePointToCameraSpace(u, v, camera);
    const CbVector3f disc = jaw.GetAxisChain().GetCamToDiscTransformation(c, false).TransformPoint(
        {static_cast<float>(camera[0]), static_cast<float>(camera[1]), static_cast<float>(camera[2])});
    const CbVector3f q = ZoCPlanningFrame::DiscToPlanning(jaw.GetPlanningTransformation(), disc);
    return {q.x, q.y, q.z};
}

// Image-area point (the host's frame of a user ray) that the camera sees at pixel (u, v).
CyRay rayThroughPixel(const TestJaw& jaw, const ZoCOrbal2AxisChain::NCJointConfiguration& c, double u, double v) {
    const auto q = planningPointSeenAt(jaw, c, u, v);
    const CbVector3f disc = ZoCPlanningFrame::PlanningToDisc(jaw.GetPlanningTransformation().Inverted(), {q[0], q[1], q[2]});
    return CyRay(disc * 40.0f, {0, 0, -1});
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Jaw, UserRayIsPlannedOnlyWhenItsPointIsInTheImageNearTheSolvedPointAndLateFramesItsRegion) {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();
    const auto home = ReferenceDevice::Home();
    std::copy(home.Data(), home.Data() + 5, planning.solvedJoints);
    // Pixel of the ray's point and of the solved point at the solved joints (1280 x 1024 image).
    struct Case { double u, v, solvedU; bool planned; };
    for (const Case c : {Case{640, 512, 640, true}, Case{-40, 512, -40, false}, Case{1320, 512, 1320, false},
                         Case{640, -30, 640, false}, Case{640, 1060, 640, false}, Case{100, 512, 700, true},
                         Case{100, 512, 800, false}}) {
        SCOPED_TRACE(testing::Message() << c.u << " " << c.v << " " << c.solvedU);
        planning.solvedPoint = planningPointSeenAt(jaw, home, c.solvedU, c.v);
        Sequence seq;
        seq.Add(Request());  // a sequence is replaced, not extended
        EXPECT_EQ(jaw.GetSequenceForUserDefinedRay(rayThroughPixel(jaw, home, c.u, c.v), seq), c.planned);
        ASSERT_EQ(seq.GetCount(), c.planned ? 1 : 0);
        if (c.planned) {
            EXPECT_EQ(seq[0].m_config, home);
            EXPECT_EQ(suffix(seq, 0), L"_UU_0");
        }
    }
    // Late in a scan a user ray frames only the region around its point.
    planning.solvedPoint = planningPointSeenAt(jaw, home, 600.3, 400.3);
    const CyRay ray = rayThroughPixel(jaw, home, 600.3, 400.3);
    Sequence seq;
    ASSERT_TRUE(jaw.GetSequenceForUserDefinedRay(ray, seq));
    EXPECT_EQ(seq[0].m_rectCameraROI, CRect());  // early: the whole image
    for (int i = 0; i < 31; ++i) ASSERT_TRUE(jaw.putScanSync({ZoCFieldCoord(1, 1, {CbVector3f(0, 0, 0)})}, CreateGuid()));
    ASSERT_TRUE(jaw.GetSequenceForUserDefinedRay(ray, seq));
    // After thirty scans: 240 pixels around the point's pixel (600, 400).
    EXPECT_EQ(seq[0].m_rectCameraROI, CRect(360, 160, 840, 640));
    EXPECT_EQ(seq[0].m_iROICenterX, 600);
    EXPECT_EQ(seq[0].m_iROICenterY, 400);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, BuccalRingHasSevenEvenlySpacedImages) {
    TestJaw jaw;
    Sequence seq;
    ASSERT_TRUE(jaw.GetJointConfigurationBukkal(seq));
    ASSERT_EQ(seq.GetCount(), 7);
    for (int k = 0; k < 7; ++k) {
        EXPECT_NEAR(seq[k].m_config[4], k * 360.0f / 7, 1e-4);
        EXPECT_EQ(std::vector<float>(seq[k].m_config.Data(), seq[k].m_config.Data() + 3), (std::vector<float>{48, 50, 90}));
        EXPECT_EQ(suffix(seq, k), L"_U0_" + std::to_wstring(k));
    }
    EXPECT_EQ(jaw.GetLastRequest().m_config, ReferenceDevice::Home());  // not changed
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, GapCoveringAnswersFromTheEvaluation) {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();
    CbEvent cancel(true, false);
    Sequence seq;
    // Status 4 fails, other statuses succeed; with status 0, q2 below 0.25 or q1 below 1 means
    // covered well enough. None of them plans a scan.
    struct Case { ZoCOrbal2AcquisitionPlanning::NSEvaluationResult evaluation; bool success; };
    for (const Case& c : {Case{{1}, true}, Case{{2}, true}, Case{{3}, true}, Case{{5}, true}, Case{{4}, false},
                          Case{{0, 2.0f, 0.2f}, true}, Case{{0, 0.5f, 0.5f}, true}}) {
        planning.evaluation = c.evaluation;
        EXPECT_EQ(jaw.GetJointConfigurationForGapCovering(cancel, seq), c.success) << c.evaluation.status;
        EXPECT_EQ(seq.GetCount(), 0);
    }
    planning.ready = false;
    EXPECT_FALSE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    planning.ready = true;
    planning.evaluation = {0, 5.0f, 0.9f};
    // Without proposals the planning's computation code answers: 1 and 3 are success.
    for (const auto& [code, success] : {std::pair{1, true}, std::pair{2, false}, std::pair{3, true}, std::pair{4, false}}) {
        planning.code = code;
        EXPECT_EQ(jaw.GetJointConfigurationForGapCovering(cancel, seq), success) << code;
    }
    planning.code = 0;
    // Cancelled while proposals wait: an empty sequence, and success.
    planning.proposals = {proposal(0, 90, 90, 0, 10)};
    cancel.Set();
    seq.Add(Request());
    EXPECT_TRUE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    EXPECT_EQ(seq.GetCount(), 0);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, GapCoveringVisitsTheFirstTenProposalsInTheFastestOrder) {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();
    planning.evaluation = {0, 5.0f, 0.9f};
    // From the disc at 0: 40, 80, 120, 160 in that order is fastest.
    planning.proposals = {proposal(0, 90, 90, 0, 120), proposal(0, 90, 90, 0, 40), proposal(0, 90, 90, 0, 160),
                          proposal(0, 90, 90, 0, 80)};
    CbEvent cancel(true, false);
    Sequence seq;
    ASSERT_TRUE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    ASSERT_EQ(seq.GetCount(), 4);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(seq[k].m_config[4], 40.0f * (k + 1));
        // Proposals without points frame the whole 1280 x 1024 image.
        EXPECT_EQ(seq[k].m_rectCameraROI, CRect(0, 0, 1279, 1023));
        EXPECT_EQ(seq[k].m_iROICenterX, 639);
        EXPECT_EQ(seq[k].m_iROICenterY, 511);
    }
    EXPECT_EQ(std::vector<int>(jaw.VisitingOrder(), jaw.VisitingOrder() + 4), (std::vector<int>{1, 3, 0, 2}));
    EXPECT_EQ(jaw.GetLastRequest().m_config[4], 160.0f);
    // Of twelve proposals only the first ten are planned.
    planning.proposals.clear();
    for (int i = 0; i < 12; ++i) planning.proposals.push_back(proposal(0, 90, 90, 0, 30.0f * i));
    ASSERT_TRUE(jaw.GetJointConfigurationForGapCovering(cancel, seq));
    ASSERT_EQ(seq.GetCount(), 10);
    std::vector<float> discs;
    for (int k = 0; k < 10; ++k) {
        discs.push_back(seq[k].m_config[4]);
        EXPECT_EQ(suffix(seq, k), L"_UG_" + std::to_wstring(k));
    }
    std::sort(discs.begin(), discs.end());
    for (int k = 0; k < 10; ++k) EXPECT_EQ(discs[static_cast<size_t>(k)], 30.0f * k);  // 300 and 330 dropped
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, ProposalsBecomeRequestsOnlyWhenThereAreAny) {
    TestJaw jaw;
    std::vector<Request> none;
    Sequence seq;
    EXPECT_FALSE(jaw.getJointConfigurationAP(none, seq));
    Proposal p = proposal(1, 80, 100, 2, 30);
    jaw.addRequestToJointPositions(seq, p);
    ASSERT_EQ(seq.GetCount(), 1);
    EXPECT_EQ(seq[0].m_config, ZoCOrbal2AxisChain::NCJointConfiguration(p.values));
    EXPECT_EQ(suffix(seq, 0), L"_UU_0");
}

TEST(ZoCJawScanJointSequenceGenerator, PrunedSearchFindsTheExhaustiveSearchsOrderAndAnEmptyTableNone) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<float> l1(-30, 30), tilt(40, 140), l4(-20, 20), disc(-180, 360);
    // Coarse values make equal costs, and so ties between orders, common.
    std::uniform_int_distribution<int> coarse(0, 3);
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(trial);
        const int n = 1 + trial % 8;
        ZoCJawScanJointSequenceGenerator generator(n, 60);
        for (int i = 0; i < n; ++i) {
            const bool tie = trial % 3 == 0;
            const float values[5] = {tie ? 10.0f * coarse(rng) : l1(rng), tie ? 90.0f : tilt(rng),
                                     tie ? 30.0f * coarse(rng) : tilt(rng), tie ? 0.0f : l4(rng),
                                     tie ? 90.0f * coarse(rng) : disc(rng)};
            generator.SetPositionValues(i, values);
        }
        ZoCOrbal2AxisChain::NCJointConfiguration start;
        start.Set(l1(rng), 90, 90, 0, disc(rng));
        std::vector<int> pruned, exhaustive;
        ASSERT_TRUE(generator.FindLeastTimeOrder(start, pruned));
        ASSERT_TRUE(generator.FindLeastTimeOrderExhaustive(start, exhaustive));
        EXPECT_EQ(pruned, exhaustive);
    }
    ZoCJawScanJointSequenceGenerator empty(0, 60);
    std::vector<int> order;
    EXPECT_FALSE(empty.FindLeastTimeOrder(ZoCOrbal2AxisChain::NCJointConfiguration(), order));
    EXPECT_FALSE(empty.FindLeastTimeOrderExhaustive(ZoCOrbal2AxisChain::NCJointConfiguration(), order));
}

TEST(ZoCAcquisitionSteeringOrbal2, ProposalRegionFramesItsPointsBeforeEnlargement) {
    TestJaw jaw;
    ScriptedPlanning& planning = jaw.Script();
    const Proposal p = proposal(0, 90, 80, 0, 30);
    ZoCOrbal2AxisChain::NCJointConfiguration c(p.values);
    planning.proposals = {p};
    std::vector<float> points;
    for (double u : {100.0, 140.0})
        for (double v : {50.0, 60.0}) {
            const auto q = planningPointSeenAt(jaw, c, u, v);
            points.insert(points.end(), q.begin(), q.end());
        }
    planning.points = {points};
    std::vector<Request> out(3);
    ZoCOrbal2AcquisitionPlanning::NSComputationResult result;
    ASSERT_EQ(jaw.computeAdditionalAxisConfigs(out, result), 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].m_config, c);
    // Centre of (100, 50, 140, 60) is taken before enlargement to 300 x 300 pixels.
    EXPECT_EQ(out[0].m_iROICenterX, 120);
    EXPECT_EQ(out[0].m_iROICenterY, 55);
    EXPECT_EQ(out[0].m_rectCameraROI, CRect(0, 0, 300, 300));
    // A failed computation proposes nothing.
    planning.code = 1;
    EXPECT_EQ(jaw.computeAdditionalAxisConfigs(out, result), 0);
    EXPECT_TRUE(out.empty());
}

TEST(ZoCAcquisitionSteeringOrbal2, ProposedConfigurationsAreClampedIntoTheJointLimits) {
    TestJaw jaw;  // limits narrowed to 90 +- 89.99 on the tilts at construction
    std::vector<Proposal> inside = {proposal(0, 90, 90, 0, 0), proposal(-100, 40, 140, 40, 350)};
    const auto before = inside;
    EXPECT_FALSE(jaw.checkAdditionalAxisConfigs(inside));
    EXPECT_EQ(std::vector<float>(inside[1].values, inside[1].values + 5),
              std::vector<float>(before[1].values, before[1].values + 5));
    std::vector<Proposal> outside = {proposal(-200, 10, 160, 50, -400)};
    EXPECT_TRUE(jaw.checkAdditionalAxisConfigs(outside));
    EXPECT_EQ(std::vector<float>(outside[0].values, outside[0].values + 5),
              (std::vector<float>{-169, 30, 150, 45, -360}));
    std::vector<Proposal> none;
    EXPECT_FALSE(jaw.checkAdditionalAxisConfigs(none));
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, JointTestSwingsTheJointBetweenThreeValuesInsideItsLimitsOnly) {
    TestJaw jaw;
    Sequence seq;
    ASSERT_TRUE(jaw.GetJointConfigurationForTestOfJointNr(seq, 1));  // L2: [30, 150], neutral 90
    ASSERT_EQ(seq.GetCount(), 15);
    for (int k = 0; k < 15; ++k) {
        const float expected[3] = {90 + 12, 30 + 6, 150 - 6};
        EXPECT_FLOAT_EQ(seq[k].m_config[1], expected[k % 3]) << k;
        EXPECT_EQ(suffix(seq, k), L"_UT_" + std::to_wstring(k));
        EXPECT_EQ(seq[k].m_config[2], 90.0f);
    }
    // L1 from 0 with s = 10.95: 0 + 21.9 lies inside [-169, 50].
    ASSERT_TRUE(jaw.GetJointConfigurationForTestOfJointNr(seq, 0));
    EXPECT_NEAR(seq[0].m_config[0], 21.9f, 1e-4);
    EXPECT_FALSE(jaw.GetJointConfigurationForTestOfJointNr(seq, 7));
    // A candidate outside the limits leaves the joint.
    Request req;
    req.m_config = ReferenceDevice::Home();
    // L4: [-45, 45], neutral 0: 0 + 9, -45 + 4.5, 45 - 4.5 are all inside.
    EXPECT_FLOAT_EQ(jaw.setJointParamsForTestOfJointNr(3, 0, 0, req), 9);
    EXPECT_FLOAT_EQ(req.m_config[3], 9);
    EXPECT_EQ(jaw.setJointParamsForTestOfJointNr(3, 5, 0, req), 0);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, VisibilityRemovesBackFacesAndHiddenPointsAsThePairwiseRuleSays) {
    std::mt19937_64 rng(47110518);
    std::uniform_real_distribution<float> xy(-30, 30), z(-5, 5), n(-1, 1);
    TestJaw jaw;
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(trial);
        std::vector<std::pair<CbVector3f, CbVector3f>> cloud;
        for (int i = 0; i < 300; ++i) cloud.push_back({{xy(rng), xy(rng), z(rng)}, {n(rng), n(rng), 1.0f}});
        const CyRay ray({0, 0, 50}, CbVector3f(n(rng) * 0.3f, n(rng) * 0.3f, -1).Normalized());
        // Reference: every pair, as the rule is stated.
        auto sorted = cloud;
        const CbVector3f d = ray.direction;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](const auto& a, const auto& b) { return d.Dot(a.first) < d.Dot(b.first); });
        std::vector<CbVector3f> expected;
        const float cos2 = std::cos(0.3f) * std::cos(0.3f);
        for (size_t i = 0; i < sorted.size(); ++i) {
            bool hidden = d.Dot(sorted[i].second) >= 0;
            for (size_t j = 0; j < i && !hidden; ++j) {
                const CbVector3f delta = sorted[i].first - sorted[j].first;
                const float len2 = delta.Dot(delta), along = d.Dot(delta);
                hidden = len2 > 1.1920929e-07f && along * along > len2 * cos2 && len2 - along * along < 4.0f;
            }
            if (!hidden) expected.push_back(sorted[i].first);
        }
        ScopedLogCapture capture;
        jaw.checkVisibility(cloud, ray, 0.3f, 2.0f);
        ASSERT_EQ(cloud.size(), expected.size());
        for (size_t i = 0; i < cloud.size(); ++i) EXPECT_EQ(cloud[i].first, expected[i]);
        // The log counts the removed samples in four digits.
        const auto lines = capture.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2");
        ASSERT_FALSE(lines.empty());
        wchar_t text[32];
        std::swprintf(text, 32, L"Removed %04d Samples", static_cast<int>(sorted.size() - expected.size()));
        EXPECT_EQ(lines.back(), text);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, FocusedRayMovesToTheCloudButNeedsMoreThanAHundredPoints) {
    TestJaw jaw;
    const CyRay ray({0, 0, 100}, {0, 0, -1});
    auto plane = [](int count) {
        std::vector<std::pair<CbVector3f, CbVector3f>> cloud;
        for (int i = 0; i < count; ++i)
            cloud.push_back({{static_cast<float>(i % 10) * 0.3f, static_cast<float>(i / 10) * 0.3f, 7}, {0, 0, 1}});
        return cloud;
    };
    auto small = plane(100);
    CyRay focused;
    EXPECT_FALSE(jaw.AdjustRayFocusToPointCloud(small, ray, c_matIdentity, 5, focused));
    EXPECT_NEAR(focused.origin.z, 7, 1e-3);
    auto large = plane(150);
    EXPECT_TRUE(jaw.AdjustRayFocusToPointCloud(large, ray, CbMatrix4Rf::Translation(1, 0, 0), 5, focused));
    EXPECT_NEAR(focused.origin.z, 7, 1e-3);
    EXPECT_NEAR(focused.origin.x, 1, 1e-5);
    // A second layer right beneath the first is hidden from the ray and does not pull the focus.
    auto layered = plane(150);
    for (int i = 0; i < 150; ++i) layered.push_back({layered[static_cast<size_t>(i)].first - CbVector3f(0, 0, 4), {0, 0, 1}});
    EXPECT_TRUE(jaw.AdjustRayFocusToPointCloud(layered, ray, c_matIdentity, 5, focused));
    EXPECT_NEAR(focused.origin.z, 7, 1e-3);
}

TEST(ZoCAcquisitionSteeringOrbal2Jaw, SurfelPositionsBecomeThePointCloud) {
    TestJaw jaw;
    ZoCSurfelCollection surfels(3);
    surfels[0].m_position = {4, 5, 6};
    surfels[2].m_position = {1, 2, 3};
    CArray<CbVector3f> out;
    EXPECT_TRUE(jaw.convSurfelCollectionToPointCloud(surfels, out));
    ASSERT_EQ(out.GetSize(), 3);
    EXPECT_EQ(out[0], CbVector3f(4, 5, 6));
    EXPECT_EQ(out[2], CbVector3f(1, 2, 3));
}
