// The order of gap-covering requests: the pruned depth-first search against trying every order,
// on the same ten requests, with the ratio of their times. Both must pick the same order.
#include "ZoOrbal2.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

namespace {

constexpr int c_iRequests = 10;

ZoCJawScanJointSequenceGenerator makeRequests(uint64_t seed, ZoCOrbal2AxisChain::NCJointConfiguration& start) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<float> l1(-30, 30), tilt(40, 140), l4(-20, 20), disc(-180, 360);
    ZoCJawScanJointSequenceGenerator generator(c_iRequests, 60);
    for (int i = 0; i < c_iRequests; ++i) {
        const float values[5] = {l1(rng), tilt(rng), tilt(rng), l4(rng), disc(rng)};
        generator.SetPositionValues(i, values);
    }
    start.Set(l1(rng), 90, 90, 0, disc(rng));
    return generator;
}

void BM_PrunedSearch(benchmark::State& state) {
    ZoCOrbal2AxisChain::NCJointConfiguration start;
    const auto generator = makeRequests(static_cast<uint64_t>(state.range(0)), start);
    std::vector<int> order;
    for (auto _ : state) benchmark::DoNotOptimize(generator.FindLeastTimeOrder(start, order));
}
BENCHMARK(BM_PrunedSearch)->Arg(5489)->Arg(47110518)->Arg(47110815)->Unit(benchmark::kMillisecond);

void BM_ExhaustiveSearch(benchmark::State& state) {
    ZoCOrbal2AxisChain::NCJointConfiguration start;
    const auto generator = makeRequests(static_cast<uint64_t>(state.range(0)), start);
    std::vector<int> order;
    for (auto _ : state) benchmark::DoNotOptimize(generator.FindLeastTimeOrderExhaustive(start, order));
}
BENCHMARK(BM_ExhaustiveSearch)->Arg(5489)->Iterations(3)->Unit(benchmark::kMillisecond);

// Side by side on the same input, once, with the ratio.
void compareOnce() {
    ZoCOrbal2AxisChain::NCJointConfiguration start;
    const auto generator = makeRequests(5489, start);
    std::vector<int> pruned, exhaustive;
    const auto t0 = std::chrono::steady_clock::now();
    generator.FindLeastTimeOrder(start, pruned);
    const auto t1 = std::chrono::steady_clock::now();
    generator.FindLeastTimeOrderExhaustive(start, exhaustive);
    const auto t2 = std::chrono::steady_clock::now();
    const double a = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const double b = std::chrono::duration<double, std::milli>(t2 - t1).count();
    std::printf("10 requests: pruned %.3f ms, exhaustive %.1f ms, ratio %.0f, same order: %s\n", a, b, b / a,
                pruned == exhaustive ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
    compareOnce();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
