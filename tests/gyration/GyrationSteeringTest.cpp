// The gyration steering: cone tilts and their order, the stumps' cyclic visit, names and heights.
#include "ViewCheck.h"

#include <vector>

namespace {

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
    for (int i = 0; i < static_cast<int>(valid.size()); ++i)
        list.AddTail({10 + 90.0f * i, 50000 + 1000.0f * i, 0, valid[i]});
    return list;
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Gyration, TakesTheConeTiltsOfTheSetOrDefaultAngleInTheGeneratorsOrder) {
    // Round the cone at tilt t: (L2, L3) = (90 + t, 90), (90 + a, 90 + a), ... with a = acos(sqrt(cos t)).
    for (const float setting : {0.0f, 45.0f}) {
        SCOPED_TRACE(setting);
        TestGyration steering;
        steering.GetSettings().m_fGyrationTiltAngle = setting;
        steering.setGyrationScanParams();
        EXPECT_EQ(steering.CalculateGyrationAngles(), 8);
        const float t = setting > 0 ? setting : 60.0f;
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

// Phase one: one image per stump at the first tilt, home L1 and L4, the index kept. Then each position
// visits the valid stumps of four from where the last ended (0123, 3012, ...), L4 by height, L1 at cos 60.
TEST(ZoCAcquisitionSteeringOrbal2Gyration, PhaseOneThenVisitsTheValidStumpsCyclically) {
    const float* home = ReferenceDevice::c_afHome;
    const std::vector<bool> sets[] = {std::vector<bool>(6, true), {false, true, false, true}, {false, false}};
    for (const std::vector<bool>& valid : sets) {
        SCOPED_TRACE(&valid - sets);
        TestGyration steering;
        NSPlan seq;
        ASSERT_TRUE(steering.GetJointConfigurationForGyrationPhase1(seq));
        ASSERT_EQ(seq.GetCount(), 4);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(jointsOf(seq[k].m_config),
                      (std::vector<float>{home[0], steering.L2(0), steering.L3(0), home[3], 90.0f * k}));
            EXPECT_EQ(seq[k].m_strName.str(), formatted(L"%03d_T%li_%li", seq.number + k, long{seq.stump + k},
                                                        long{steering.Order(0)}));
        }
        EXPECT_EQ(seq.Advance(), 0);
        ASSERT_TRUE(steering.GetJointConfigurationForGyration(seq, stumps(valid)));
        EXPECT_EQ(seq.Advance(), 4);
        int i = 0;
        for (int p = 0; p < 8; ++p) {
            for (int visit = 0; visit < 4; ++visit) {
                const int k = (4 - p % 4 + visit) % 4;
                if (k >= static_cast<int>(valid.size()) || !valid[k])
                    continue;
                ASSERT_LT(i, seq.GetCount());
                const long position = (steering.Order(p) - steering.Order(0) + 8) % 8;
                EXPECT_EQ(seq[i].m_strName.str(),
                          formatted(L"%03d_T%li_%li", seq.number + 4 + i, long{seq.stump + k}, position));
                EXPECT_EQ(seq[i].m_byFlag, 1);
                EXPECT_THAT(jointsOf(seq[i].m_config), allNear({(10.0f + k) * 0.5f, steering.L2(p),
                                                                steering.L3(p), 10.0f + k, 10.0f + 90 * k},
                                                               1e-4f));
                const GUID id = CreateGuid();  // every request is registered with its joints
                steering.AssociateRequestAndImageSourceID(seq[i].m_strName, id);
                const float* joints = steering.GetDHParametersForImageSourceID(id);
                ASSERT_NE(joints, nullptr);
                EXPECT_EQ(std::vector<float>(joints, joints + 5), jointsOf(seq[i++].m_config));
            }
        }
        EXPECT_EQ(seq.GetCount(), i);
    }
}

// Without a neutral configuration nothing is planned and the stump index stays.
TEST(ZoCAcquisitionSteeringOrbal2Gyration, PlansNothingWithoutANeutralConfiguration) {
    ZoCOrbal2DeviceConfig noNeutral;
    noNeutral.m_axisChain = ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false);
    TestGyration steering(noNeutral);
    NSPlan seq;
    EXPECT_FALSE(steering.GetJointConfigurationForGyration(seq, stumps({true, true, true, true})));
    EXPECT_FALSE(steering.GetJointConfigurationForGyrationPhase1(seq));
    EXPECT_EQ(std::make_pair(seq.GetCount(), seq.Advance()), std::make_pair(int64_t{0}, 0));
}

// A position's L2 and L3 (none beyond the eight), a stump's L5 at 90 degrees apiece, 0 for other joints.
TEST(ZoCAcquisitionSteeringOrbal2Gyration, AnswersAndSetsTheJointsOfAPositionAndStump) {
    TestGyration steering;
    const std::pair<int, int> asked[] = {{1, 3}, {2, 3}, {4, 3}, {0, 3}, {3, 3}, {1, 8}, {2, -1}};
    std::vector<float> got;
    for (const auto& [joint, index] : asked)
        got.push_back(steering.getGyrationAngles(joint, index));
    EXPECT_EQ(got, (std::vector<float>{steering.L2(3), steering.L3(3), 270, 0, 0, 0, 0}));
    steering.setJointParamsForGyration(2, 3);
    float l2, l3, l5;
    steering.getScanParamsL2L3L5(l2, l3, l5);
    EXPECT_EQ(std::vector<float>({l2, l3, l5}), std::vector<float>({steering.L2(2), steering.L3(2), 270.0f}));
    ZoCOrbal2AxisChain::NSConfigurationRequest request;
    request.m_config.Set(1, 2, 3, 4, 5);
    steering.setJointParamsForGyration(5, 1, request);
    steering.setJointParamsForGyration(8, 2, request);  // no position 8: untouched
    EXPECT_EQ(jointsOf(request.m_config), (std::vector<float>{1, steering.L2(5), steering.L3(5), 4, 90}));
}
