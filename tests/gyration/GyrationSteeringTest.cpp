// The gyration steering: cone tilts and their order, the cyclic visit of the stumps, names,
// stump heights and the phase-1 images.
#include "AcquisitionPlanningStore.h"
#include "ReferenceDevice.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using StumpInfo = ZoAOrbal2SmartCamera::t_StumpInfo;

// A gyration steering with access to its tables.
class TestGyration : public ZoCAcquisitionSteeringOrbal2Gyration {
public:
    explicit TestGyration(const ZoCOrbal2DeviceConfig& device = ZoCOrbal2DeviceConfig())
        : ZoCAcquisitionSteeringOrbal2Gyration(device) {}
    float L2(int i) const { return m_afImageJoints[1][i]; }
    float L3(int i) const { return m_afImageJoints[2][i]; }
    int Order(int i) const { return m_aiRotationOrder[i]; }
    float Weight() const { return m_fWeight; }
    AcquisitionPlanningStore& Store() {
        return dynamic_cast<AcquisitionPlanningStore&>(*GetAcquisitionPlanning());
    }
};

CbList<StumpInfo> stumps(const std::vector<bool>& valid, float height = 50000) {
    CbList<StumpInfo> list;
    for (size_t i = 0; i < valid.size(); ++i) {
        StumpInfo info;
        info.m_fAzimuth = 10.0f + 90.0f * static_cast<float>(i);
        info.m_fHeight = height + 1000.0f * static_cast<float>(i);
        info.m_bValid = valid[i];
        list.AddTail(info);
    }
    return list;
}

// Splits "%03d_T%li_%li" into its three numbers; false when the name has another shape.
bool parseName(const std::wstring& name, int& number, long& stump, long& position) {
    wchar_t tail = 0;
    return name.size() > 4 && name[3] == L'_' && name[4] == L'T' &&
           std::swscanf(name.c_str(), L"%d_T%ld_%ld%lc", &number, &stump, &position, &tail) == 3;
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Gyration, TakesTheConeTiltsAndOrderOfTheRotationScanGenerator) {
    TestGyration steering;
    EXPECT_EQ(steering.GetNumberOfGyrationPositions(), 8);
    EXPECT_EQ(steering.GetNumberOfStumps(), 4);
    EXPECT_FLOAT_EQ(steering.GetTiltAngle(), 60.0f);
    EXPECT_FLOAT_EQ(steering.Weight(), 0.6666667f);
    ZoCRotScanJointSequenceGenerator generator(60.0f);
    ASSERT_TRUE(generator.Optimize(0.6666667f));
    int order[8];
    generator.GetBestOrder(order);
    for (int i = 0; i < 8; ++i) {
        float l2, l3;
        generator.GetPosition(i, l2, l3);
        EXPECT_FLOAT_EQ(steering.L2(i), l2) << i;
        EXPECT_FLOAT_EQ(steering.L3(i), l3) << i;
        EXPECT_EQ(steering.Order(i), order[i]) << i;
    }
    // The eight tilts are the cone's, each once: (150, 90), (135, 135), ... in some order.
    const float table[8][2] = {{150, 90}, {135, 135}, {90, 150}, {45, 135},
                               {30, 90},  {45, 45},   {90, 30},  {135, 45}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(steering.L2(i), table[steering.Order(i)][0], 1e-3) << i;
        EXPECT_NEAR(steering.L3(i), table[steering.Order(i)][1], 1e-3) << i;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, UsesTheConfiguredTiltOnlyWhenPositive) {
    TestGyration steering;
    steering.GetSettings().m_fGyrationTiltAngle = 45.0f;
    steering.setGyrationScanParams();
    EXPECT_EQ(steering.CalculateGyrationAngles(), 8);
    EXPECT_FLOAT_EQ(steering.GetTiltAngle(), 45.0f);
    // At a tilt t the cone's diagonal positions lie a = acos(sqrt(cos t)) off the vertical.
    const float a = std::acos(std::sqrt(std::cos(45.0f * 0.017453292f))) * 57.295776f;
    std::vector<float> l2;
    for (int i = 0; i < 8; ++i)
        l2.push_back(steering.L2(i));
    std::sort(l2.begin(), l2.end());
    const std::vector<float> expected = {45, 90 - a, 90 - a, 90, 90, 90 + a, 90 + a, 135};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(l2[static_cast<size_t>(i)], expected[static_cast<size_t>(i)], 1e-3) << i;

    steering.GetSettings().m_fGyrationTiltAngle = -5.0f;
    steering.setGyrationScanParams();
    EXPECT_FLOAT_EQ(steering.GetTiltAngle(), 60.0f);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, VisitsFourStumpsCyclicallyWithTheTiltsOfEachPositionAndTheStumpHeights) {
    TestGyration steering;
    Sequence seq;
    const int firstStump = steering.GetCurrStumpIndex();
    const int firstNumber = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter.load();
    ASSERT_TRUE(steering.GetJointConfigurationForGyration(seq, stumps({true, true, true, true})));
    ASSERT_EQ(seq.GetCount(), 32);
    EXPECT_EQ(steering.GetCurrStumpIndex(), firstStump + 4);
    std::vector<long> visited;
    for (int64_t i = 0; i < seq.GetCount(); ++i) {
        SCOPED_TRACE(i);
        int number;
        long stump, position;
        ASSERT_TRUE(parseName(seq[i].m_strName.str(), number, stump, position));
        const int k = static_cast<int>(stump - firstStump), p = static_cast<int>(i / 4);
        visited.push_back(k);
        // Named by the counter, the stump and the position counted from the first visited.
        EXPECT_EQ(number, firstNumber + static_cast<int>(i));
        EXPECT_EQ(position, (steering.Order(p) - steering.Order(0) + 8) % 8);
        EXPECT_EQ(seq[i].m_byFlag, 1);
        // Stump height 50000 + 1000 k (image units) lifts L4 to 10 + k; L1 follows at cos 60.
        const float l4 = (50000.0f + 1000.0f * static_cast<float>(k)) * 0.001f - 40.0f;
        const auto& c = seq[i].m_config;
        EXPECT_FLOAT_EQ(c[1], steering.L2(p));
        EXPECT_FLOAT_EQ(c[2], steering.L3(p));
        EXPECT_FLOAT_EQ(c[3], l4);
        EXPECT_NEAR(c[0], l4 * 0.5f, 1e-5);
        EXPECT_FLOAT_EQ(c[4], 10.0f + 90.0f * static_cast<float>(k));
    }
    // Each position starts at the stump where the previous one ended.
    EXPECT_EQ(std::vector<long>(visited.begin(), visited.begin() + 12),
              (std::vector<long>{0, 1, 2, 3, 3, 0, 1, 2, 2, 3, 0, 1}));
    for (size_t p = 1; p < 8; ++p) EXPECT_EQ(visited[4 * p], visited[4 * p - 1]) << "position " << p;
    // Every request is registered with its joints.
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(seq[5].m_strName, id);
    const float* joints = steering.GetDHParametersForImageSourceID(id);
    ASSERT_NE(joints, nullptr);
    EXPECT_EQ(std::vector<float>(joints, joints + 5), std::vector<float>(seq[5].m_config.Data(), seq[5].m_config.Data() + 5));
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, IgnoresStumpInfosBeyondTheHolderAndSkipsInvalidOnes) {
    TestGyration steering;
    Sequence extra, sparse;
    const int firstStump = steering.GetCurrStumpIndex();
    ASSERT_TRUE(
        steering.GetJointConfigurationForGyration(extra, stumps({true, true, true, true, true, true})));
    EXPECT_EQ(extra.GetCount(), 32);
    for (int64_t i = 0; i < extra.GetCount(); ++i)
        EXPECT_LT(extra[i].m_config[4], 360.0f);  // stumps 4, 5 absent
    ASSERT_TRUE(steering.GetJointConfigurationForGyration(sparse, stumps({false, true, false, true})));
    ASSERT_EQ(sparse.GetCount(), 16);
    int number;
    long stump, position;
    ASSERT_TRUE(parseName(sparse[0].m_strName.str(), number, stump, position));
    EXPECT_EQ(stump, firstStump + 4 + 1);
    EXPECT_FLOAT_EQ(sparse[0].m_config[4], 100.0f);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, WithoutEnabledStumpsGivesAnEmptySequenceAndStillAdvances) {
    TestGyration steering;
    Sequence seq;
    seq.Add(ZoCOrbal2AxisChain::NSConfigurationRequest());  // emptied first
    const int firstStump = steering.GetCurrStumpIndex();
    EXPECT_TRUE(steering.GetJointConfigurationForGyration(seq, stumps({false, false, false, false})));
    EXPECT_EQ(seq.GetCount(), 0);
    EXPECT_EQ(steering.GetCurrStumpIndex(), firstStump + 4);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, PhaseOneTakesOneImagePerStumpAtTheFirstTiltWithoutAdvancing) {
    TestGyration steering;
    Sequence seq;
    const int firstStump = steering.GetCurrStumpIndex();
    const int firstNumber = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter.load();
    ASSERT_TRUE(steering.GetJointConfigurationForGyrationPhase1(seq));
    ASSERT_EQ(seq.GetCount(), 4);
    for (int k = 0; k < 4; ++k) {
        const auto& c = seq[k].m_config;
        EXPECT_FLOAT_EQ(c[0], ReferenceDevice::c_afHome[0]);
        EXPECT_FLOAT_EQ(c[1], steering.L2(0));
        EXPECT_FLOAT_EQ(c[2], steering.L3(0));
        EXPECT_FLOAT_EQ(c[3], ReferenceDevice::c_afHome[3]);
        EXPECT_FLOAT_EQ(c[4], 90.0f * static_cast<float>(k));
        wchar_t expected[32];
        std::swprintf(expected, 32, L"%03d_T%li_%li", firstNumber + k, static_cast<long>(firstStump + k),
                      static_cast<long>(steering.Order(0)));
        EXPECT_EQ(seq[k].m_strName.str(), expected);
    }
    EXPECT_EQ(steering.GetCurrStumpIndex(), firstStump);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, WithoutNeutralConfigurationPlansNothing) {
    ZoCOrbal2DeviceConfig device;
    device.m_axisChain = ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false);
    TestGyration steering(device);
    Sequence seq;
    const int firstStump = steering.GetCurrStumpIndex();
    EXPECT_FALSE(steering.GetJointConfigurationForGyration(seq, stumps({true, true, true, true})));
    EXPECT_FALSE(steering.GetJointConfigurationForGyrationPhase1(seq));
    EXPECT_EQ(seq.GetCount(), 0);
    EXPECT_EQ(steering.GetCurrStumpIndex(), firstStump);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, AnswersGyrationAnglesPerJointAndIndex) {
    TestGyration steering;
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(1, 3), steering.L2(3));
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(2, 3), steering.L3(3));
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(4, 3), 270.0f);
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(0, 3), 0.0f);
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(3, 3), 0.0f);
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(1, 8), 0.0f);
    EXPECT_FLOAT_EQ(steering.getGyrationAngles(2, -1), 0.0f);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, SetsScanParametersAndRequestJointsOfAPositionAndStump) {
    TestGyration steering;
    steering.setJointParamsForGyration(2, 3);
    float l2, l3, l5;
    steering.getScanParamsL2L3L5(l2, l3, l5);
    EXPECT_FLOAT_EQ(l2, steering.L2(2));
    EXPECT_FLOAT_EQ(l3, steering.L3(2));
    EXPECT_FLOAT_EQ(l5, 270.0f);
    ZoCOrbal2AxisChain::NSConfigurationRequest request;
    request.m_config.Set(1, 2, 3, 4, 5);
    steering.setJointParamsForGyration(5, 1, request);
    EXPECT_EQ(request.m_config[0], 1.0f);
    EXPECT_FLOAT_EQ(request.m_config[1], steering.L2(5));
    EXPECT_FLOAT_EQ(request.m_config[2], steering.L3(5));
    EXPECT_EQ(request.m_config[3], 4.0f);
    EXPECT_FLOAT_EQ(request.m_config[4], 90.0f);
}

TEST(ZoCAcquisitionSteeringOrbal2Gyration, HandsItsDeviceToThePlanningAsGyrationType) {
    TestGyration steering;
    AcquisitionPlanningStore& store = steering.Store();
    EXPECT_EQ(store.AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeGyration);
    EXPECT_TRUE(store.Camera().has_value());
    EXPECT_TRUE(store.JointParameters().has_value());
    EXPECT_TRUE(steering.CheckAcquisitionType(static_cast<ECAIAcquireMode>(10)));
    EXPECT_FALSE(steering.CheckAcquisitionType(static_cast<ECAIAcquireMode>(4)));
}
