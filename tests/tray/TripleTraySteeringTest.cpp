// The triple-tray steering: stages, fixed scans, positions along the jaw line, planning set-up.
#include <gmock/gmock.h>

#include "TrayTestSupport.h"

namespace {

using namespace traytest;
using State = ZoCAcquisitionSteeringOrbal2StateBase;
using Positions = ZoCCreateScanPositionsAlongJawline;
using testing::FloatNear;
using testing::Pointwise;

MATCHER_P(Near, tolerance, "") {
    return (std::get<0>(arg) - std::get<1>(arg)).Length() <= tolerance;
}

AcquisitionPlanningStore& store(const Steering& s) {
    return dynamic_cast<AcquisitionPlanningStore&>(*s.GetAcquisitionPlanning());
}

std::vector<float> joints(const Config& c) {
    return {c.Data(), c.Data() + 5};
}

// A straight jaw line along x of `length`, its control points raised off the disc plane.
CyHermiteSpline straightLine(float length) {
    return CyHermiteSpline({{0, 0, -300}, {length / 2, 0, -350}, {length, 0, -320}});
}

// A planning that proposes one view from `config` that sees `points` (planning frame).
struct ProposingPlanning : AcquisitionPlanningStore {
    NSDHAxisConfiguration config{};
    std::vector<float> points;
    int GetNumberOfProposals(NSComputationResult& r) override { return (r.code = 0, r.numProposals = 1); }
    void GetProposals(int, NSDHAxisConfiguration* c, NSProposalInfo*) override { *c = config; }
    void GetProposalPoints(int, std::vector<float>* lists) override { *lists = points; }
};

struct ProposingTray : Steering {
    ProposingPlanning* planning = new ProposingPlanning;
    ProposingTray() : Steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw) { m_pPlanning.reset(planning); }
};

}  // namespace

// Spacing near 650 units; positions on the disc plane every first step of 10 beyond it, facing back.
TEST(ZoCCreateScanPositionsAlongJawline, PlacesPositionsEveryWholeStepBeyondTheSpacing) {
    // length, spacing, its multiple of 10 above it
    const std::tuple<float, float, float> cases[] = {
        {300, 150, 160}, {1300, 650, 660}, {4000, 4000.0f / 6, 670}, {5230, 653.75f, 660}};
    for (const auto& [length, spacing, interval] : cases) {
        EXPECT_FLOAT_EQ(Positions::Spacing(length), spacing);
        Positions positions;
        positions.Calculate(straightLine(length));
        std::vector<float> xs, expected;
        for (const auto& p : positions.GetScanPositions()) {
            xs.push_back(p.m_origin.x);
            expected.push_back(interval * float(expected.size() + 1));
            EXPECT_TRUE(std::fabs(p.m_origin.y) < 1e-3f && p.m_origin.z == 0.0f &&
                        std::fabs(p.m_lineDirection.x + 1) < 1e-5f && p.m_viewDirections.size() == 2u)
                << length;
        }
        EXPECT_EQ(xs.size(), size_t(std::ceil(length / interval)) - 1) << length;
        EXPECT_THAT(xs, Pointwise(FloatNear(1.0f), expected)) << length;
    }
}

// Both look down 25 degrees off the vertical, one to either side of the line: down +- sin 25 * its normal.
TEST(ZoCCreateScanPositionsAlongJawline, ViewDirectionsAreMirrorImagesTiltedByTwentyFiveDegrees) {
    const float tilt = 25 * 3.14159265f / 180;
    for (int degrees = -180; degrees < 180; degrees += 5) {  // the axes among them
        const CbVector3f d(std::cos(degrees * 3.14159265f / 180), std::sin(degrees * 3.14159265f / 180), 0);
        const CbVector3f down(0, 0, -std::cos(tilt)), n = CbVector3f(-d.y, d.x, 0) * std::sin(tilt);
        const auto views = Positions::ViewDirections(d);
        EXPECT_THAT(views, testing::UnorderedPointwise(Near(1e-5f), {down + n, down - n})) << degrees;
    }
    EXPECT_EQ(Positions::ViewDirections({0, 0, 0}).size(), 2u);  // a zero line direction still gives two
}

TEST(ZoCCreateScanPositionsAlongJawline, DegenerateJawLinesAreLoggedAndGiveNoPositions) {
    ScopedLogCapture log;
    Positions positions;
    positions.Calculate(straightLine(1300));
    positions.Calculate(CyHermiteSpline());  // refused: keeps what it had
    EXPECT_FALSE(positions.GetScanPositions().empty());
    positions.Calculate(CyHermiteSpline({{5, 5, 5}}));
    EXPECT_TRUE(positions.GetScanPositions().empty());
    positions.Calculate(CyHermiteSpline({{0, 0, 0}, {0, 0, 100}}));  // vertical: length 0 on the disc
    positions.Calculate(straightLine(5));                            // shorter than one walking step
    EXPECT_TRUE(positions.GetScanPositions().empty());
    EXPECT_EQ(log.Sink().Messages("ZAZ.ZoOrbal2.Steering.ZoCCreateScanPositionsAlongJawline"),
              (std::vector<std::wstring>{L"Condition failed: Spline ungültig. Sie hat keine Kontrollpunkte",
                                         L"Condition failed: Die Spline hat die Länge 0",
                                         L"Condition failed: Die Spline hat die Länge 0",
                                         L"calculateScanPositions: Keine Scanpositionen gefunden"}));
}

// Lower jaw, upper jaw, bite, end: modes, a fresh planning with the table, the previous stage kept.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, LowerJawFirstThenUpperThenBiteThenEnd) {
    const ScopedTable table(scratchFile("stages.txt", "1 2 3 4 5 6\n"));
    ASSERT_EQ(loadTable(), 5u);
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeLowerJaw);
    const ZoCAcquisitionSteeringOrbal2StateContext& context = steering.GetStateContext();
    EXPECT_EQ(std::pair(store(steering).ModeFlag(), steering.GetLowerThreshold()),
              std::pair(std::optional(true), 400.0f));
    const std::weak_ptr<State> first = context.GetCurrentState();
    // area, next area, mode, allowed modes, first stage / end stage / no start position
    using Stage = std::tuple<EAreaType, EAreaType, int, std::vector<int>, std::vector<bool>>;
    const std::vector<Stage> stages = {
        {eAreaTypeLowerJaw, eAreaTypeUpperJaw, 5, {5, 19, 20, 21, 22}, {1, 0, 0}},
        {eAreaTypeUpperJaw, eAreaTypeBite, 6, {6, 19, 20, 21, 22}, {0, 0, 0}},
        {eAreaTypeBite, eAreaTypeNone, 7, {7, 19, 22}, {0, 0, 0}},
        {eAreaTypeNone, eAreaTypeNone, 23, {23}, {0, 1, 1}}};
    for (size_t step = 0; step < stages.size(); ++step) {
        SCOPED_TRACE(step);
        const auto state = context.GetCurrentState();
        const ZoCOrbal2AcquisitionPlanning* before = steering.GetAcquisitionPlanning();
        std::vector<int> allowed;
        for (int m = 0; m <= 23; ++m)
            if (steering.IsAcquireModeAllowed(ECAIAcquireMode(m)))
                allowed.push_back(m);
        EXPECT_EQ(
            Stage(steering.GetAreaType(), steering.GetNextAreaType(), steering.GetAcquireMode(), allowed,
                  {state->IsFirstState(), state->IsEndState(), !steering.GetStartPositionForFixed()}),
            stages[step]);
        EXPECT_TRUE(steering.EnableAutofocusForFixed() && state->GetContext() == &context);
        EXPECT_EQ(steering.SetNextState(), std::get<1>(stages[step]));
        // Every stage plans afresh; the end stays; the stage before the previous is released.
        const AxisNode* tree = store(steering).CollisionTree();  // with the loaded table
        EXPECT_TRUE(steering.GetAcquisitionPlanning() != before && tree && tree->CountDescendants() == 5 &&
                    store(steering).AcquisitionType() == ZoCOrbal2AcquisitionPlanning::eTypeTripleTray);
        EXPECT_TRUE(step >= 3 ? context.GetCurrentState() == state : context.GetPreviousState() == state);
        EXPECT_EQ(first.expired(), step >= 1);
    }
    steering.setFirstState(eAreaTypeUpperJaw);
    EXPECT_EQ(std::pair(steering.GetAcquireMode(), steering.GetNextAreaType()),
              std::pair(ECAIAcquireMode(5), eAreaTypeLowerJaw));
    steering.setFirstState(eAreaTypeBite);  // a first side that is no jaw has no second
    EXPECT_EQ(steering.GetNextAreaType(), eAreaTypeNone);
}

// Stage tables in motor increments (2, 1, 2, 2, 1) from home; the turn-around turns half a round.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, FixedScansFollowTheStageTablesAndTheTurnAroundTurnsHalfARound) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    // A few views of each stage as (mm, degrees) from home: view index, L1..L5.
    const std::vector<std::vector<std::pair<int, std::vector<float>>>> pinned = {
        {{0, {-15, 20, 30, -8.5f, 221}}, {4, {-5, 50, 35, -12, 248}}, {5, {-17.5f, -20, 40, -12, 178}}},
        {{0, {-2.5f, -40, 24.5f, -6, 330}}, {8, {12.5f, 10, -20, 2.5f, 218}}},
        {{1, {0, -30, 32, 2, 21}}, {14, {0, 12, 52.5f, 2, 194}}}};
    for (size_t stage = 0; stage < 3; ++stage, steering.SetNextState()) {
        SCOPED_TRACE(stage);
        const int64_t views = stage < 2 ? 9 : 15;
        Sequence seq;
        ASSERT_TRUE(steering.GetJointConfigurationForFixed(seq, 1));
        ASSERT_EQ(seq.GetCount(), views);
        // Requests are numbered on from the first, each named "_D0_" and its place in the sequence.
        const int first = std::stoi(std::wstring(seq[0].m_strName.GetString()));
        for (int64_t k = 0; k < views; ++k) {
            const std::wstring name(seq[k].m_strName.GetString());
            EXPECT_EQ(std::pair(std::stoi(name) - first, name.substr(3)),
                      std::pair(int(k), L"_D0_" + std::to_wstring(k)));
        }
        EXPECT_EQ(seq[0].m_config,
                  Steering::ConvertSimMotPosToJointConfig(steering.GetMotorPositionOfFirstImage()));
        const std::vector<float> home = joints(ReferenceDevice::Home());
        for (const auto& [k, offsets] : pinned[stage]) {
            std::vector<float> fromHome = joints(seq[k].m_config);
            std::transform(fromHome.begin(), fromHome.end(), home.begin(), fromHome.begin(), std::minus<>());
            EXPECT_THAT(fromHome, Pointwise(FloatNear(1e-3f), offsets)) << "view " << k;
        }
        if (views < 15)
            continue;
        // The turn-around: L3 tilts up, L1 and L4 stand still, L2 steps 6 degrees after view 8.
        const Config& start = seq[0].m_config;
        std::vector<std::array<float, 4>> moves, expected;  // L1, L2 since the start, L3 rising, L4
        for (int64_t k = 1; k < 15; ++k) {
            const Config& c = seq[k].m_config;
            moves.push_back({c[0], c[1] - start[1], float(c[2] > seq[k - 1].m_config[2]), c[3]});
            expected.push_back({start[0], k < 8 ? 0.0f : 6.0f * float(k - 7), 1, start[3]});
        }
        EXPECT_EQ(moves, expected);
        EXPECT_TRUE(seq[14].m_config[4] - start[4] > 160.0f && seq[14].m_config[4] - start[4] < 200.0f);
        const GUID id = CreateGuid();  // each request's joints are registered under its name
        steering.AssociateRequestAndImageSourceID(seq[14].m_strName, id);
        const auto* registered = steering.GetDHParametersForImageSourceID(id);
        EXPECT_EQ(registered ? registered[4] : -1.0f, seq[14].m_config[4]);
    }
}

// None at the end, none without a neutral configuration (failure), none without a jaw line.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, FixedScansWithoutAnythingToScanAreEmpty) {
    ZoCOrbal2DeviceConfig noNeutral;
    noNeutral.m_axisChain = ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false);
    Steering atEnd(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw), unmoved(noNeutral, eAreaTypeUpperJaw),
        lineless(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    for (int i = 0; i < 3; ++i)
        atEnd.SetNextState();
    for (const auto& [steering, kind, succeeds] :
         {std::tuple{&atEnd, 1, true}, {&unmoved, 1, false}, {&lineless, 0, true}}) {
        Sequence seq;
        seq.Add({});
        const bool result = steering->GetJointConfigurationForFixed(seq, kind);
        EXPECT_EQ(std::pair(result, seq.GetCount()), std::pair(succeeds, int64_t{0}));
    }
}

// Along an arch: up to two requests per position, sorted by tilt L2 + L3; line directions are tangents.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, FixedScansAlongTheJawLineAreSortedByTheirTilts) {
    std::vector<CbVector3f> arch;
    for (int i = 0; i <= 16; ++i) {
        const float a = 3.14159265f * (-0.1f - 0.8f * static_cast<float>(i) / 16);
        arch.emplace_back(800 * std::cos(a), 680 * std::sin(a), 0);
    }
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    steering.setSkeletonRaw(CyHermiteSpline(arch));
    Sequence seq;
    ASSERT_TRUE(steering.GetJointConfigurationForFixed(seq, 0));
    Positions positions;
    positions.Calculate(CyHermiteSpline(arch));
    const auto rays = static_cast<int64_t>(positions.GetScanPositions().size());
    ASSERT_GE(rays, 2);
    for (const auto& p : positions.GetScanPositions()) {
        const CbVector3f normal(p.m_origin.x / (800 * 800), p.m_origin.y / (680 * 680), 0);
        EXPECT_NEAR(p.m_lineDirection.Length(), 1.0f, 1e-4f);
        EXPECT_NEAR(p.m_lineDirection.Dot(normal * (1.0f / normal.Length())), 0.0f, 0.05f);
    }
    EXPECT_TRUE(seq.GetCount() >= rays && seq.GetCount() <= 2 * rays) << seq.GetCount() << " of " << rays;
    for (int64_t k = 1; k < seq.GetCount(); ++k)
        EXPECT_LE(seq[k - 1].m_config[1] + seq[k - 1].m_config[2], seq[k].m_config[1] + seq[k].m_config[2]);
    EXPECT_EQ(steering.GetOffsetAngle(), steering.limitAngleL5(steering.GetStartJointPositionOvw()[4]));
}

// Side stages only: from the first position, with unnarrowed limits and a copy of the host's camera.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, ReInitLooksFromTheFirstPositionOfASideOnly) {
    struct Camera : ZoCCamProjCalib {
        bool GetCameraImageSize(long& w, long& h) const override { return (w = 640, h = 480, true); }
        std::unique_ptr<ZoCCamProjCalib> Clone() const override { return std::make_unique<Camera>(*this); }
    };
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    AcquisitionPlanningStore& planning = store(steering);
    ASSERT_TRUE(steering.setCameraAndProjectorParameters(Camera()));
    steering.SetLimitsForJointParameters(10, 10);  // narrowed tilt limits, which re-init lifts
    for (const int m : {7, 19, 4, 5, 6}) {
        const int updates = planning.UpdateCalls(), limits = planning.JointParameterCalls(),
                  acts = m == 5 || m == 6;
        steering.ReInitScanPlan(ECAIAcquireMode(m));
        EXPECT_EQ(std::tuple(planning.UpdateCalls(), planning.JointParameterCalls(),
                             planning.ReferenceConfiguration().has_value()),
                  std::tuple(updates + acts, limits + acts, acts == 1))
            << m;
    }
    EXPECT_EQ(std::tuple(planning.Camera()->width, planning.Camera()->height, planning.ModeFlag()),
              std::tuple(640, 480, std::optional(true)));
    const Config c = Steering::ConvertSimMotPosToJointConfig(steering.GetMotorPositionOfFirstImage());
    EXPECT_EQ(*planning.ReferenceConfiguration(), joints(c));
    const auto parameters = planning.JointParameters();
    std::vector<float> set, lower(5), upper(5);
    for (int j = 0; j < 5; ++j) {
        steering.GetAxisChain().GetMinMaxPosition(j, lower[j], upper[j]);
        set.push_back(parameters.value().at(j).minPosition);
    }
    EXPECT_EQ(set, lower);
    // The planning transformation: camera-to-disc with row 2 and column 1 negated, inverted.
    CbMatrix4Rf t = steering.GetAxisChain().GetCamToDiscTransformation(c, false);
    t.NegateRow(2);
    t.NegateColumn(1);
    const CbMatrix4Rf product = *planning.PlanningTransformation() * t;
    const auto entries = [](const CbMatrix4Rf& m) { return std::vector<float>(m.Data(), m.Data() + 16); };
    EXPECT_THAT(entries(product), Pointwise(FloatNear(1e-4f), entries(c_matIdentity)));
}

// Around a tray a region grows by 480 pixels to at least 600: points 200 pixels apart give 680 x 600.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, ProposalRegionsGrowBy480PixelsToAtLeast600) {
    const ScopedTable table(scratchFile("enlarge.txt", "1 2 3 4 5 6\n"));
    ASSERT_EQ(loadTable(), 5u);  // the steering's own load then calls back at once
    const ZoCOrbal2DeviceConfig device;
    ProposingTray tray;
    Config c;
    ASSERT_TRUE(device.m_axisChain.GetNeutralConfiguration(c));
    std::copy(c.Data(), c.Data() + 5, tray.planning->config.values);
    long w = 0, h = 0;  // two points of the focus plane 200 pixels apart on the image's middle row
    ASSERT_TRUE(device.m_camProjCalib.GetCameraImageSize(w, h));
    for (const double u : {w / 2.0, w / 2.0 + 200}) {  // camera to disc, (x, y, -z) to planning
        double p[3];
        device.m_camProjCalib.ImagePointToCameraSpace(u, h / 2.0, p);
        const CbVector3f d = device.m_axisChain.GetCamToDiscTransformation(c, false).TransformPoint(
            {float(p[0]), float(p[1]), float(p[2])});
        const CbVector3f q = tray.GetPlanningTransformation().TransformPoint({d.x, d.y, -d.z});
        tray.planning->points.insert(tray.planning->points.end(), {q.x, q.y, q.z});
    }
    std::vector<ZoCOrbal2AxisChain::NSConfigurationRequest> out;
    ZoCOrbal2AcquisitionPlanning::NSComputationResult result;
    ASSERT_EQ(tray.computeAdditionalAxisConfigs(out, result), 1);
    EXPECT_NEAR(out[0].m_rectCameraROI.Width(), 680, 2.0);
    EXPECT_EQ(out[0].m_rectCameraROI.Height(), 600);
}

// Nothing to divide leaves the outputs alone; otherwise all goes to the first part.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, CheckAndDivideSequenceNeverDivides) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    Sequence in, first, second;
    second.Add({});
    bool a = true, b = false;
    EXPECT_FALSE(steering.CheckAndDivideSequence(in, first, second, a, b));
    EXPECT_EQ(std::pair(second.GetCount(), a), std::pair(int64_t{1}, true));
    in.Add({});
    in.Add({});
    EXPECT_FALSE(steering.CheckAndDivideSequence(in, first, second, a, b) ||
                 steering.CheckIfCollisionsAreLikely(in));
    EXPECT_EQ(std::tuple(first.GetCount(), second.GetCount(), a, b), std::tuple(2L, 0L, false, true));
}
