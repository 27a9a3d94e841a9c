// The rotation steering: eight requests around the disc axis.
#include "SimulatedSmartCamera.h"
#include "SteeringTestSupport.h"

TEST(ZoCAcquisitionSteeringOrbal2Rotation, ClampsTheTiltToFortyFiveAndOneHundredFiveNamesAndRegistersRequestsAndAdvancesTheStump) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    SimulatedSmartCamera camera;
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    Sequence seq;
    EXPECT_TRUE(steering.GetJointConfigurationForRotation(camera, seq, 30));
    EXPECT_TRUE(steering.GetJointConfigurationForRotation(camera, seq, 120));  // appends
    ASSERT_EQ(seq.GetCount(), 16);
    for (int k = 0; k < 16; ++k) {
        const std::wstring i = std::to_wstring(k % 8);
        EXPECT_EQ(seq[k].m_strName.str(), L"00" + i + L"_R" + std::to_wstring(stump + k / 8) + L"_" + i);
        EXPECT_FLOAT_EQ(seq[k].m_config[2], k < 8 ? 90 - 45 : 90 - 105);
        EXPECT_FLOAT_EQ(seq[k].m_config[4], 45.0f * static_cast<float>(k % 8));
        EXPECT_EQ(seq[k].m_byFlag, 1);
    }
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump + 2);
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(seq[3].m_strName, id);
    const float* registered = steering.GetDHParametersForImageSourceID(id);
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(std::vector<float>(registered, registered + 5), joints(seq[3]));
}

TEST(ZoCAcquisitionSteeringOrbal2Rotation, AddsTheCamerasAxisOffsetsToL1L4AndTheSixthAxisAndTheMouseRotationAllOfThem) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    SimulatedSmartCamera camera({4, 10, 20, -2, 10, 2});
    Sequence seq;
    steering.GetJointConfigurationForRotation(camera, seq, 45);
    // Increments: 2 per mm on L1 and L4, 1 per degree on the disc; L2 and L5 offsets not applied.
    EXPECT_EQ(joints(seq[1]), (std::vector<float>{2, 90, 45, -1, 45}));
    EXPECT_FLOAT_EQ(seq[0].m_config[5], 2.0f);
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
    Request request;
    request.m_config[0] = 7;
    request.m_config[5] = 9;
    steering.SetJointParamsForRotation(3, request);  // the fourth of ten images: 108 degrees
    EXPECT_EQ(joints(request), (std::vector<float>{7, 0, -30, steering.GetLowerZ(), 108}));
    EXPECT_FLOAT_EQ(request.m_config[5], 9);
}
