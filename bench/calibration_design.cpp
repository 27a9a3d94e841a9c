// Design of calibration sequences: the D-optimal subset of 30 out of 200 random candidates with
// 10 counted starts (goal: under a second), and the random candidates themselves with their
// travel order.
//
// Usage: calibration_design [Google Benchmark flags]
#include "ZoOrbal2.h"

#include <benchmark/benchmark.h>

namespace {

using Objective = ZoCOrbal2AxisCalibrationObjFunction;

const ZoTMatrix<double>& candidates() {
    static const ZoTMatrix<double> drawn = Objective().GenerateRandomCalibrationSequence(200);
    return drawn;
}

void BM_OptimizeCalibrationSequence(benchmark::State& state) {
    Objective objective;
    const ZoTMatrix<double>& pool = candidates();
    for (auto _ : state) {
        ZoTVector<int> design = objective.OptimizeCalibrationSequence(pool, 10, 30);
        benchmark::DoNotOptimize(design.data);
    }
}
BENCHMARK(BM_OptimizeCalibrationSequence)->Unit(benchmark::kMillisecond);

void BM_GenerateRandomCalibrationSequence(benchmark::State& state) {
    Objective objective;
    for (auto _ : state) {
        ZoTMatrix<double> requests =
            objective.GenerateRandomCalibrationSequence(static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(requests.data);
    }
}
BENCHMARK(BM_GenerateRandomCalibrationSequence)->Arg(26)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
