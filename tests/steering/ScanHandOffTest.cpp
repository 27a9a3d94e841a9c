// The scan hand-off: queueing, the conversion into the planning frame, cancellation and the
// behaviour under several host threads (run under ThreadSanitizer in CI).
#include "SteeringTestSupport.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <thread>

namespace {

constexpr float c_fInvalid = std::numeric_limits<float>::max();

// A field of w x h points at disc height `zDisc` (mm), one point per pixel spaced 1 mm, with
// every third pixel of each row left empty.
ZoCFieldCoord gridField(int w, int h, float zDisc, float xOffset = 0) {
    std::vector<CbVector3f> points;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            points.push_back(x % 3 == 2 ? CbVector3f(c_fInvalid, c_fInvalid, c_fInvalid)
                                        : CbVector3f(40.0f * (x + xOffset), 40.0f * y, 40.0f * zDisc));
    return ZoCFieldCoord(w, h, points);
}

// A one-point field whose x coordinate carries an id (in image-area units).
ZoCFieldCoord taggedField(int tag) { return ZoCFieldCoord(1, 1, {CbVector3f(40.0f * tag, 0, 0)}); }

// Camera-frame point (mm) of a disc point at the neutral configuration, by the kinematics.
CbVector3f cameraPointAtNeutral(const TestSteering& steering, const CbVector3f& disc) {
    ZoCOrbal2AxisChain::NCJointConfiguration neutral;
    steering.GetAxisChain().GetNeutralConfiguration(neutral);
    return steering.GetAxisChain().GetCamToDiscTransformation(neutral, false).Inverted().TransformPoint(disc);
}

}  // namespace

TEST(ScanHandOff, PointsLandInThePlanningFrameThatTheKinematicsPredictAfterTheImageAreaTransform) {
    TestSteering steering;
    const ZoCFieldCoord field = gridField(6, 4, -12.0f, 3.0f);
    ASSERT_TRUE(steering.putScanSync({field}, CreateGuid()));
    const auto scans = steering.Store().Scans();
    ASSERT_EQ(scans.size(), 1u);
    ASSERT_EQ(scans[0].points.size(), 4u * 4u * 3u);  // two of every three columns
    size_t k = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            if (x % 3 == 2) continue;
            // The planning frame is the camera frame at the neutral configuration, y mirrored.
            const CbVector3f camera = cameraPointAtNeutral(steering, CbVector3f(x + 3.0f, y, -12.0f));
            EXPECT_NEAR(scans[0].points[k], camera.x, 2e-4);
            EXPECT_NEAR(scans[0].points[k + 1], -camera.y, 2e-4);
            EXPECT_NEAR(scans[0].points[k + 2], camera.z, 2e-4);
            k += 3;
        }
    // The image-area transform is applied before the scale.
    steering.SetTrafoImageAreaToDisc(CbMatrix4Rf::Translation(400, 0, 0));  // 10 mm along x
    ASSERT_TRUE(steering.putScanSync({ZoCFieldCoord(1, 1, {CbVector3f(0, 0, 0)})}, CreateGuid()));
    const CbVector3f camera = cameraPointAtNeutral(steering, CbVector3f(10, 0, 0));
    const auto scan = steering.Store().Scans().at(1);
    EXPECT_NEAR(scan.points[0], camera.x, 1e-4);
    EXPECT_NEAR(scan.points[1], -camera.y, 1e-4);
}

TEST(ScanHandOff, OnlyAnAssociatedScanCarriesPixelsAndJoints) {
    TestSteering steering;
    const float joints[5] = {1, 91, 89, 2, 45};
    steering.AssociateRequestAndDHParameters(L"010_U0_3", joints);
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(L"010_U0_3", id);
    ASSERT_TRUE(steering.putScanSync({gridField(3, 2, -5)}, id));
    const auto scan = steering.Store().Scans().at(0);
    EXPECT_EQ(scan.pixels, (std::vector<int>{0, 0, 1, 0, 0, 1, 1, 1}));
    EXPECT_EQ(scan.numPixelInts, 8u);
    EXPECT_EQ(std::vector<float>(scan.joints, scan.joints + 5), std::vector<float>(joints, joints + 5));
    // An unassociated scan has no pixels and the no-pixel mark.
    ASSERT_TRUE(steering.putScanSync({gridField(3, 2, -5), gridField(2, 2, -5)}, CreateGuid()));
    const auto unassociated = steering.Store().Scans().at(1);
    EXPECT_TRUE(unassociated.pixels.empty());
    EXPECT_EQ(unassociated.numPixelInts, 0xFFFFFFFFu);
    EXPECT_EQ(unassociated.points.size(), 8u * 3u);
}

TEST(ScanHandOff, RotationScanDropsPointsAboveItsZLimitAndScansWithoutPointsAreNotHandedOn) {
    TestSteering steering;
    // Eight fields: the lowest box corner lies at z = -30 mm, so the limit is -15 mm.
    std::vector<ZoCFieldCoord> fields;
    fields.push_back(ZoCFieldCoord(3, 1, {{0, 0, 40 * -30.0f}, {0, 0, 40 * -20.0f}, {0, 0, 40 * -10.0f}}));
    for (int i = 0; i < 6; ++i) fields.push_back(ZoCFieldCoord(1, 1, {{0, 0, 40 * -14.0f}}));
    fields.push_back(ZoCFieldCoord(2, 2, {}));  // an empty field has no box to lower the limit
    ASSERT_TRUE(steering.putScanSync(fields, CreateGuid()));
    const auto scan = steering.Store().Scans().at(0);
    EXPECT_EQ(scan.points.size(), 2u * 3u);  // -30 and -20 pass, -10 and the -14 points do not
    EXPECT_EQ(scan.numPixelInts, 0u);        // the rotation scan's no-pixel mark
    // Scans without points are not handed on.
    EXPECT_FALSE(steering.putScanSync({}, CreateGuid()));
    const ZoCFieldCoord empty(2, 2, {});
    EXPECT_FALSE(steering.putScanSync({empty}, CreateGuid()));
    // Eight fields whose every point lies above the rotation scan's limit: nothing passes
    // except what lies at most 15 mm above the lowest corner.
    fields = std::vector<ZoCFieldCoord>(8, ZoCFieldCoord(1, 1, {{0, 0, 40 * -5.0f}}));
    fields[0] = ZoCFieldCoord(2, 1, {{c_fInvalid, c_fInvalid, c_fInvalid}, {0, 0, 40 * -5.0f}});
    EXPECT_TRUE(steering.putScanSync(fields, CreateGuid()));  // -5 <= -5 + 15
    EXPECT_EQ(steering.Store().ScanCount(), 2u);
}

TEST(ScanHandOff, WorkerSkipsAScanWithNoPointsAndGoesOn) {
    TestSteering steering;
    steering.PutScan(ZoCFieldCoord(1, 1, {}), CreateGuid());
    steering.PutScan(taggedField(7), CreateGuid());
    ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
    steering.Evaluate(result);
    const auto scans = steering.Store().Scans();
    ASSERT_EQ(scans.size(), 1u);
    EXPECT_EQ(result.numPoints, 1);
}

TEST(ScanHandOff, TwentyFirstScanWaitsUntilTheWorkerFreesASlot) {
    TestSteering steering;
    CbEvent gate(true, false);
    steering.Store().SetScanGate(&gate);
    // The worker takes the first scan and blocks in the planning; the scan it holds stays
    // queued until it is handed on, so 20 scans fill the queue.
    for (int i = 0; i < 20; ++i) steering.PutScan(taggedField(i), CreateGuid());
    std::atomic<bool> returned{false};
    std::thread host([&] {
        steering.PutScan(taggedField(20), CreateGuid());
        returned.store(true);
    });
    // The host thread cannot have returned: no slot is free while the worker is blocked.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    gate.Set();
    host.join();
    EXPECT_TRUE(returned.load());
    ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
    steering.Evaluate(result);
    steering.Store().SetScanGate(nullptr);
    EXPECT_EQ(steering.Store().ScanCount(), 21u);
}

TEST(ScanHandOff, CancellingWithScansQueuedReleasesEveryWaiter) {
    TestSteering steering;
    CbEvent gate(true, false), arrived(true, false);
    steering.Store().SetScanGate(&gate, &arrived);
    for (int i = 0; i < 20; ++i) steering.PutScan(taggedField(i), CreateGuid());
    ASSERT_TRUE(arrived.Wait(10000));  // the worker holds the first scan
    std::thread blockedHost([&] { steering.PutScan(taggedField(99), CreateGuid()); });
    std::thread evaluator([&] {
        ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
        steering.Evaluate(result);
    });
    steering.CancelPutScan();
    gate.Set();
    blockedHost.join();
    evaluator.join();
    // Every later wait for an empty queue ends too: the cancelled worker left nothing queued.
    ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
    steering.Evaluate(result);
    steering.Evaluate(result);
    steering.initScanPlan();
    // Only the scan the worker held when cancelled was handed on (to the replaced planning).
    EXPECT_EQ(steering.GetFrameCount(), 1);
}

TEST(ScanHandOff, ManyHostThreadsDeliverEveryScanOnceAndInOrder) {
    constexpr int c_iRounds = 2;
    constexpr int c_iProducers = 3;
    constexpr int c_iScansPerProducer = 60;
    for (int round = 0; round < c_iRounds; ++round) {
        SCOPED_TRACE(round);
        auto steering = std::make_unique<TestSteering>();
        std::atomic<bool> producing{true};
        std::thread evaluator([&] {
            ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
            while (producing.load()) steering->Evaluate(result);
        });
        std::vector<std::thread> producers;
        for (int p = 0; p < c_iProducers; ++p)
            producers.emplace_back([&, p] {
                for (int i = 0; i < c_iScansPerProducer; ++i) {
                    const int tag = p * 1000 + i;
                    if (i % 4 == 3)
                        steering->PutScanGroup({taggedField(tag), taggedField(tag)}, CreateGuid());
                    else
                        steering->PutScan(taggedField(tag), CreateGuid());
                }
            });
        for (std::thread& t : producers) t.join();
        producing.store(false);
        evaluator.join();
        ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
        steering->Evaluate(result);

        // Every scan arrived once, each producer's scans in the order they were put.
        std::map<int, int> nextOfProducer;
        const auto scans = steering->Store().Scans();
        ASSERT_EQ(scans.size(), static_cast<size_t>(c_iProducers * c_iScansPerProducer));
        for (const auto& scan : scans) {
            const CbVector3f camera = cameraPointAtNeutral(*steering, CbVector3f(0, 0, 0));
            // Recover the tag from the planning point's offset against the origin's image.
            const CbVector3f origin(camera.x, -camera.y, camera.z);
            const float dx = scan.points[0] - origin.x, dy = scan.points[1] - origin.y, dz = scan.points[2] - origin.z;
            const int tag = static_cast<int>(std::lround(std::sqrt(dx * dx + dy * dy + dz * dz)));
            const int producer = tag / 1000, index = tag % 1000;
            EXPECT_EQ(index, nextOfProducer[producer]++) << "producer " << producer;
            EXPECT_EQ(scan.points.size(), index % 4 == 3 ? 6u : 3u);
        }

        steering.reset();
    }
}

TEST(ScanHandOff, SteeringDestroyedWithScansQueuedEndsCleanly) {
    for (int round = 0; round < 5; ++round) {
        TestSteering steering;
        for (int i = 0; i < 15; ++i) steering.PutScan(gridField(40, 40, -10), CreateGuid());
        // Whatever was handed on so far is whole; destruction then cancels the worker and
        // joins it with the rest still queued.
        const auto scans = steering.Store().Scans();
        EXPECT_LE(scans.size(), 15u);
        for (const auto& scan : scans) EXPECT_EQ(scan.points.size(), 40u * 27u * 3u);
    }
}
