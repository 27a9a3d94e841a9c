// Rendering one full-size (1280 x 1024) recording of the built-in jaw model on one core: camera
// rays, shadow rays to the projector and every field the device records. Goal: at most 50 ms.
#include "SyntheticModels.h"
#include "VirtualScanner.h"

#include <benchmark/benchmark.h>

namespace {

void BM_RenderJawAtHome(benchmark::State& state) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, Sim::BuildJawModel().mesh);
    if (!scanner.IsValid()) {
        state.SkipWithError(scanner.GetError().c_str());
        return;
    }
    ZoCOrbal2AxisChain::NCJointConfiguration config;
    device.m_axisChain.GetNeutralConfiguration(config);
    int64_t measured = 0;
    for (auto _ : state) {
        Sim::RecordedImage image = scanner.Record(config);
        measured = image.measuredPixels;
        benchmark::DoNotOptimize(image);
    }
    state.counters["measured_pixels"] = static_cast<double>(measured);
    state.counters["pixels_per_s"] =
        benchmark::Counter(static_cast<double>(scanner.GetWidth()) * scanner.GetHeight(),
                           benchmark::Counter::kIsIterationInvariantRate);
}

// A tilted view along the jaw line and a view round the disc: where the model fills more or
// less of the image.
void BM_RenderJawTilted(benchmark::State& state) {
    const ZoCOrbal2DeviceConfig device;
    Sim::VirtualScanner scanner(device, Sim::BuildJawModel().mesh);
    ZoCOrbal2AxisChain::NCJointConfiguration config;
    config.Set(0, 60, 100, 0, static_cast<float>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(scanner.Record(config));
}

}  // namespace

BENCHMARK(BM_RenderJawAtHome)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderJawTilted)->Arg(0)->Arg(135)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
