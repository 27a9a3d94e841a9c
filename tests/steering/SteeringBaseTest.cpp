// The steering base: associations, acquisition types, the device description handed to the
// planning, joint narrowing, camera regions and the interrupt.
#include "SteeringTestSupport.h"

TEST(ZoCAcquisitionSteeringOrbal2, OnlyTheFirstAssociationOfANameReceivesTheImageSource) {
    TestSteering steering;
    const float a[5] = {1, 2, 3, 4, 5}, b[5] = {6, 7, 8, 9, 10};
    steering.AssociateRequestAndDHParameters(L"001_U0_0", a);
    steering.AssociateRequestAndDHParameters(L"001_U0_0", b);
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(L"001_U0_0", id);
    const float* joints = steering.GetDHParametersForImageSourceID(id);
    ASSERT_NE(joints, nullptr);
    EXPECT_EQ(std::vector<float>(joints, joints + 5), std::vector<float>(a, a + 5));
    EXPECT_EQ(steering.GetDHParametersForImageSourceID(CreateGuid()), nullptr);
}

TEST(ZoCAcquisitionSteeringOrbal2, AcceptsTheAcquisitionModesOfItsType) {
    auto accepted = [](int type) {
        TestSteering steering(static_cast<ZoCAcquisitionSteeringOrbal2::EAcquisitionType>(type));
        std::vector<int> modes;
        for (int m = -1; m <= 24; ++m)
            if (steering.CheckAcquisitionType(static_cast<ECAIAcquireMode>(m))) modes.push_back(m);
        return modes;
    };
    const std::vector<int> jaw = {4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23};
    EXPECT_EQ(accepted(ZoCOrbal2AcquisitionPlanning::eTypeJaw), jaw);
    EXPECT_EQ(accepted(ZoCOrbal2AcquisitionPlanning::eTypeTripleTray), jaw);
    EXPECT_EQ(accepted(ZoCOrbal2AcquisitionPlanning::eTypeGyration), (std::vector<int>{9, 10, 11}));
    EXPECT_TRUE(accepted(3).empty());
}

TEST(ZoCAcquisitionSteeringOrbal2, ConstructionAndANewScanPlanSetUpThePlanningAndConstructionLogsTheStumpReminder) {
    ScopedLogCapture capture;
    TestSteering steering(ZoCOrbal2AcquisitionPlanning::eTypeGyration);
    const auto lines = capture.Sink().Messages("ZoCWinLog");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], L"!!!Achtung: m_iCurrStumpIndex muss noch aus der ImageArea abgeleitet werden!!!!");
    EXPECT_EQ(steering.GetTrafoImageAreaToDisc(), c_matIdentity);
    for (bool renewed : {false, true}) {
        if (renewed) steering.initScanPlan();  // replaces the planning and sets it up the same way
        EXPECT_EQ(steering.Store().AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeGyration);
        EXPECT_EQ(steering.Store().ProgressCallback(), &ZoCAcquisitionSteeringOrbal2::GetProgressCallback());
        EXPECT_EQ(steering.Store().Camera().has_value(), !renewed);  // a fresh planning knows no camera
    }
    // The settings block starts with its defaults.
    const auto& s = steering.GetSettings();
    EXPECT_EQ(s.m_strJointPartPath, CString(L"..\\STL\\gelenkbauteil_nr_"));
    EXPECT_EQ(s.m_strImagePath, CString(L"..\\Image"));
    EXPECT_EQ(std::vector<float>({s.m_fExposureFactor, s.m_fOverlapFactor, s.m_fGyrationTiltAngle}),
              std::vector<float>({1.0f, 0.5f, 0.0f}));
    EXPECT_EQ(s.m_iNumBuccalRings, 2);
    EXPECT_FALSE(s.m_textFile.is_open());
}

TEST(ZoCAcquisitionSteeringOrbal2, PlanningTransformationIsTheInverseOfTheFlippedNeutralCamToDisc) {
    TestSteering steering;
    Joints neutral;
    steering.GetAxisChain().GetNeutralConfiguration(neutral);
    CbMatrix4Rf flipped = steering.GetAxisChain().GetCamToDiscTransformation(neutral, false);
    for (int k = 0; k < 4; ++k) {  // flipping negates row 2 and column 1
        if (k != 1) flipped(2, k) = -flipped(2, k);
        if (k != 2) flipped(k, 1) = -flipped(k, 1);
    }
    const auto handed = steering.Store().PlanningTransformation();
    ASSERT_TRUE(handed.has_value());
    EXPECT_EQ(*handed, steering.GetPlanningTransformation());
    const CbMatrix4Rf product = *handed * flipped;
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], c_matIdentity[i], 1e-5) << i;
}

TEST(ZoCAcquisitionSteeringOrbal2, HandsCameraThenProjectorBlocksAsFloatsOnlyFromACompleteCalibration) {
    TestSteering steering;
    const auto camera = steering.Store().Camera();
    const auto projector = steering.Store().Projector();
    ASSERT_TRUE(camera && projector);
    CCoordinate3<double> eye;
    steering.Device().m_camProjCalib.GetCamera().GetEyePt(eye);
    EXPECT_FLOAT_EQ(camera->eye[0], static_cast<float>(eye.x));
    EXPECT_EQ(std::vector<int>({camera->width, camera->height, projector->width, projector->height}),
              std::vector<int>({1280, 1024, 1024, 768}));
    EXPECT_FLOAT_EQ(projector->fov, 40.0f);
    // An incomplete calibration changes nothing.
    ZoCCamProjCalib noProjector(steering.Device().m_camProjCalib.GetCamera(), ZoCAbstractCamCalib(), 100);
    EXPECT_FALSE(steering.setCameraAndProjectorParameters(noProjector));
    EXPECT_EQ(steering.Store().Camera()->eye[2], camera->eye[2]);
    CRect r(0, 0, 10, 10);
    EXPECT_TRUE(steering.enlargeFrame(r, 0, 300));
    EXPECT_EQ(r, CRect(0, 0, 300, 300));  // still the reference camera's 1280 x 1024 image
}

TEST(ZoCAcquisitionSteeringOrbal2, JointRecordsCarryTheChainsValuesAndTheTiltsNarrowAroundTheirHomeAngle) {
    TestSteering steering;
    const ZoCOrbal2AxisChain& chain = steering.GetAxisChain();
    const auto records = steering.Store().JointParameters().value();
    for (size_t i = 0; i < 5; ++i) {
        const auto& joint = chain.GetDHJoint(static_cast<int>(i));
        EXPECT_EQ(std::vector<float>(records[i].dh, records[i].dh + 4),
                  std::vector<float>({joint.GetParam(0), joint.GetParam(1), joint.GetParam(2), joint.GetParam(3)}));
        EXPECT_EQ(records[i].kind, joint.GetKind());
        EXPECT_EQ(records[i].minPosition, joint.GetMinPosition()) << i;
    }
    auto limits = [&] {
        const auto j = steering.Store().JointParameters().value();
        return std::vector<float>{j[0].minPosition, j[0].maxPosition, j[1].minPosition, j[1].maxPosition,
                                  j[2].minPosition, j[2].maxPosition};
    };
    // L2: 90 +- 89.99 intersected with [30, 150]; L3: the home angle alone; L1 untouched.
    steering.SetLimitsForJointParameters(100, 0);
    EXPECT_EQ(limits(), (std::vector<float>{-169, 50, 30, 150, 90, 90}));
    steering.SetLimitsForJointParameters(-20, 5);
    EXPECT_EQ(limits(), (std::vector<float>{-169, 50, 70, 110, 85, 95}));
}

TEST(ZoCAcquisitionSteeringOrbal2, EnlargedRegionsReachTheMinimumSizeAndStayInTheImage) {
    // A host's camera with a 640 x 480 image, handed over as a temporary: the steering keeps
    // its own copy of the host's type.
    class SmallCamera : public ZoCCamProjCalib {
    public:
        bool GetCameraImageSize(long& width, long& height) const override {
            width = 640;
            height = 480;
            return true;
        }
        std::unique_ptr<ZoCCamProjCalib> Clone() const override { return std::make_unique<SmallCamera>(*this); }
    };
    TestSteering reference, small;
    ASSERT_TRUE(small.setCameraAndProjectorParameters(SmallCamera()));
    struct Case { TestSteering* steering; CRect in; int grow; CRect out; };
    for (const Case& c : {
             Case{&reference, CRect(600, 500, 640, 520), 0, CRect(470, 360, 770, 660)},  // centre (620, 510)
             // 280 x 250 grows to 300 x 300; the centre moves to 150 so the region stays inside
             Case{&reference, CRect(100, 50, 140, 60), 240, CRect(0, 0, 300, 300)},
             Case{&reference, CRect(1270, 1015, 1279, 1023), 240, CRect(979, 723, 1279, 1023)},
             Case{&reference, CRect(-50, -50, 5000, 5000), 240, CRect(0, 0, 1279, 1023)},
             // centre (620, 410) moves in to (489, 329) so that 150 on each side fit the image
             Case{&small, CRect(600, 400, 640, 420), 0, CRect(339, 179, 639, 479)}}) {
        CRect r = c.in;
        EXPECT_TRUE(c.steering->enlargeFrame(r, c.grow, 300));
        EXPECT_EQ(r, c.out) << c.in.left << " " << c.in.top;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2, InterruptFlagAndEventStopThePlanning) {
    ZoCAcquisitionSteeringOrbal2::LocalProgress& progress = ZoCAcquisitionSteeringOrbal2::GetProgressCallback();
    EXPECT_TRUE(progress.GoOn());
    EXPECT_TRUE(ZoCAcquisitionSteeringOrbal2::SetInterrupt(true));
    EXPECT_FALSE(progress.GoOn());
    ZoCAcquisitionSteeringOrbal2::SetInterrupt(false);
    CbEvent cancel(true, false);
    EXPECT_TRUE(ZoCAcquisitionSteeringOrbal2::SetInterruptEvent(&cancel));
    EXPECT_TRUE(progress.GoOn());
    cancel.Set();
    EXPECT_FALSE(progress.GoOn());
    ZoCAcquisitionSteeringOrbal2::SetInterruptEvent(nullptr);
    EXPECT_TRUE(progress.GoOn());
}
