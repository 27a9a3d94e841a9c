// The rotation steering: eight requests around the disc axis.
#include "SimulatedSmartCamera.h"
#include "SteeringTestSupport.h"

namespace {
std::wstring name(const ZoCOrbal2AxisChain::CJointPositionSequence& seq, int i) { return seq[i].m_strName.str(); }
}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Rotation, ClampsTheTiltToFortyFiveAndOneHundredFiveNamesRequestsAndAdvancesTheStump) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    SimulatedSmartCamera camera;
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    ZoCOrbal2AxisChain::CJointPositionSequence seq;
    EXPECT_TRUE(steering.GetJointConfigurationForRotation(camera, seq, 30));
    EXPECT_TRUE(steering.GetJointConfigurationForRotation(camera, seq, 120));  // appends
    ASSERT_EQ(seq.GetCount(), 16);
    EXPECT_FLOAT_EQ(seq[0].m_config[2], 90 - 45);
    EXPECT_FLOAT_EQ(seq[8].m_config[2], 90 - 105);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(name(seq, k), L"00" + std::to_wstring(k) + L"_R" + std::to_wstring(stump) + L"_" + std::to_wstring(k));
        EXPECT_EQ(name(seq, 8 + k),
                  L"00" + std::to_wstring(k) + L"_R" + std::to_wstring(stump + 1) + L"_" + std::to_wstring(k));
        EXPECT_FLOAT_EQ(seq[k].m_config[4], 45.0f * static_cast<float>(k));
        EXPECT_EQ(seq[k].m_byFlag, 1);
    }
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump + 2);
}

TEST(ZoCAcquisitionSteeringOrbal2Rotation, RegistersEveryRequestWithItsJoints) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    SimulatedSmartCamera camera;
    ZoCOrbal2AxisChain::CJointPositionSequence seq;
    steering.GetJointConfigurationForRotation(camera, seq, 60);
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(seq[3].m_strName, id);
    const float* joints = steering.GetDHParametersForImageSourceID(id);
    ASSERT_NE(joints, nullptr);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(joints[j], seq[3].m_config[j]);
}

TEST(ZoCAcquisitionSteeringOrbal2Rotation, AddsTheCamerasAxisOffsetsToL1L4AndTheSixthAxisAndTheMouseRotationAllOfThem) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    SimulatedSmartCamera camera({4, 10, 20, -2, 10, 2});
    ZoCOrbal2AxisChain::CJointPositionSequence seq;
    steering.GetJointConfigurationForRotation(camera, seq, 45);
    EXPECT_FLOAT_EQ(seq[0].m_config[0], 2.0f);   // 4 increments at 2 per mm
    EXPECT_FLOAT_EQ(seq[0].m_config[1], 90.0f);  // L2 offset not applied
    EXPECT_FLOAT_EQ(seq[0].m_config[3], -1.0f);  // -2 increments at 2 per mm
    EXPECT_FLOAT_EQ(seq[1].m_config[4], 45.0f);  // L5 offset not applied
    EXPECT_FLOAT_EQ(seq[0].m_config[5], 2.0f);   // 2 disc increments at 1 per degree
    // The mouse rotation starts from zero and adds all offsets.
    seq.RemoveAll();
    EXPECT_TRUE(steering.GetJointConfigurationForRotationMouse(camera, seq));
    ASSERT_EQ(seq.GetCount(), 8);
    EXPECT_FLOAT_EQ(seq[0].m_config[5], 0.0f);
    EXPECT_FLOAT_EQ(seq[5].m_config[5], 45.0f);
    for (int k = 0; k < 8; ++k) {
        EXPECT_FLOAT_EQ(seq[k].m_config[1], 10.0f);
        EXPECT_FLOAT_EQ(seq[k].m_config[4], 10.0f);
        EXPECT_EQ(seq[k].m_byFlag, 0);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Rotation, RotationParametersFollowTheTiltFromZeroHomeValues) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    EXPECT_EQ(steering.GetNumberOfStumps(), 1);
    EXPECT_EQ(steering.GetNumberOfRotationImages(), 10);
    steering.SetTiltAngle(30);
    EXPECT_EQ(steering.CalculateJointParamsForRotation(), 10);
    EXPECT_FLOAT_EQ(steering.GetLowerZ(), -30 * 0.436f - 3.531f);
    ZoCOrbal2AxisChain::NSConfigurationRequest request;
    request.m_config[0] = 7;
    request.m_config[5] = 9;
    steering.SetJointParamsForRotation(3, request);
    EXPECT_FLOAT_EQ(request.m_config[1], 0);
    EXPECT_FLOAT_EQ(request.m_config[2], -30);
    EXPECT_FLOAT_EQ(request.m_config[3], steering.GetLowerZ());
    EXPECT_FLOAT_EQ(request.m_config[4], 108);
    EXPECT_FLOAT_EQ(request.m_config[0], 7);
    EXPECT_FLOAT_EQ(request.m_config[5], 9);
}
