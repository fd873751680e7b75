// Milliseconds per render call of whole builds of the module, loaded from
// the paths given, so that one build can be set against another (an older
// commit's, say) in the same run. Every build gets the same host frames and
// settings, as BM_Export lays them out: default settings and one pixel a
// cell, 1080p and 4K, whole frames, at mid-transition. The builds take turns
// case by case and round by round; each figure is the median over the
// rounds, with its ratio to the first build's.
//
// Usage: module_calls ROUNDS MODULE.so [MODULE.so ...]
// The modules take as many threads as they would (GRANULIX_THREADS=1: one).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host_call.h"
#include "module_loader.h"

namespace {

using namespace granulix;
using bench::HostCall;

struct Module {
    std::string path;
    std::unique_ptr<ModuleLibrary> library;
};

struct Case {
    const char* name;
    bool perPixel;
    int32_t rows;
};
constexpr Case kCases[] = {{"default 1080p", false, 1080},
                           {"per-pixel 1080p", true, 1080},
                           {"default 4K", false, 2160},
                           {"per-pixel 4K", true, 2160}};

// Milliseconds a call, over as many calls as fill a fifth of a second.
double timeCalls(const Module& m, HostCall& call) {
    using Clock = std::chrono::steady_clock;
    if (m.library->applyEffect(1, &call.request, 0) != 1) {
        std::fprintf(stderr, "module_calls: %s refused the render call\n", m.path.c_str());
        std::exit(1);
    }
    const Clock::time_point start = Clock::now();
    int calls = 0;
    double elapsed = 0;
    do {
        m.library->applyEffect(1, &call.request, 0);
        ++calls;
        elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    } while (elapsed < 200);
    return elapsed / calls;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 0;
    if (argc < 3 || rounds < 1) {
        std::fprintf(stderr, "usage: module_calls ROUNDS MODULE.so [MODULE.so ...]\n");
        return 2;
    }
    std::vector<Module> modules;
    for (int i = 2; i < argc; ++i) {
        try {
            modules.push_back({argv[i], std::make_unique<ModuleLibrary>(argv[i])});
        } catch (const ModuleLoadError& e) {
            std::fprintf(stderr, "module_calls: %s\n", e.what());
            return 1;
        }
    }

    constexpr size_t kCaseCount = sizeof kCases / sizeof kCases[0];
    std::vector<std::vector<double>> ms(kCaseCount * modules.size());
    for (int r = 0; r < rounds; ++r) {
        for (size_t c = 0; c < kCaseCount; ++c) {
            EffectSettings settings{};
            fillDefaults(settings);
            if (kCases[c].perPixel) settings.cellWidth = settings.cellHeight = 1;
            HostCall call(kCases[c].rows, settings);
            for (size_t m = 0; m < modules.size(); ++m) {
                ms[c * modules.size() + m].push_back(timeCalls(modules[m], call));
            }
        }
    }

    std::printf(
        "milliseconds a call, median of %d rounds; ratio: the first module's over "
        "this one's\n\n",
        rounds);
    for (size_t c = 0; c < kCaseCount; ++c) {
        const double first = median(ms[c * modules.size()]);
        for (size_t m = 0; m < modules.size(); ++m) {
            const double t = median(ms[c * modules.size() + m]);
            std::printf("%-16s %8.2f %6.2fx  %s\n", kCases[c].name, t, first / t,
                        modules[m].path.c_str());
        }
    }
    return 0;
}
