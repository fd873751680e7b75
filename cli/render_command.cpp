#include <chrono>
#include <functional>
#include <optional>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "builtin_clips.h"
#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "contact_sheet.h"
#include "frame_scale.h"
#include "media_input.h"
#include "media_output.h"
#include "module_host.h"
#include "output_files.h"
#include "settings_fields.h"
#include "settings_file.h"
#include "transition.h"

namespace granulix::cli {

std::atomic<bool> gStopRequested{false};

namespace {

constexpr int kMaxFrames = 100000;
constexpr int kMaxJobs = 64;

// The options of render and sheet, one row each, in the order --help lists
// them: those both take, then render's own, then sheet's own.
const std::vector<OptionRule>& sharedOptions() {
    static const std::vector<OptionRule> rows = {
        {"--output", "-o", "OUT", false, "where the frames go (required)"},
        {"--size", "", "WxH", false,
         "frame size; both clips are fitted to it (default: A's as\nshown, 1280x720 for the built-in clips); "
         "video outputs\nround odd sizes down to even ones"},
        {"--fit", "", "MODE", false,
         "how a clip of another shape fills the frame: pad, whole\nwith black bars (default); crop, cut to fill "
         "it; stretch"},
        {"--frames", "-n", "N", false,
         "length of the transition, at least 2 (default 50);\nframe i has progress i/(N-1)"},
        {"--settings", "", "FILE.qlb", false, "settings to start from (default: the module's defaults)"},
        {"--set", "", "NAME=VALUE", true,
         "change one settings field; repeatable, applied after\n--settings"},
        {"--field-mode", "", "0|1|2", false, "0 whole frames, 1 or 2 one interlaced field (default 0)"},
        {"--region", "", "X,Y,W,H", false,
         "render only this rectangle, X and Y from the top left,\nW and H at least 1; the rest of "
         "the output stays black\n(default: all)"},
        {"--jobs", "-j", "N", false, "frames rendered side by side (default: one per core)"},
        {"--module", "", "PATH", false, "the module to load (default: granulix.so beside granulix)"},
        {"--quiet", "-q", "", false, "no progress bar, no summary and no notes"},
        {"--force", "-f", "", false, "replace output files that are read-only"},
    };
    return rows;
}

const std::vector<OptionRule>& renderOnlyOptions() {
    static const std::vector<OptionRule> rows = {
        {"--fps", "", "R", false,
         "frame rate of the output (default: clip A's, 25 for\nstills and the built-in clips; 30000/1001 works); each\n"
         "clip keeps its own speed, its pictures taken by time"},
    };
    return rows;
}

const std::vector<OptionRule>& sheetOnlyOptions() {
    static const std::vector<OptionRule> rows = {
        {"--count", "-k", "K", false, "frames on the sheet, evenly spread, 2 or more (default 8)"},
        {"--columns", "", "C", false, "frames per row (default 4)"},
        {"--tile-width", "", "W", false, "width of each frame on the sheet (default 320)"},
    };
    return rows;
}

std::vector<OptionRule> joined(const std::vector<OptionRule>& a, const std::vector<OptionRule>& b) {
    std::vector<OptionRule> rows = a;
    rows.insert(rows.end(), b.begin(), b.end());
    return rows;
}

int defaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, unsigned(kMaxJobs)));
}

// Everything render and sheet share: the module, the clips, the plan.
struct Transition {
    std::unique_ptr<Module> module;
    std::unique_ptr<ClipSource> clipA, clipB;
    TransitionPlan plan;
    bool quiet = false;

    // A remark on standard error that does not stop the run; --quiet drops it.
    void note(const std::string& text) const {
        if (!quiet) std::fprintf(stderr, "granulix: %s\n", text.c_str());
    }
};

FitMode fitMode(const CommandLine& line) {
    const std::string mode = line.valueOr("--fit", "pad");
    if (mode == "pad") return FitMode::kPad;
    if (mode == "crop") return FitMode::kCrop;
    if (mode == "stretch") return FitMode::kStretch;
    throw usageError("--fit must be pad, crop or stretch, not " + mode);
}

std::string rateText(FrameRate rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", rate.value());
    return text;
}

// Remarks on what the clips bring that the output does not show as they are.
void noteClips(const Transition& t, const std::vector<std::string>& inputs) {
    const std::optional<FrameRate> rateA = t.clipA->rate(), rateB = t.clipB->rate();
    if (rateA && rateB && !(*rateA == *rateB)) {
        t.note("clip A runs at " + rateText(*rateA) + " frames/s and clip B at " + rateText(*rateB) +
               " frames/s; both keep their speed in the " + rateText(t.plan.rate) + " frames/s output");
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if ((i == 0 ? t.clipA : t.clipB)->hasSound()) {
            t.note("the sound of " + inputs[i] + " is left out: the output has pictures only");
        }
    }
}

// `askedRate` is --fps when given; `fitToOutput` may change the frame size
// to one the output takes.
Transition prepareTransition(const CommandLine& line, const char* command,
                             std::optional<FrameRate> askedRate,
                             const std::function<void(const Transition&, int32_t&, int32_t&)>& fitToOutput) {
    Transition t;
    t.quiet = line.has("--quiet");
    const FitMode fit = fitMode(line);
    const auto& inputs = line.arguments();
    if (inputs.size() != 0 && inputs.size() != 2) {
        throw usageError(std::string("granulix ") + command +
                         " takes two clips, A and B, or none for the built-in ones");
    }
    if (!line.has("--output")) throw usageError(std::string("granulix ") + command + " needs -o OUT");

    TransitionPlan& plan = t.plan;
    plan.frameCount = int(line.integer("--frames", 50, 2, kMaxFrames));
    plan.fieldMode = int32_t(line.integer("--field-mode", 0, 0, 2));
    plan.jobs = int(line.integer("--jobs", defaultJobs(), 1, kMaxJobs));

    // Check what the command line says before anything slow happens.
    std::vector<int64_t> size, region;
    if (line.has("--size") && (!parseIntegers(line.value("--size"), 'x', size) || size.size() != 2 ||
                               size[0] < 1 || size[1] < 1 || size[0] > kMaxFrameSide ||
                               size[1] > kMaxFrameSide)) {
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

    t.module = std::make_unique<Module>(line.valueOr("--module", defaultModulePath()));
    plan.settings = t.module->defaults();
    if (line.has("--settings")) {
        const std::string& path = line.value("--settings");
        const SettingsFileStatus status = loadSettingsFile(path, plan.settings);
        if (status != SettingsFileStatus::kOk) {
            throw CliError(path + ": " + settingsFileMessage(status));
        }
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
        auto a = std::make_unique<VideoFileClip>(inputs[0], fit);
        plan.width = a->width();
        plan.height = a->height();
        t.clipA = std::move(a);
        t.clipB = std::make_unique<VideoFileClip>(inputs[1], fit);
    }
    // Stills and the built-in clips keep time at 25 frames a second.
    plan.rate = askedRate ? *askedRate : t.clipA->rate().value_or(kBuiltinRate);
    noteClips(t, inputs);
    if (!size.empty()) {
        plan.width = int32_t(size[0]);
        plan.height = int32_t(size[1]);
    }
    if (plan.width > kMaxFrameSide || plan.height > kMaxFrameSide) {
        throw CliError("clip A is " + std::to_string(plan.width) + "x" + std::to_string(plan.height) +
                       " pixels; choose a smaller --size");
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

// The summary line; `seconds` run from the command's start until the output
// was whole, as the progress bar's last figure does.
void report(bool quiet, const std::string& what, int frames, const TransitionPlan& plan,
            double seconds) {
    if (quiet) return;
    std::fprintf(stderr, "granulix: %s: %d frames of %dx%d in %.1f s (%.1f frames/s, %d job%s)\n",
                 what.c_str(), frames, plan.width, plan.height, seconds,
                 seconds > 0 ? frames / seconds : 0.0, plan.jobs, plan.jobs == 1 ? "" : "s");
}

}  // namespace

std::vector<OptionRule> renderOptions() { return joined(sharedOptions(), renderOnlyOptions()); }

std::vector<OptionRule> sheetOptions() { return joined(sharedOptions(), sheetOnlyOptions()); }

std::string clipsHelp() {
    return "Renders the Granulix transition from clip A to clip B. A and B are any video\n"
           "or picture FFmpeg reads; a picture stands for every frame and a short clip\n"
           "holds its last frame. Without A and B two built-in moving patterns are used.\n";
}

std::string outputNamesHelp() {
    return "OUT, by its name:\n"
           "  name.mp4, .mkv, .mov   H.264 video        name.webm   VP9 video\n"
           "  frame-%04d.png         one PNG per frame, numbered from 0\n"
           "  -                      raw frames on standard output: bgr24, top line first,\n"
           "                         e.g. | ffmpeg -f rawvideo -pixel_format bgr24\n"
           "                                 -video_size WxH -framerate 25 -i - out.mkv\n"
           "Nothing appears under the name OUT unless the whole output was written; a\n"
           "numbered sequence replaces all its old frames or none. A file replaced keeps\n"
           "its permissions, a symbolic link is written through to its target, and a\n"
           "read-only file is replaced only with --force.\n";
}

std::string transitionOptionsHelp() {
    return "Options of render and sheet:\n" + optionsHelp(sharedOptions()) +
           "Options of render only:\n" + optionsHelp(renderOnlyOptions()) +
           "Options of sheet only:\n" + optionsHelp(sheetOnlyOptions());
}

int renderCommand(const std::vector<std::string>& args) {
    const CommandLine line("render", args, renderOptions());
    if (line.helpWanted()) {
        const std::string help = commandHelp("usage: granulix render [A B] -o OUT [options]\n\n" +
                                                 clipsHelp() + "\n" + outputNamesHelp(),
                                             renderOptions());
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    const std::string target = line.valueOr("--output", "");
    if (line.has("--output")) checkSinkName(target);
    std::optional<FrameRate> askedRate;
    if (line.has("--fps")) {
        askedRate = frameRateOf(line.positive("--fps", 25, 1000));
        checkOutputRate(target, *askedRate);
    }
    const auto start = std::chrono::steady_clock::now();

    Transition t = prepareTransition(
        line, "render", askedRate, [&target](const Transition& prepared, int32_t& width, int32_t& height) {
            const std::string asked = std::to_string(width) + "x" + std::to_string(height);
            bool rounded = false;
            fitFrameToOutput(target, width, height, rounded);
            if (rounded) {
                prepared.note(target + " is written at " + std::to_string(width) + "x" + std::to_string(height) +
                       ", not " + asked + ": its 4:2:0 colour needs even sizes");
            }
        });
    TransitionPlan& plan = t.plan;
    if (!askedRate) checkOutputRate(target, plan.rate);  // clip A's own rate
    for (int i = 0; i < plan.frameCount; ++i) plan.frames.push_back(i);

    std::unique_ptr<FrameSink> sink =
        openSink(target, plan.width, plan.height, plan.rate, plan.frameCount, line.has("--force"));
    ProgressMeter progress(plan.frameCount, !t.quiet, start);
    FrameSink& out = *sink;
    renderTransition(
        *t.module, *t.clipA, *t.clipB, plan,
        [&out](const HostFrame& frame) { return out.prepare(frame); },
        [&out](int, const HostFrame& frame, std::vector<uint8_t>&& prepared) {
            out.write(frame, std::move(prepared));
        },
        progress, gStopRequested);
    sink->finish();
    report(t.quiet, target == "-" ? "standard output" : target, plan.frameCount, plan,
           progress.finish());
    return kExitOk;
}

int sheetCommand(const std::vector<std::string>& args) {
    const CommandLine line("sheet", args, sheetOptions());
    if (line.helpWanted()) {
        const std::string help = commandHelp(
            "usage: granulix sheet [A B] -o SHEET.png [options]\n\n" + clipsHelp() +
                "The sheet is one PNG picture of K frames spread evenly over the transition,\n"
                "the first and the last included, C to a row.\n",
            sheetOptions());
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    if (line.has("--output")) {
        const std::string& target = line.value("--output");
        if (target.size() < 4 || target.compare(target.size() - 4, 4, ".png") != 0) {
            throw usageError("the contact sheet is a PNG picture: name it SHEET.png, not " + target);
        }
    }
    const int count = int(line.integer("--count", 8, 2, 256));
    const int columns = int(line.integer("--columns", std::min(count, 4), 1, 256));
    const int64_t tileWidthWanted = line.integer("--tile-width", 320, 8, kMaxFrameSide);
    const auto start = std::chrono::steady_clock::now();

    Transition t = prepareTransition(line, "sheet", std::nullopt, nullptr);
    TransitionPlan& plan = t.plan;
    if (count > plan.frameCount) {
        throw usageError("--count " + std::to_string(count) + " asks for more frames than the " +
                         std::to_string(plan.frameCount) + " of the transition");
    }
    // K frames spread evenly over the transition, the first and the last included.
    for (int i = 0; i < count; ++i) {
        plan.frames.push_back(int(std::lround(double(i) * (plan.frameCount - 1) / (count - 1))));
    }
    const int32_t tileW = int32_t(std::min<int64_t>(tileWidthWanted, plan.width));
    const int32_t tileH = int32_t(std::max<int64_t>(
        1, std::llround(double(tileW) * plan.height / plan.width)));
    int32_t sheetWidth, sheetHeight;
    sheetSize(tileW, tileH, count, columns, sheetWidth, sheetHeight);
    const std::string& target = line.value("--output");
    checkPngSize(target, sheetWidth, sheetHeight);
    checkReplaceable(target, line.has("--force"));

    std::vector<SheetTile> tiles;
    ProgressMeter progress(count, !t.quiet, start);
    renderTransition(
        *t.module, *t.clipA, *t.clipB, plan, nullptr,
        [&](int index, const HostFrame& frame, std::vector<uint8_t>&&) {
            tiles.push_back({scaleFrame(frame, tileW, tileH), frameProgress(index, plan.frameCount)});
        },
        progress, gStopRequested);
    replaceFile(target, encodePng(composeSheet(tiles, columns)), line.has("--force"));
    report(t.quiet, target, count, plan, progress.finish());
    return kExitOk;
}

}  // namespace granulix::cli
