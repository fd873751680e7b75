// Milliseconds per 1080p frame of the OBS transition at mid-transition, in
// libobs started headless (Xvfb, Mesa's software OpenGL), with the default
// settings and per pixel, beside what the frame costs without it:
//   obs_fade      OBS's own fade between the same two image sources
//   obs_granulix  the Granulix transition: the scenes staged, last frame's
//                 copies read back, mixed, uploaded and drawn
//   obs_copies    what the module asks of the graphics card besides the mix:
//                 both scenes staged and mapped, one picture uploaded
//   rgba_mix      the mix alone: RGBA pictures in, through the renderer, out
//   render        the renderer alone on work frames
// Every OBS frame is drawn into a target and read back, so the GPU's work
// (here Mesa's, on the CPU) is finished inside the frame for both
// transitions; granulix minus fade is what the module adds. All of them
// share out the renderer's work as the module does (GRANULIX_THREADS).
// Run under scripts/with-xvfb; `make bench` does.
#include <benchmark/benchmark.h>
#include <obs.h>
#include <util/base.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "effect_settings.h"
#include "obs_headless.h"
#include "render_job.h"
#include "renderer.h"
#include "rgba_frames.h"
#include "task_pool.h"

namespace {

using namespace granulix;
using obs_test::ObsHeadless;

constexpr uint32_t kWidth = 1920, kHeight = 1080;
enum Look { kDefault, kPerPixel };

ObsHeadless* obs;
obs_source_t* sceneA;
obs_source_t* sceneB;
std::vector<uint32_t> pictureA, pictureB;  // the scenes as OBS draws them, RGBA

EffectSettings lookSettings(int look) {
    EffectSettings s{};
    fillDefaults(s);
    if (look == kPerPixel) s.cellWidth = s.cellHeight = 1;
    return s;
}

std::vector<uint32_t> asWords(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

void timeFrames(benchmark::State& state, obs_source_t* transition) {
    obs_transition_set(transition, sceneA);
    obs_transition_start(transition, OBS_TRANSITION_MODE_MANUAL, 0, sceneB);
    obs_transition_set_manual_torque(transition, 0, 0);
    obs_transition_set_manual_time(transition, 0.5f);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    obs->renderFrame(transition, kWidth, kHeight);  // the first frame of a run stages only
    for (auto _ : state) {
        benchmark::DoNotOptimize(obs->renderFrame(transition, kWidth, kHeight).data());
    }
    obs_source_release(transition);
}

void BM_ObsFade(benchmark::State& state) {
    obs_source_t* fade = obs_source_create_private("fade_transition", "fade", nullptr);
    if (!fade) {
        state.SkipWithError("OBS's fade transition is missing");
        return;
    }
    obs_transition_set_size(fade, kWidth, kHeight);
    timeFrames(state, fade);
}

void BM_ObsGranulix(benchmark::State& state) {
    obs_data_t* settings = obs_data_create();
    if (state.range(0) == kPerPixel) {
        obs_data_set_int(settings, "cell-width", 1);
        obs_data_set_int(settings, "cell-height", 1);
    }
    obs_source_t* t = obs_source_create_private("granulix_transition", "granulix", settings);
    obs_data_release(settings);
    obs_transition_set_size(t, kWidth, kHeight);
    timeFrames(state, t);
}

void BM_ObsCopies(benchmark::State& state) {
    obs_enter_graphics();
    const uint8_t* dataA = reinterpret_cast<const uint8_t*>(pictureA.data());
    const uint8_t* dataB = reinterpret_cast<const uint8_t*>(pictureB.data());
    gs_texture_t* a = gs_texture_create(kWidth, kHeight, GS_RGBA, 1, &dataA, 0);
    gs_texture_t* b = gs_texture_create(kWidth, kHeight, GS_RGBA, 1, &dataB, 0);
    gs_texture_t* mixed = gs_texture_create(kWidth, kHeight, GS_RGBA, 1, nullptr, GS_DYNAMIC);
    gs_stagesurf_t* stageA = gs_stagesurface_create(kWidth, kHeight, GS_RGBA);
    gs_stagesurf_t* stageB = gs_stagesurface_create(kWidth, kHeight, GS_RGBA);
    obs_leave_graphics();
    for (auto _ : state) {
        obs_enter_graphics();
        gs_stage_texture(stageA, a);
        gs_stage_texture(stageB, b);
        uint8_t* data = nullptr;
        uint32_t lineBytes = 0;
        for (gs_stagesurf_t* stage : {stageA, stageB}) {
            if (gs_stagesurface_map(stage, &data, &lineBytes)) {
                benchmark::DoNotOptimize(data[0]);
                gs_stagesurface_unmap(stage);
            }
        }
        gs_texture_set_image(mixed, dataA, kWidth * 4, false);
        obs_leave_graphics();
    }
    obs_enter_graphics();
    gs_stagesurface_destroy(stageB);
    gs_stagesurface_destroy(stageA);
    gs_texture_destroy(mixed);
    gs_texture_destroy(b);
    gs_texture_destroy(a);
    obs_leave_graphics();
}

void BM_RgbaMix(benchmark::State& state) {
    EffectSettings settings = lookSettings(int(state.range(0)));
    std::vector<uint32_t> out(pictureA.size());
    RgbaWork work;
    for (auto _ : state) {
        renderRgbaFrames(
            {pictureA.data(), pictureB.data(), out.data(), kWidth, kHeight, kWidth, kWidth}, 0.5f,
            settings, work, sharedTaskPool());
        benchmark::DoNotOptimize(out.data());
    }
}

// The work frames hold the pictures' words as they are: the renderer's cost
// does not depend on the order of the rows or of the bytes.
void BM_Render(benchmark::State& state) {
    EffectSettings settings = lookSettings(int(state.range(0)));
    std::vector<uint32_t> a(pictureA.size()), out(pictureA.size());
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = pictureA[i] & 0xFFFFFFu;
    RenderScratch scratch;
    RenderJob job = workFramesJob(65536, 32768, int32_t(kWidth), int32_t(kHeight),
                                  {a.data(), out.data(), out.data()}, settings);
    job.tasks = sharedTaskPool();
    for (auto _ : state) {
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = pictureB[i] & 0xFFFFFFu;
        render(job, scratch);
        benchmark::DoNotOptimize(out.data());
    }
}

void looks(benchmark::internal::Benchmark* b) {
    b->ArgName("look")->Arg(kDefault)->Arg(kPerPixel)->Unit(benchmark::kMillisecond);
}

// OBS's frames vary with what else the machine does: a longer sample each.
BENCHMARK(BM_ObsFade)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_ObsGranulix)->Apply(looks)->MinTime(3)->UseRealTime();
BENCHMARK(BM_ObsCopies)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RgbaMix)->Apply(looks)->UseRealTime();
BENCHMARK(BM_Render)->Apply(looks)->UseRealTime();

// OBS's warnings and errors only, so that its log does not bury the table.
void warningsOnly(int level, const char* format, va_list args, void*) {
    if (level > LOG_WARNING) return;
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    base_set_log_handler(warningsOnly, nullptr);
    char folder[] = "/tmp/granulix-obs-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::filesystem::path dir = folder;
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string pictures = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + size +
                                 ":rate=1 -frames:v 1 " + (dir / "a.png").string() +
                                 " && ffmpeg -v error -y -f lavfi -i mandelbrot=size=" + size +
                                 ":rate=1 -frames:v 1 " + (dir / "b.png").string();
    int status = 1;
    if (std::system(pictures.c_str()) == 0) {
        try {
            // A small canvas: OBS's own frames of it cost next to nothing.
            ObsHeadless headless(64, 64);
            obs = &headless;
            headless.openSystemModule("obs-transitions");
            sceneA = headless.imageSource((dir / "a.png").string());
            sceneB = headless.imageSource((dir / "b.png").string());
            pictureA = asWords(headless.renderFrame(sceneA, kWidth, kHeight));
            pictureB = asWords(headless.renderFrame(sceneB, kWidth, kHeight));
            benchmark::RunSpecifiedBenchmarks();
            obs_source_release(sceneB);
            obs_source_release(sceneA);
            status = 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "obs_bench: %s\n", e.what());
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}
