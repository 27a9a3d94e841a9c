// The gyration steering: cone tilts and their order, the stumps' cyclic visit, names and heights.
#include "ViewCheck.h"

#include <vector>

namespace {

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using namespace gyrationtest;

class TestGyration : public ZoCAcquisitionSteeringOrbal2Gyration {
  public:
    explicit TestGyration(const ZoCOrbal2DeviceConfig& device = ZoCOrbal2DeviceConfig())
        : ZoCAcquisitionSteeringOrbal2Gyration(device) {}
    float L2(int i) const { return m_afImageJoints[1][i]; }
    float L3(int i) const { return m_afImageJoints[2][i]; }
    int Order(int i) const { return m_aiRotationOrder[i]; }
};

// Stump i stands at azimuth 10 + 90 i at height 50000 + 1000 i (image units).
CbList<ZoAOrbal2SmartCamera::t_StumpInfo> stumps(const std::vector<bool>& valid) {
    CbList<ZoAOrbal2SmartCamera::t_StumpInfo> list;
    for (size_t i = 0; i < valid.size(); ++i)
        list.AddTail(
            {10.0f + 90.0f * static_cast<float>(i), 50000.0f + 1000.0f * static_cast<float>(i), 0, valid[i]});
    return list;
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Gyration,
     TakesTheConeTiltsOfTheConfiguredOrDefaultAngleInTheGeneratorsOrder) {
    // At tilt t the cone's eight positions, counted round it, have (L2, L3) = (90 + t, 90),
    // (90 + a, 90 + a), (90, 90 + t), ... with a = acos(sqrt(cos t)) off the vertical.
    for (const float setting : {0.0f, 45.0f, -5.0f}) {
        SCOPED_TRACE(setting);
        TestGyration steering;
        steering.GetSettings().m_fGyrationTiltAngle = setting;
        steering.setGyrationScanParams();
        EXPECT_EQ(steering.CalculateGyrationAngles(), 8);
        const float t = setting > 0 ? setting : 60.0f;
        EXPECT_FLOAT_EQ(steering.GetTiltAngle(), t);
        const float a = std::acos(std::sqrt(std::cos(t * 0.017453292f))) * 57.295776f;
        const float cone[8][2] = {{90 + t, 90}, {90 + a, 90 + a}, {90, 90 + t}, {90 - a, 90 + a},
                                  {90 - t, 90}, {90 - a, 90 - a}, {90, 90 - t}, {90 + a, 90 - a}};
        ZoCRotScanJointSequenceGenerator generator(t);
        ASSERT_TRUE(generator.Optimize(0.6666667f));
        int order[8];
        generator.GetBestOrder(order);
        std::vector<float> want, got;
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(steering.Order(i), order[i]) << i;
            want.insert(want.end(), {cone[order[i]][0], cone[order[i]][1]});
            got.insert(got.end(), {steering.L2(i), steering.L3(i)});
        }
        EXPECT_THAT(got, allNear(want, 1e-3f));
    }
}

// Phase one: one image per stump at the first tilt, home L1 and L4, the stump index kept. Then
// each position's four stumps start where the last ended (0123, 3012, ...); height lifts L4, L1 at cos 60.
TEST(ZoCAcquisitionSteeringOrbal2Gyration, PhaseOneThenVisitsFourStumpsCyclicallyWithTheirTiltsAndHeights) {
    TestGyration steering;
    NSPlan plan;
    Sequence& seq = plan.seq;
    const int stump = plan.stump, number = plan.number;
    ASSERT_TRUE(steering.GetJointConfigurationForGyrationPhase1(seq));
    ASSERT_EQ(seq.GetCount(), 4);
    const float* home = ReferenceDevice::c_afHome;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(jointsOf(seq[k].m_config),
                  (std::vector<float>{home[0], steering.L2(0), steering.L3(0), home[3], 90.0f * k}));
        EXPECT_EQ(seq[k].m_strName.str(),
                  formatted(L"%03d_T%li_%li", number + k, long{stump + k}, long{steering.Order(0)}));
    }
    EXPECT_EQ(plan.Advance(), 0);
    ASSERT_TRUE(steering.GetJointConfigurationForGyration(seq, stumps({true, true, true, true})));
    ASSERT_EQ(seq.GetCount(), 32);
    for (int i = 0; i < 32; ++i) {
        SCOPED_TRACE(i);
        const int p = i / 4, k = (4 - p % 4 + i % 4) % 4;
        const long position = (steering.Order(p) - steering.Order(0) + 8) % 8;
        EXPECT_EQ(seq[i].m_strName.str(),
                  formatted(L"%03d_T%li_%li", number + 4 + i, long{stump + k}, position));
        EXPECT_EQ(seq[i].m_byFlag, 1);
        const float l4 = 10.0f + static_cast<float>(k);
        EXPECT_THAT(jointsOf(seq[i].m_config),
                    allNear({l4 * 0.5f, steering.L2(p), steering.L3(p), l4, 10.0f + 90 * k}, 1e-4f));
    }
    // Every request is registered with its joints.
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(seq[5].m_strName, id);
    const float* joints = steering.GetDHParametersForImageSourceID(id);
    ASSERT_NE(joints, nullptr);
    EXPECT_EQ(std::vector<float>(joints, joints + 5), jointsOf(seq[5].m_config));
}

// Stumps beyond the holder's four are ignored, invalid ones skipped; the index advances by four
// (also with none enabled), but not without a neutral configuration.
TEST(ZoCAcquisitionSteeringOrbal2Gyration, PlansTheEnabledStumpsOfTheHolderOnly) {
    ZoCOrbal2DeviceConfig noNeutral;
    noNeutral.m_axisChain = ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false);
    // firstStump: the first request's stump counted from the index before the call (-1: none).
    const struct {
        std::vector<bool> valid;
        bool neutral, planned;
        int64_t count;
        int advance;
        long firstStump;
        float firstL5;
    } cases[] = {{{true, true, true, true, true, true}, true, true, 32, 4, 0, 10},
                 {{false, true, false, true}, true, true, 16, 4, 1, 100},
                 {{false, false, false, false}, true, true, 0, 4, -1, 0},
                 {{true, true, true, true}, false, false, 0, 0, -1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TestGyration steering(c.neutral ? ZoCOrbal2DeviceConfig() : noNeutral);
        NSPlan plan;
        Sequence& seq = plan.seq;
        EXPECT_EQ(steering.GetJointConfigurationForGyration(seq, stumps(c.valid)), c.planned);
        ASSERT_EQ(seq.GetCount(), c.count);
        EXPECT_EQ(plan.Advance(), c.advance);
        for (int64_t i = 0; i < seq.GetCount(); ++i)
            EXPECT_LT(seq[i].m_config[4], 360.0f) << i;  // stumps 4, 5 absent
        if (c.firstStump >= 0) {
            EXPECT_EQ(seq[0].m_strName.str(),
                      formatted(L"%03d_T%li_%li", plan.number, plan.stump + c.firstStump, 0L));
            EXPECT_FLOAT_EQ(seq[0].m_config[4], c.firstL5);
        }
        EXPECT_EQ(steering.GetJointConfigurationForGyrationPhase1(seq), c.neutral);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, AnswersAndSetsTheJointsOfAPositionAndStump) {
    TestGyration steering;
    const struct {
        int joint, index;
        float want;
    } cases[] = {{1, 3, steering.L2(3)},
                 {2, 3, steering.L3(3)},
                 {4, 3, 270},
                 {0, 3, 0},
                 {3, 3, 0},
                 {1, 8, 0},
                 {2, -1, 0}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(steering.getGyrationAngles(c.joint, c.index), c.want) << c.joint << " " << c.index;
    steering.setJointParamsForGyration(2, 3);
    float l2, l3, l5;
    steering.getScanParamsL2L3L5(l2, l3, l5);
    EXPECT_EQ(std::vector<float>({l2, l3, l5}), std::vector<float>({steering.L2(2), steering.L3(2), 270.0f}));
    ZoCOrbal2AxisChain::NSConfigurationRequest request;
    request.m_config.Set(1, 2, 3, 4, 5);
    steering.setJointParamsForGyration(5, 1, request);
    EXPECT_EQ(jointsOf(request.m_config), (std::vector<float>{1, steering.L2(5), steering.L3(5), 4, 90}));
    EXPECT_TRUE(steering.CheckAcquisitionType(static_cast<ECAIAcquireMode>(10)));
    EXPECT_FALSE(steering.CheckAcquisitionType(static_cast<ECAIAcquireMode>(4)));
}
