#include "transition_setup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "builtin_clips.h"
#include "cli_error.h"
#include "media_input.h"
#include "media_output.h"
#include "output_files.h"
#include "settings_fields.h"
#include "settings_files.h"

extern "C" {
#include <libavutil/parseutils.h>
}

namespace granulix::cli {

namespace {

constexpr int kMaxFrames = 100000;
constexpr int kMaxJobs = 64;

int defaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, unsigned(kMaxJobs)));
}

FitMode fitMode(const CommandLine& line) {
    const std::string mode = line.valueOr("--fit", "pad");
    if (mode == "pad") return FitMode::kPad;
    if (mode == "crop") return FitMode::kCrop;
    if (mode == "stretch") return FitMode::kStretch;
    throw usageError("--fit must be pad, crop or stretch, not " + mode);
}

// Remarks on what the clips bring that the output does not show as they are.
void noteClips(const Transition& t, const std::vector<std::string>& inputs, bool soundKept) {
    const std::optional<FrameRate> rateA = t.clipA->rate(), rateB = t.clipB->rate();
    if (rateA && rateB && !(*rateA == *rateB)) {
        t.note("clip A runs at " + rateText(*rateA) + " frames/s and clip B at " +
               rateText(*rateB) + " frames/s; both keep their speed in the " +
               rateText(t.plan.rate) + " frames/s output");
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!soundKept && (i == 0 ? t.clipA : t.clipB)->hasSound()) {
            t.note("the sound of " + inputs[i] + " is left out: the output has pictures only");
        }
    }
}

}  // namespace

std::optional<double> timeOption(const CommandLine& line, const std::string& name) {
    if (!line.has(name)) return std::nullopt;
    const std::string& text = line.value(name);
    int64_t microseconds = 0;
    if (av_parse_time(&microseconds, text.c_str(), 1) < 0 || microseconds < 0) {
        throw usageError(name + " must be a time, in seconds (2.5) or as HH:MM:SS.ms, not " + text);
    }
    return double(microseconds) / 1e6;
}

std::optional<FrameRate> askedRateOf(const CommandLine& line) {
    if (!line.has("--fps")) return std::nullopt;
    const FrameRate rate = frameRateOf(line.positive("--fps", 25, 1000));
    if (rate.num <= 0) {
        throw usageError("--fps " + line.value("--fps") +
                         " is slower than any rate a frame time holds; the slowest is 1/" +
                         std::to_string(kFinestRateDivisor));
    }
    return rate;
}

std::string rateText(FrameRate rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", rate.value());
    return text;
}

Transition prepareTransition(
    const CommandLine& line, const char* command, std::optional<FrameRate> askedRate,
    bool soundKept, const std::function<void(const Transition&, int32_t&, int32_t&)>& fitToOutput) {
    Transition t;
    t.quiet = line.has("--quiet");
    const FitMode fit = fitMode(line);
    const auto& inputs = line.arguments();
    if (inputs.size() != 0 && inputs.size() != 2) {
        throw usageError(std::string("granulix ") + command +
                         " takes two clips, A and B, or none for the built-in ones");
    }
    if (std::strcmp(command, "play") != 0 && !line.has("--output")) {
        throw usageError(std::string("granulix ") + command + " needs -o OUT");
    }

    TransitionPlan& plan = t.plan;
    plan.frameCount = int(line.integer("--frames", 50, 2, kMaxFrames));
    plan.progressSpan = plan.frameCount - 1;
    plan.fieldMode = int32_t(line.integer("--field-mode", 0, 0, 2));
    plan.jobs = int(line.integer("--jobs", defaultJobs(), 1, kMaxJobs));

    // Check what the command line says before anything slow happens.
    std::vector<int64_t> size, region;
    if (line.has("--size") &&
        (!parseIntegers(line.value("--size"), 'x', size) || size.size() != 2 || size[0] < 1 ||
         size[1] < 1 || size[0] > kMaxFrameSide || size[1] > kMaxFrameSide)) {
        throw usageError("--size must be WIDTHxHEIGHT, each from 1 to " +
                         std::to_string(kMaxFrameSide) + ", not " + line.value("--size"));
    }
    if (line.has("--region") &&
        (!parseIntegers(line.value("--region"), ',', region) || region.size() != 4 ||
         region[0] < 0 || region[1] < 0 || region[2] < 0 || region[3] < 0)) {
        throw usageError("--region must be X,Y,WIDTH,HEIGHT in whole pixels, not " +
                         line.value("--region"));
    }
    // An empty rectangle would render a black output: surely not what was meant.
    if (!region.empty() && (region[2] == 0 || region[3] == 0)) {
        throw usageError("--region " + line.value("--region") +
                         " is empty: WIDTH and HEIGHT must be at least 1");
    }
    EffectSettings scratch{};
    for (const std::string& assignment : line.values("--set")) applyAssignment(scratch, assignment);

    // Frames rendered side by side already keep every core busy: each call
    // then runs on its own thread, unless the user said otherwise.
    if (plan.jobs > 1) setenv("GRANULIX_THREADS", "1", 0);
    t.module = std::make_unique<Module>(line.valueOr("--module", defaultModulePath()));
    plan.settings = t.module->defaults();
    if (line.has("--settings")) {
        readSettings(line.value("--settings"), plan.settings);
    }
    for (const std::string& assignment : line.values("--set")) {
        applyAssignment(plan.settings, assignment);
    }

    if (inputs.empty()) {
        t.clipA = builtinClip(BuiltinPattern::kRings);
        t.clipB = builtinClip(BuiltinPattern::kTiles);
        plan.width = kBuiltinWidth;
        plan.height = kBuiltinHeight;
    } else {
        for (const std::string& input : inputs) {
            std::error_code error;
            if (input == "-" && !std::filesystem::exists(input, error)) {
                throw CliError(
                    "cannot read -: No such file or directory; clips are read from files, not "
                    "from standard input (./- names a file called -)");
            }
        }
        const double endless = std::numeric_limits<double>::infinity();
        auto a = std::make_unique<VideoFileClip>(
            inputs[0], fit, timeOption(line, "--from-a").value_or(0),
            timeOption(line, "--to-a").value_or(endless), soundKept);
        plan.width = a->width();
        plan.height = a->height();
        t.fileA = a->file();
        t.clipA = std::move(a);
        auto b = std::make_unique<VideoFileClip>(
            inputs[1], fit, timeOption(line, "--from-b").value_or(0),
            timeOption(line, "--to-b").value_or(endless), soundKept);
        t.fileB = b->file();
        t.clipB = std::move(b);
    }
    // Stills and the built-in clips keep time at 25 frames a second.
    plan.rate = askedRate ? *askedRate : t.clipA->rate().value_or(kBuiltinRate);
    noteClips(t, inputs, soundKept);
    if (!size.empty()) {
        plan.width = int32_t(size[0]);
        plan.height = int32_t(size[1]);
    }
    if (plan.width > kMaxFrameSide || plan.height > kMaxFrameSide) {
        throw CliError("clip A is " + std::to_string(plan.width) + "x" +
                       std::to_string(plan.height) + " pixels; choose a smaller --size");
    }
    if (fitToOutput) fitToOutput(t, plan.width, plan.height);

    if (region.empty()) {
        plan.region = {0, 0, plan.width, plan.height};
    } else {
        if (region[0] + region[2] > plan.width || region[1] + region[3] > plan.height) {
            throw usageError("--region " + line.value("--region") + " does not lie inside the " +
                             std::to_string(plan.width) + "x" + std::to_string(plan.height) +
                             " frame");
        }
        // Given from the top of the picture; the module counts rows from the bottom.
        plan.region = {int32_t(region[0]), int32_t(plan.height - region[1] - region[3]),
                       int32_t(region[2]), int32_t(region[3])};
    }
    return t;
}

void refuseOverwritingInputs(const CommandLine& line, const std::vector<std::string>& outputs,
                             const std::string& progressTarget) {
    std::vector<ReadFile> read;
    const auto& clips = line.arguments();
    if (clips.size() == 2) read = {{"clip A", clips[0]}, {"clip B", clips[1]}};
    if (line.has("--settings")) read.push_back({"the settings file", line.value("--settings")});
    read.push_back({"the module", line.valueOr("--module", defaultModulePath())});
    for (const std::string& output : outputs) sameFileRefused("-o", output, read);
    if (!progressTarget.empty()) sameFileRefused("--progress", progressTarget, read);
}

void report(bool quiet, const std::string& what, int frames, const TransitionPlan& plan,
            double seconds) {
    if (quiet) return;
    std::fprintf(stderr, "granulix: %s: %d frames of %dx%d in %.1f s (%.1f frames/s, %d job%s)\n",
                 shownLine(what).c_str(), frames, plan.width, plan.height, seconds,
                 seconds > 0 ? frames / seconds : 0.0, plan.jobs, plan.jobs == 1 ? "" : "s");
}

}  // namespace granulix::cli
