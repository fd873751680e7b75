// Milliseconds per 1080p work frame at mid-transition, renderer alone, one
// thread. `make bench` runs it with repetitions and prints medians.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "renderer.h"
#include "source_map.h"
#ifdef GRANULIX_HAVE_REFERENCE
#include "reference_renderer.h"
#endif

namespace {

using namespace granulix;

constexpr int32_t kWidth = 1920, kHeight = 1080;

struct Scene {
    std::vector<uint32_t> a, b, out;
    EffectSettings settings{};
    RenderJob job;

    Scene() : a(size_t(kWidth) * kHeight), b(a.size()), out(a.size()) {
        std::mt19937 g(7);
        for (auto& p : a) p = g() & 0xFFFFFFu;
        for (auto& p : b) p = g() & 0xFFFFFFu;
        fillDefaults(settings);
        job.duration = 65536;
        job.position = 32768;
        job.width = kWidth;
        job.height = kHeight;
        job.pixelsA = a.data();
        job.pixelsB = b.data();
        job.pixelsOut = out.data();
        job.settings = &settings;
    }
};

enum Look { kDefault, kPerPixel, kBands, kRed2Delay };

void configure(EffectSettings& s, int look) {
    switch (look) {
        case kPerPixel: s.cellWidth = s.cellHeight = 1; break;
        case kBands: s.cellFlags = 1; s.cellWidth = 1; s.cellHeight = kHeight; break;
        case kRed2Delay: s.sourceBindings[kDelay].kind = kRed2; break;
        default: break;
    }
}

template <void (*Render)(const RenderJob&)>
void BM_Render(benchmark::State& state) {
    Scene scene;
    configure(scene.settings, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Render(scene.job);
        benchmark::DoNotOptimize(scene.out.data());
        benchmark::ClobberMemory();
    }
}

void args(benchmark::internal::Benchmark* b) {
    b->ArgName("look")->Arg(kDefault)->Arg(kPerPixel)->Arg(kBands)->Arg(kRed2Delay);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Render<render>)->Name("fast")->Apply(args);
#ifdef GRANULIX_HAVE_REFERENCE
BENCHMARK(BM_Render<reference::render>)->Name("reference")->Apply(args)->Iterations(3);
#endif

}  // namespace

BENCHMARK_MAIN();
