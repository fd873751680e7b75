// Milliseconds per frame of the literal reference at mid-transition, 1080p,
// default settings and one pixel a cell: what the fast renderer is measured
// against (engine_bench times the renderer itself). It lives with the tests,
// whose reference it is.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "reference_renderer.h"
#include "render_job.h"

namespace {

using namespace granulix;

void BM_Reference(benchmark::State& state) {
    const int32_t width = 1920, height = 1080;
    std::vector<uint32_t> a(size_t{width} * height), b(a.size()), out(a.size());
    std::mt19937 g(7);
    for (auto& p : a) p = g() & 0xFFFFFFu;
    for (auto& p : b) p = g() & 0xFFFFFFu;
    EffectSettings settings{};
    fillDefaults(settings);
    if (state.range(0) != 0) settings.cellWidth = settings.cellHeight = 1;
    const RenderJob job =
        workFramesJob(65536, 32768, width, height, {a.data(), b.data(), out.data()}, settings);
    for (auto _ : state) {
        reference::render(job);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Reference)
    ->Name("reference")
    ->ArgName("perPixel")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
