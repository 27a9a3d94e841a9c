// The scan hand-off: queueing, planning frame, cancellation, several host threads (under ThreadSanitizer).
#include "SteeringTestSupport.h"

#include <atomic>
#include <limits>
#include <map>
#include <thread>

namespace {

constexpr float c_fInvalid = std::numeric_limits<float>::max();

// A w x h field at disc height `zDisc` (mm), pixels 1 mm apart from x = `xOffset`, every third one empty.
ZoCFieldCoord gridField(int w, int h, float zDisc, float xOffset = 0) {
    std::vector<CbVector3f> points;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            points.push_back(x % 3 == 2 ? CbVector3f(c_fInvalid, c_fInvalid, c_fInvalid)
                                        : CbVector3f(40.0f * (x + xOffset), 40.0f * y, 40.0f * zDisc));
    return ZoCFieldCoord(w, h, points);
}

// A one-point field whose x coordinate carries an id (in image-area units), or with no point.
ZoCFieldCoord taggedField(int tag) {
    return tag < 0 ? ZoCFieldCoord(1, 1, {}) : ZoCFieldCoord(1, 1, {CbVector3f(40.0f * tag, 0, 0)});
}

}  // namespace

TEST(ScanHandOff, PointsLandWhereTheKinematicsPredictAndAssociatedScansCarryPixelsAndJoints) {
    TestSteering steering;
    const float joints[5] = {1, 91, 89, 2, 45}, later[5] = {6, 7, 8, 9, 10};
    steering.AssociateRequestAndDHParameters(L"010_U0_3", joints);
    steering.AssociateRequestAndDHParameters(L"010_U0_3", later);  // only a name's first association counts
    const GUID id = CreateGuid();
    steering.AssociateRequestAndImageSourceID(L"010_U0_3", id);
    ASSERT_TRUE(steering.putScanSync({gridField(6, 4, -12.0f, 3.0f)}, id));
    const auto scan = store(steering).Scans().at(0);
    std::vector<float> points;  // two of every three columns
    std::vector<int> pixels;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            if (x % 3 != 2) {
                const auto p = planningOf(steering, {CbVector3f(x + 3.0f, y, -12.0f)});
                points.insert(points.end(), p.begin(), p.end());
                pixels.insert(pixels.end(), {x, y});
            }
    EXPECT_THAT(scan.points, near(points, 2e-4));
    EXPECT_EQ(std::pair(scan.pixels, scan.numPixelInts), std::pair(pixels, 32u));
    EXPECT_EQ(std::vector<float>(scan.joints, scan.joints + 5), std::vector<float>(joints, joints + 5));
    // An unassociated scan has no pixels (the no-pixel mark); the image-area transform precedes the scale.
    steering.SetTrafoImageAreaToDisc(CbMatrix4Rf::Translation(400, 0, 0));  // 10 mm along x
    ASSERT_TRUE(steering.putScanSync({taggedField(0), gridField(2, 2, -5)}, CreateGuid()));
    const auto other = store(steering).Scans().at(1);
    EXPECT_EQ(std::tuple(other.pixels.size(), other.numPixelInts, other.points.size()),
              std::tuple(0u, 0xFFFFFFFFu, 5u * 3u));
    EXPECT_THAT(std::vector<float>(&other.points[0], &other.points[3]),
                near(planningOf(steering, {{10, 0, 0}}), 2e-4));
}

TEST(ScanHandOff, RotationScanDropsPointsAboveItsZLimitAndScansWithoutPointsAreNotHandedOn) {
    TestSteering steering;
    EXPECT_EQ(steering.getZLimitOfRotScan({}), std::numeric_limits<float>::max());
    EXPECT_FLOAT_EQ(steering.getZLimitOfRotScan({ZoCFieldCoord(2, 1, {{0, 0, 400}, {40, 0, -800}})}), -20.0f);
    // Eight fields: the lowest box corner lies at z = -30 mm, so the limit is -15 mm.
    std::vector<ZoCFieldCoord> fields(6, ZoCFieldCoord(1, 1, {{0, 0, 40 * -14.0f}}));
    fields.insert(fields.begin(),
                  ZoCFieldCoord(3, 1, {{0, 0, 40 * -30.0f}, {0, 0, 40 * -20.0f}, {0, 0, 40 * -10.0f}}));
    fields.push_back(ZoCFieldCoord(2, 2, {}));  // an empty field has no box to lower the limit
    ASSERT_TRUE(steering.putScanSync(fields, CreateGuid()));
    const auto scan = store(steering).Scans().at(0);
    // -30 and -20 pass, -10 and the -14 points do not; 0 is the rotation scan's no-pixel mark.
    EXPECT_EQ(std::pair(scan.points.size(), scan.numPixelInts), (std::pair<size_t, uint32_t>(2 * 3, 0)));
    EXPECT_FALSE(steering.putScanSync({}, CreateGuid()) ||
                 steering.putScanSync({taggedField(-1)}, CreateGuid()));
    // Eight fields all at -5 mm (one with an empty pixel first): -5 <= -5 + 15 passes.
    fields = std::vector<ZoCFieldCoord>(8, ZoCFieldCoord(1, 1, {{0, 0, 40 * -5.0f}}));
    fields[0] = ZoCFieldCoord(2, 1, {{c_fInvalid, c_fInvalid, c_fInvalid}, {0, 0, 40 * -5.0f}});
    EXPECT_TRUE(steering.putScanSync(fields, CreateGuid()));
    EXPECT_EQ(store(steering).ScanCount(), 2u);
    // The worker skips a scan with no points and goes on.
    steering.PutScan(taggedField(-1), CreateGuid());
    steering.PutScan(taggedField(7), CreateGuid());
    Evaluation result;
    steering.Evaluate(result);
    EXPECT_EQ(store(steering).ScanCount(), 3u);
}

TEST(ScanHandOff, AFullQueueHoldsTheNextHostUntilTheWorkerFreesASlotAndCancellingReleasesEveryWaiter) {
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        CbEvent gate(true, false), arrived(true, false);
        TestSteering steering;
        store(steering).SetScanGate(&gate, &arrived);
        for (int i = 0; i < 20; ++i)
            steering.PutScan(taggedField(i), CreateGuid());
        ASSERT_TRUE(arrived.Wait(10000));  // the worker holds the first scan, which stays queued
        std::atomic<bool> returned{false};
        std::thread host([&] {
            steering.PutScan(taggedField(20), CreateGuid());
            returned.store(true);
        });
        Evaluation result;
        std::thread evaluator([&] { steering.Evaluate(result); });
        if (cancel)
            steering.CancelPutScan();
        std::this_thread::sleep_for(std::chrono::milliseconds(cancel ? 0 : 100));
        EXPECT_TRUE(cancel || !returned.load());  // no slot is free while the worker is blocked
        gate.Set();
        host.join();
        evaluator.join();
        // Every later wait for an empty queue ends too.
        for (int i = 0; i < 2; ++i)
            steering.Evaluate(result);
        store(steering).SetScanGate(nullptr);
        steering.initScanPlan();
        // Cancelled, only the scan the worker held was handed on; otherwise all 21.
        EXPECT_EQ(steering.GetFrameCount(), cancel ? 1 : 21);
    }
}

TEST(ScanHandOff, ManyHostThreadsDeliverEveryScanOnceAndInOrder) {
    TestSteering steering;
    std::atomic<bool> producing{true};
    Evaluation result;
    std::thread evaluator([&] {
        while (producing.load())
            steering.Evaluate(result);
    });
    std::vector<std::thread> producers;
    for (int p = 0; p < 3; ++p)  // every fourth scan of each producer is a group of two fields
        producers.emplace_back([&, p] {
            for (int tag = 1000 * p; tag < 1000 * p + 60; ++tag)
                tag % 4 == 3 ? steering.PutScanGroup({taggedField(tag), taggedField(tag)}, CreateGuid())
                             : steering.PutScan(taggedField(tag), CreateGuid());
        });
    for (std::thread& t : producers)
        t.join();
    producing.store(false);
    evaluator.join();
    steering.Evaluate(result);
    // Every scan arrived once and in its producer's order; its tag is its distance from the origin's image.
    std::map<int, int> next = {{0, 0}, {1, 1000}, {2, 2000}};
    const auto scans = store(steering).Scans();
    EXPECT_EQ(scans.size(), 180u);
    const std::vector<float> o = planningOf(steering, {CbVector3f()});
    const CbVector3f origin(o[0], o[1], o[2]);
    for (const auto& scan : scans) {
        const int tag = static_cast<int>(
            std::lround((CbVector3f(scan.points[0], scan.points[1], scan.points[2]) - origin).Length()));
        EXPECT_EQ(tag, next[tag / 1000]++);
        EXPECT_EQ(scan.points.size(), tag % 4 == 3 ? 6u : 3u) << tag;
    }
}

TEST(ScanHandOff, SteeringDestroyedWithScansQueuedEndsCleanly) {
    for (int round = 0; round < 5; ++round) {
        TestSteering steering;
        for (int i = 0; i < 15; ++i)
            steering.PutScan(gridField(40, 40, -10), CreateGuid());
        // What was handed on so far is whole; destruction cancels and joins the worker.
        const auto scans = store(steering).Scans();
        EXPECT_LE(scans.size(), 15u);
        for (const auto& scan : scans)
            EXPECT_EQ(scan.points.size(), 40u * 27u * 3u);
    }
}
