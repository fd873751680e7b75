// Milliseconds per frame at mid-transition: the renderer alone on work
// frames, on one thread and shared out among two ("fast": clip B copied into
// a frame of its own first; "in-place": clip B already in the output, as
// the export hands it over, its copy not timed), and the whole render call
// through the module's export (the host's 24-bit frames converted in and
// out, the work block included), whole frames and one field, at 1080p and
// 4K. The export takes as many threads as the module would
// (GRANULIX_THREADS=1: one). `make bench` runs it with repetitions and
// prints medians; bench/compare-xfade-call sets the export figures against
// FFmpeg's dissolve in the same run. The literal reference has a benchmark
// of its own, with the tests (tests/reference_bench.cpp).
#include <benchmark/benchmark.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

#include "entry_points.h"
#include "host_call.h"
#include "renderer.h"
#include "source_map.h"
#include "task_pool.h"

namespace {

using namespace granulix;
using bench::HostCall;
using bench::widthFor;

enum Look { kDefault, kPerPixel, kBands, kRed2Delay };

void configure(EffectSettings& s, int look, int32_t height) {
    switch (look) {
        case kPerPixel: s.cellWidth = s.cellHeight = 1; break;
        case kBands:
            s.cellFlags = 1;
            s.cellWidth = 1;
            s.cellHeight = height;
            break;
        case kRed2Delay: s.sourceBindings[kDelay].kind = kRed2; break;
        default: break;
    }
}

struct Scene {
    int32_t width, height;
    std::vector<uint32_t> a, b, out;
    EffectSettings settings{};
    RenderJob job;

    Scene(int look, int32_t rows)
        : width(widthFor(rows)),
          height(rows),
          a(size_t(width) * height),
          b(a.size()),
          out(a.size()) {
        std::mt19937 g(7);
        for (auto& p : a) p = g() & 0xFFFFFFu;
        for (auto& p : b) p = g() & 0xFFFFFFu;
        fillDefaults(settings);
        configure(settings, look, height);
        job =
            workFramesJob(65536, 32768, width, height, {a.data(), b.data(), out.data()}, settings);
    }
};

// The renderer keeps its per-frame tables in a scratch, as the frei0r
// plug-in does, and shares each frame out among `threads` (1: none).
void renderKept(const RenderJob& job) {
    static RenderScratch scratch;
    render(job, scratch);
}

template <void (*Render)(const RenderJob&), bool InPlace = false>
void BM_Render(benchmark::State& state) {
    Scene scene(static_cast<int>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const int threads = state.range(2) > 1 ? static_cast<int>(state.range(2)) : 1;
    const std::unique_ptr<TaskRunner> pool = threads > 1 ? newTaskPool(threads) : nullptr;
    scene.job.tasks = pool.get();
    if (InPlace) scene.job.pixelsB = scene.job.pixelsOut;
    for (auto _ : state) {
        if (InPlace) {
            state.PauseTiming();
            std::memcpy(scene.out.data(), scene.b.data(), scene.b.size() * sizeof(uint32_t));
            state.ResumeTiming();
        }
        Render(scene.job);
        benchmark::DoNotOptimize(scene.out.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns/pixel"] =
        benchmark::Counter(double(scene.a.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_Export(benchmark::State& state) {
    const auto rows = static_cast<int32_t>(state.range(1));
    EffectSettings settings{};
    fillDefaults(settings);
    configure(settings, static_cast<int>(state.range(0)), rows);
    HostCall call(rows, settings);
    const int32_t fieldMode = static_cast<int32_t>(state.range(2));
    for (auto _ : state) {
        if (host::applyEffect(1, &call.request, fieldMode) != 1) {
            state.SkipWithError("the render call failed");
            break;
        }
        benchmark::DoNotOptimize(call.out.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns/pixel"] = benchmark::Counter(
        double(call.header.width) * call.header.height,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void renderArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"look", "rows", "threads"});
    for (int rows : {1080, 2160}) {
        for (int look : {kDefault, kPerPixel, kBands, kRed2Delay}) {
            for (int threads : {1, 2}) b->Args({look, rows, threads});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Default settings and one pixel a cell at 1080p and 4K, each with the
// values of a third argument.
void lookArgs(benchmark::internal::Benchmark* b, const char* third,
              std::initializer_list<int> values) {
    b->ArgNames({"look", "rows", third});
    for (int rows : {1080, 2160}) {
        for (int look : {kDefault, kPerPixel}) {
            for (int value : values) b->Args({look, rows, value});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
void inPlaceArgs(benchmark::internal::Benchmark* b) { lookArgs(b, "threads", {1, 2}); }
void exportArgs(benchmark::internal::Benchmark* b) { lookArgs(b, "field", {0, 1}); }

BENCHMARK(BM_Render<renderKept>)->Name("fast")->Apply(renderArgs);
BENCHMARK(BM_Render<renderKept, true>)->Name("in-place")->Apply(inPlaceArgs);
BENCHMARK(BM_Export)->Name("export")->Apply(exportArgs);

}  // namespace

BENCHMARK_MAIN();
