// The steering's calibration operations, and the calibration of a known chain from end to end.
#include "CalibrationTestSupport.h"
#include "ZoCAcquisitionSteeringOrbal2Rotation.h"

namespace {

using Calibration = ZoCOrbal2AxisCalibration;
using Objective = ZoCOrbal2AxisCalibrationObjFunction;

// A rotation steering whose default sequence is recorded on `chain` and handed back.
struct NSCalibrationScan {
    NSCalibrationScan(const ZoCOrbal2AxisChain& chain, const calibtest::NSRegistrationNoise& noise,
                      uint64_t seed)
        : steering(ZoCOrbal2DeviceConfig()) {
        ZoCOrbal2AxisChain::CJointPositionSequence sequence;
        steering.GetDefaultCalibrationSequence(sequence);
        std::mt19937_64 rng(seed);
        for (int i = 0; i < sequence.GetCount(); ++i) {
            CString name;
            name.Format(L"%03d_K0_%d", ZoCAcquisitionSteeringOrbal2::GetNewRequestNumber(), i);
            steering.AssociateRequestAndDHParameters(name, sequence[i].m_config.Data());
            const GUID image = CreateGuid();
            steering.AssociateRequestAndImageSourceID(name, image);
            steering.AddToCalibrationSet(
                image, calibtest::Registration(chain, sequence[i].m_config.Data(), noise, rng));
        }
    }
    Calibration& Driver() { return *steering.GetAxisCalibration(); }

    ZoCAcquisitionSteeringOrbal2Rotation steering;
};

}  // namespace

// Only registrations of images tied to a request join the steering's one set, with its joints.
TEST(ZoCAcquisitionSteeringOrbal2, AddsOnlyRegistrationsOfAssociatedImages) {
    ZoCAcquisitionSteeringOrbal2Rotation steering{ZoCOrbal2DeviceConfig()};
    const float joints[5] = {-7, 59, 68, -13, 312};
    steering.AssociateRequestAndDHParameters(L"001_K0_0", joints);
    const GUID recorded = CreateGuid();
    steering.AssociateRequestAndImageSourceID(L"001_K0_0", recorded);
    for (const GUID& image : {CreateGuid(), recorded, recorded})
        steering.AddToCalibrationSet(image, CbMatrix4Rf::Translation(10, 20, 30));
    const auto& set = steering.GetAxisCalibration()->GetCalibrationSet();
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(std::make_pair(calibtest::Entries(set[1].input), set[1].response(1, 3)),
              std::make_pair(std::vector<double>(joints, joints + 5), 20.0));
}

// A checker file for device 0, sensor "???"; the report to the log named, the run's to the one before.
TEST(ZoCAcquisitionSteeringOrbal2, RunAxisCalibrationWritesCheckerFileAndLog) {
    ScopedLogCapture quiet;
    const calibtest::ScopedCurrentDirectory inside(calibtest::FreshDirectory("steering_run"));
    NSCalibrationScan scan(ZoCOrbal2AxisChain(), {}, 1);
    scan.Driver().SetClock(&calibtest::FixedTime);
    scan.steering.RunAxisCalibration(L"first.log", nullptr);
    EXPECT_EQ(calibtest::ReadFile("CaliQ7-000000-\?\?\?-20240305_070809.log").substr(0, 59),
              "OrbalQ7 Kalibration am 05.03.2024 um 07:08\nGeraet: 000000\nS");
    EXPECT_EQ(calibtest::ReadFile("first.log").rfind("(CALIB) *** BEGIN RAW CALIBRATION DATA ***\n", 0), 0u);
    scan.steering.RunAxisCalibration(L"second.log", nullptr);
    EXPECT_NE(calibtest::ReadFile("first.log").find("CHECKING TRAFOS"), std::string::npos);
    EXPECT_EQ(calibtest::ReadFile("second.log").rfind("(CALIB) *** BEGIN RAW", 0), 0u);
}

// Exact registrations give the chain to 1e-4; noisy ones within three deviations, off the nominal.
TEST(ZoCAcquisitionSteeringOrbal2, CalibrationRecoversTheChainThatRecordedTheScans) {
    ScopedLogCapture quiet;
    const calibtest::ScopedCurrentDirectory inside(calibtest::FreshDirectory("end_to_end"));
    const ZoTVector<double> truth = Objective().ExportJointParameters(Objective::m_simulationJointParams);
    const ZoTVector<double> nominal =
        Objective().ExportJointParameters(Objective::GetDefaultHomePositionJointParams());
    const struct {
        calibtest::NSRegistrationNoise noise;
        uint64_t seed;
        double minRmse, maxRmse;
    } cases[] = {{{}, 1, 0.0, 1e-4}, {{0.002, 0.5}, 11, 0.05, 1.0}, {{0.002, 0.5}, 12, 0.05, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        NSCalibrationScan scan(calibtest::SimulationTableChain(), c.noise, c.seed);
        scan.steering.RunAxisCalibration(L"calibration.log", nullptr);
        Calibration& driver = scan.Driver();
        EXPECT_TRUE(driver.GetRMSE() > c.minRmse && driver.GetRMSE() < c.maxRmse) << driver.GetRMSE();
        double largestOffset = 0.0, value[4], sd[4];
        int rejected = 0;
        for (int i = 0; i < 12; ++i) {
            driver.GetJointParameters(i / 4, value[0], value[1], value[2], value[3]);
            driver.GetJointParametersStdDev(i / 4, sd[0], sd[1], sd[2], sd[3]);
            const double offset = std::abs(value[i % 4] - truth[i]), deviation = sd[i % 4];
            EXPECT_TRUE(deviation < 0.5 && offset <= (c.minRmse == 0.0 ? 1e-4 : 3 * deviation)) << i;
            largestOffset = std::max(largestOffset, offset / deviation);
            if (std::abs(truth[i] - nominal[i]) > 10 * deviation) {
                EXPECT_GT(std::abs(value[i % 4] - nominal[i]), 5 * deviation) << i;
                ++rejected;
            }
        }
        EXPECT_TRUE(c.minRmse == 0.0 || (largestOffset > 0.01 && rejected >= 7))
            << largestOffset << " " << rejected;
    }
}
