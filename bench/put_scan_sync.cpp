// The scan hand-off on a full camera field: points per second of the conversion into the
// planning frame on the worker (putScanSync), and the time PutScan takes on the host's thread.
//
// The field is 1280 x 1024 with about 70 % valid points; the invalid ones lie in runs along the
// rows, as in a real range image (shadows and the background between teeth).
#include "AcquisitionPlanningStore.h"
#include "ZoOrbal2.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

constexpr int c_iWidth = 1280;
constexpr int c_iHeight = 1024;

ZoCFieldCoord makeField() {
    std::mt19937_64 rng(47110815);
    std::uniform_int_distribution<int> validRun(20, 120), invalidRun(8, 52);
    const float m = std::numeric_limits<float>::max();
    std::vector<CbVector3f> points(static_cast<size_t>(c_iWidth) * c_iHeight, CbVector3f(m, m, m));
    for (int y = 0; y < c_iHeight; ++y) {
        int x = invalidRun(rng) / 2;
        while (x < c_iWidth) {
            const int end = std::min(c_iWidth, x + validRun(rng));
            for (; x < end; ++x)
                points[static_cast<size_t>(y) * c_iWidth + x] =
                    CbVector3f(25.0f * (x - 640), 25.0f * (y - 512), -400.0f - 0.5f * ((x * 7 + y * 3) % 200));
            x += invalidRun(rng);
        }
    }
    return ZoCFieldCoord(c_iWidth, c_iHeight, std::move(points));
}

size_t validPoints(const ZoCFieldCoord& field) {
    size_t n = 0;
    for (int y = 0; y < field.GetHeight(); ++y)
        for (int x = 0; x < field.GetWidth(); ++x) n += field.IsValid(x, y);
    return n;
}

// A planning that only looks at the first and last point it is handed, so that the benchmark
// measures the steering's conversion, not what a planning does with the points.
class ChecksumPlanning : public AcquisitionPlanningStore {
public:
    void PutScan(const NSScanRecord& scan) override {
        if (gate) gate->Wait();
        checksum += scan.points[0] + scan.points[scan.numPointFloats - 1] + scan.numPointFloats;
    }
    double checksum = 0;
    CbEvent* gate = nullptr;  // holds the worker back while set and closed
};

class QuietSteering : public ZoCAcquisitionSteeringOrbal2 {
public:
    QuietSteering() : ZoCAcquisitionSteeringOrbal2(ZoCOrbal2AxisChain(), ZoCOrbal2AcquisitionPlanning::eTypeJaw) {}
    ChecksumPlanning& UseChecksumPlanning() {
        auto* planning = new ChecksumPlanning();
        m_pPlanning.reset(planning);
        return *planning;
    }
};

void BM_PutScanSync(benchmark::State& state) {
    const ZoCFieldCoord field = makeField();
    const size_t valid = validPoints(field);
    QuietSteering steering;
    const GUID id = CreateGuid();
    const bool associated = state.range(0) != 0;
    if (associated) {
        const float joints[5] = {0, 90, 90, 0, 0};
        steering.AssociateRequestAndDHParameters(L"001_U0_0", joints);
        steering.AssociateRequestAndImageSourceID(L"001_U0_0", id);
    }
    ChecksumPlanning& planning = steering.UseChecksumPlanning();
    const std::vector<ZoCFieldCoord> fields{field};
    for (auto _ : state) benchmark::DoNotOptimize(steering.putScanSync(fields, id));
    benchmark::DoNotOptimize(planning.checksum);
    state.counters["valid_share"] = static_cast<double>(valid) / (c_iWidth * c_iHeight);
    state.counters["points_per_s"] =
        benchmark::Counter(static_cast<double>(valid) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PutScanSync)->Arg(0)->Arg(1)->ArgName("associated")->Unit(benchmark::kMillisecond);

// The host's side: copying the field into the queue. The worker is held back by a gate so that
// each call measures only the enqueue; the queue is drained outside the timing.
void BM_PutScanOnHostThread(benchmark::State& state) {
    const ZoCFieldCoord field = makeField();
    QuietSteering steering;
    ChecksumPlanning& planning = steering.UseChecksumPlanning();
    CbEvent gate(true, false);
    planning.gate = &gate;
    int queued = 0;
    for (auto _ : state) {
        steering.PutScan(field, CreateGuid());
        if (++queued == 19) {
            state.PauseTiming();
            gate.Set();
            ZoCOrbal2AcquisitionPlanning::NSEvaluationResult result;
            steering.Evaluate(result);
            gate.Reset();
            queued = 0;
            state.ResumeTiming();
        }
    }
    gate.Set();
}
// A fixed count: each batch of 19 queued scans is drained outside the timing, which dominates.
BENCHMARK(BM_PutScanOnHostThread)->Iterations(1900)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
