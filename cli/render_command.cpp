#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <functional>
#include <optional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "audio_mix.h"
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
#include "player_stream.h"
#include "progress_log.h"
#include "settings_fields.h"
#include "settings_files.h"
#include "stop_signals.h"
#include "transition.h"

extern "C" {
#include <libavutil/parseutils.h>
}

namespace granulix::cli {

std::atomic<bool> gStopRequested{false};

namespace {

constexpr int kMaxFrames = 100000;
constexpr int kMaxJobs = 64;
constexpr int64_t kMaxEditFrames = 10000000;

// The options of render and sheet, one row each, in the order --help lists
// them: those both take, then render's own, then sheet's own.
const std::vector<OptionRule>& sharedOptions() {
    static const std::vector<OptionRule> rows = {
        {"--output", "-o", "OUT", false, "where the frames go (required)"},
        {"--size", "", "WxH", false,
         "frame size; both clips are fitted to it (default: A's as\nshown, 1280x720 for the "
         "built-in clips); "
         "video outputs\nround odd sizes down to even ones"},
        {"--fit", "", "MODE", false,
         "how a clip of another shape fills the frame: pad, whole\nwith black bars (default); "
         "crop, cut to fill "
         "it; stretch"},
        {"--frames", "-n", "N", false,
         "length of the transition, at least 2 (default 50);\nframe i has progress i/(N-1)"},
        {"--settings", "", "FILE", false,
         "settings to start from: a .qlb file or the JSON of\nsettings show --json (default: the "
         "module's defaults)"},
        {"--set", "", "NAME=VALUE", true,
         "change one settings field; repeatable, applied after\n--settings"},
        {"--field-mode", "", "0|1|2", false,
         "0 whole frames, 1 or 2 one interlaced field (default 0)"},
        {"--region", "", "X,Y,W,H", false,
         "render only this rectangle, X and Y from the top left,\nW and H at least 1; the rest of "
         "the output stays black\n(default: all)"},
        {"--jobs", "-j", "N", false, "frames rendered side by side (default: one per core)"},
        {"--module", "", "PATH", false,
         "the module to load (default: granulix.so beside "
         "granulix,\nelse " GRANULIX_MODULE_FROM_PROGRAM "/granulix.so from granulix's folder)"},
        {"--quiet", "-q", "", false, "no progress bar, no summary and no notes"},
        {"--force", "-f", "", false, "replace output files that are read-only"},
    };
    return rows;
}

const std::vector<OptionRule>& renderOnlyOptions() {
    static const std::vector<OptionRule> rows = {
        {"--fps", "", "R", false,
         "frame rate of the output (default: clip A's, 25 for\nstills and the built-in clips; "
         "30000/1001 works); each\n"
         "clip keeps its own speed, its pictures taken by time"},
    };
    return rows;
}

// How render's video output is encoded, and its progress for other programs.
const std::vector<OptionRule>& outputOptions() {
    static const std::vector<OptionRule> rows = {
        {"--codec", "", "NAME", false,
         "video codec: " + codecNames() +
             "\n(default h264; vp9 for .webm, which holds vp9 and\n"
             "av1 only); prores and lossless ffv1 suit intermediates"},
        {"--crf", "", "Q", false,
         "the encoder's constant quality, lower is better\n(default 18 for h264, 20 h265, 30 vp9 "
         "and av1)"},
        {"--preset", "", "NAME", false,
         "the encoder's speed preset (default medium for h264\nand h265)"},
        {"--pix-fmt", "", "FORMAT", false,
         "pixel format as FFmpeg names it (default yuv420p;\nyuv422p10le for prores, bgr0 for "
         "ffv1)"},
        {"--encoder-option", "", "KEY=VALUE", true,
         "an option of the FFmpeg encoder, e.g. tune=film;\nrepeatable"},
        {"--progress", "", "FILE|-", false,
         "progress as key=value lines, as ffmpeg -progress\nwrites them, into FILE or onto "
         "standard output"},
    };
    return rows;
}

// The edit: the transition placed inside the clips, with their sound.
const std::vector<OptionRule>& editOptions() {
    static const std::vector<OptionRule> rows = {
        {"--offset", "", "T", false,
         "make an edit: the transition starts T into clip A\n(needs --duration)"},
        {"--duration", "", "D", false, "length of the transition in an edit, instead of\n--frames"},
        {"--from-a", "", "T", false, "clip A starts T into its file"},
        {"--to-a", "", "T", false, "clip A ends T into its file"},
        {"--from-b", "", "T", false, "clip B starts T into its file"},
        {"--to-b", "", "T", false, "clip B ends T into its file"},
        {"--audio-curve", "", "CURVE", false,
         "how the sounds cross: qsin, equal power (default); tri,\n"
         "esin, hsin, log, ipar, qua, cub, squ, cbr, par, exp,\n"
         "iqsin, ihsin, dese, desi, losi, sinc, isinc, nofade"},
        {"--no-audio", "", "", false, "leave the sound out of an edit"},
    };
    return rows;
}

std::string editHelp() {
    return "With --offset T and --duration D, render writes the whole edit, timed as\n"
           "FFmpeg's xfade=offset=T:duration=D: clip A up to T, the transition over D\n"
           "(A from T on, B from its start), then the rest of clip B; the edit lasts T\n"
           "plus clip B's length. Each clip is first cut to its --from/--to (times in\n"
           "its file), and T counts from the cut clip A's start. A video output carries\n"
           "the sound: A's, crossfaded with B's over the transition, then B's, at A's\n"
           "sample rate (AAC; Opus in .webm). A clip without sound plays silence. Times\n"
           "are seconds (2.5) or HH:MM:SS.ms (00:01:02.5).\n";
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
    std::shared_ptr<MediaDemuxer> fileA, fileB;  // the clips' files, each opened once
    TransitionPlan plan;
    bool quiet = false;

    // A remark on standard error that does not stop the run; --quiet drops it.
    void note(const std::string& text) const {
        if (!quiet) std::fprintf(stderr, "granulix: %s\n", shownLine(text).c_str());
    }
};

// A time option in seconds: "2.5" or "HH:MM:SS.ms" as FFmpeg writes times.
std::optional<double> timeOption(const CommandLine& line, const std::string& name) {
    if (!line.has(name)) return std::nullopt;
    const std::string& text = line.value(name);
    int64_t microseconds = 0;
    if (av_parse_time(&microseconds, text.c_str(), 1) < 0 || microseconds < 0) {
        throw usageError(name + " must be a time, in seconds (2.5) or as HH:MM:SS.ms, not " + text);
    }
    return double(microseconds) / 1e6;
}

// --fps when given, as the ratio of whole numbers the output keeps.
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

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
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

// `askedRate` is --fps when given; `fitToOutput` may change the frame size
// to one the output takes.
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

// Refuses, before anything is opened, outputs that are files the command
// reads: the clips, the settings file, the module.
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

// The encoding asked for by the options of outputOptions().
VideoEncoding encodingOf(const CommandLine& line) {
    VideoEncoding encoding;
    encoding.codec = line.valueOr("--codec", "");
    encoding.crf = line.valueOr("--crf", "");
    encoding.preset = line.valueOr("--preset", "");
    encoding.pixelFormat = line.valueOr("--pix-fmt", "");
    for (const std::string& option : line.values("--encoder-option")) {
        const std::size_t eq = option.find('=');
        if (eq == 0 || eq == std::string::npos) {
            throw usageError("--encoder-option must be KEY=VALUE, not " + option);
        }
        encoding.options.emplace_back(option.substr(0, eq), option.substr(eq + 1));
    }
    return encoding;
}

struct Edit {
    double offset = 0, duration = 0;
};

// --offset and --duration, checked against the rest of the command line.
std::optional<Edit> editOf(const CommandLine& line) {
    const std::optional<double> offset = timeOption(line, "--offset"),
                                duration = timeOption(line, "--duration");
    for (const char* clip : {"a", "b"}) {
        const std::string from = std::string("--from-") + clip, to = std::string("--to-") + clip;
        const double start = timeOption(line, from).value_or(0);
        if (timeOption(line, to).value_or(std::numeric_limits<double>::infinity()) <= start) {
            throw usageError(to + " must come after " +
                             (line.has(from) ? from : "the clip's start"));
        }
    }
    if (line.has("--audio-curve") && !isSoundCurve(line.value("--audio-curve"))) {
        throw usageError("--audio-curve must be one of acrossfade's curves (see --help), not " +
                         line.value("--audio-curve"));
    }
    if (!offset && !duration) {
        for (const char* name : {"--audio-curve", "--no-audio"}) {
            if (line.has(name)) {
                throw usageError(std::string(name) +
                                 " is for an edit: give --offset and --duration");
            }
        }
        return std::nullopt;
    }
    if (!offset || !duration) throw usageError("an edit needs both --offset and --duration");
    if (*duration <= 0) throw usageError("--duration must be more than 0");
    if (line.has("--frames"))
        throw usageError("an edit takes its length from --duration, not --frames");
    if (line.arguments().empty()) throw usageError("an edit needs clips A and B");
    return Edit{*offset, *duration};
}

// Frames at `rate` that begin before `seconds`.
int64_t framesBefore(double seconds, FrameRate rate) {
    return int64_t(std::ceil(seconds * rate.value() - 1e-6));
}

// Places the transition inside the clips; returns the output frames from
// the transition's start to the end of clip B.
int64_t planEdit(Transition& t, const Edit& edit) {
    TransitionPlan& plan = t.plan;
    const int64_t start = framesBefore(edit.offset, plan.rate);
    const int64_t end = framesBefore(edit.offset + edit.duration, plan.rate);
    if (end == start) {
        throw usageError("--duration " + secondsText(edit.duration) +
                         " is shorter than a frame at " + rateText(plan.rate) + " frames/s");
    }
    const std::optional<double> lengthA = t.clipA->length(), lengthB = t.clipB->length();
    if (lengthA && edit.offset + edit.duration > *lengthA + 1e-6) {
        throw usageError("clip A lasts " + secondsText(*lengthA) +
                         " s: --offset plus --duration must not pass its end");
    }
    // A still picture lasts as long as the transition; a video of unknown
    // length cannot say where the edit ends.
    if (!lengthB && t.clipB->rate())
        throw usageError("clip B does not say how long it lasts: give --to-b");
    const int64_t framesB = lengthB ? framesBefore(*lengthB, plan.rate) : end - start;
    if (framesB < end - start) {
        throw usageError("clip B lasts " + secondsText(*lengthB) + " s, less than --duration");
    }
    if (start + framesB > kMaxEditFrames) {
        throw usageError("the edit would have " + std::to_string(start + framesB) +
                         " frames, more than " + std::to_string(kMaxEditFrames));
    }
    plan.frameCount = int(start + framesB);
    plan.transitionStart = int(start);
    plan.transitionEnd = int(end);
    plan.progressOrigin = edit.offset * plan.rate.value();
    plan.progressSpan = edit.duration * plan.rate.value();
    return framesB;
}

// Places the edit in the plan; with `soundKept`, its sound, none when
// neither clip has any.
std::unique_ptr<SoundTrack> planEditWithSound(const CommandLine& line, Transition& t,
                                              const Edit& edit, bool soundKept) {
    const int64_t framesB = planEdit(t, edit);
    if (!soundKept) return nullptr;
    const TransitionPlan& plan = t.plan;
    const auto& inputs = line.arguments();
    const double endless = std::numeric_limits<double>::infinity();
    SoundPlan mix;
    mix.a = {inputs[0], t.fileA, timeOption(line, "--from-a").value_or(0),
             timeOption(line, "--to-a").value_or(endless)};
    mix.b = {inputs[1], t.fileB, timeOption(line, "--from-b").value_or(0),
             timeOption(line, "--to-b").value_or(endless)};
    mix.transitionStart = plan.transitionStart / plan.rate.value();
    mix.crossfade = edit.duration;
    mix.lengthB = double(framesB) / plan.rate.value();
    mix.curve = line.valueOr("--audio-curve", "qsin");
    auto sound = std::make_unique<SoundTrack>(mix);
    if (sound->silent()) sound.reset();
    return sound;
}

// The summary line; `seconds` run from the command's start until the output
// was whole, as the progress bar's last figure does.
void report(bool quiet, const std::string& what, int frames, const TransitionPlan& plan,
            double seconds) {
    if (quiet) return;
    std::fprintf(stderr, "granulix: %s: %d frames of %dx%d in %.1f s (%.1f frames/s, %d job%s)\n",
                 shownLine(what).c_str(), frames, plan.width, plan.height, seconds,
                 seconds > 0 ? frames / seconds : 0.0, plan.jobs, plan.jobs == 1 ? "" : "s");
}

}  // namespace

std::vector<OptionRule> renderOptions() {
    return joined(joined(joined(sharedOptions(), renderOnlyOptions()), outputOptions()),
                  editOptions());
}

std::vector<OptionRule> sheetOptions() { return joined(sharedOptions(), sheetOnlyOptions()); }

std::vector<OptionRule> playOptions() {
    std::vector<OptionRule> rows;
    for (const OptionRule& rule :
         joined(joined(sharedOptions(), renderOnlyOptions()), editOptions())) {
        if (rule.name != "--output" && rule.name != "--force") rows.push_back(rule);
    }
    rows.push_back({"--dry-run", "", "", false,
                    "print the ffplay command that would show the render,\nand stop"});
    return rows;
}

std::string clipsHelp() {
    return "Renders the Granulix transition from clip A to clip B. A and B are any video\n"
           "or picture FFmpeg reads; a picture stands for every frame and a short clip\n"
           "holds its last frame. Without A and B two built-in moving patterns are used.\n";
}

std::string outputNamesHelp() {
    return "OUT, by its name:\n"
           "  name.mp4, .mkv, .mov   H.264 video        name.webm   VP9 video\n"
           "                         (--codec and the options after it choose another)\n"
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
           optionsHelp(outputOptions()) + "Options of render's edit:\n" +
           optionsHelp(editOptions()) + "Options of sheet only:\n" +
           optionsHelp(sheetOnlyOptions());
}

int renderCommand(const std::vector<std::string>& args) {
    const CommandLine line("render", args, renderOptions());
    if (line.helpWanted()) {
        const std::string help =
            commandHelp("usage: granulix render [A B] -o OUT [options]\n\n" + clipsHelp() + "\n" +
                            editHelp() + "\n" + outputNamesHelp(),
                        renderOptions());
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    const std::string target = line.valueOr("--output", "");
    VideoEncoding encoding = encodingOf(line);
    if (line.has("--output")) {
        checkSinkName(target);
        checkEncodingTarget(target, encoding);
    }
    const std::string progressTarget = line.valueOr("--progress", "");
    if (progressTarget == "-" && target == "-") {
        throw usageError("--progress - and -o - would both write to standard output");
    }
    if (line.has("--output"))
        refuseOverwritingInputs(line, existingOutputFiles(target), progressTarget);
    if (!progressTarget.empty()) checkProgressTarget(progressTarget, line.has("--force"));
    const std::optional<FrameRate> askedRate = askedRateOf(line);
    if (askedRate) checkOutputRate(target, *askedRate);
    const std::optional<Edit> edit = editOf(line);
    const bool soundKept = edit && !line.has("--no-audio") && outputTakesSound(target);
    const auto start = std::chrono::steady_clock::now();

    Transition t = prepareTransition(
        line, "render", askedRate, soundKept,
        [&](const Transition& prepared, int32_t& width, int32_t& height) {
            const std::string asked = std::to_string(width) + "x" + std::to_string(height);
            bool rounded = false;
            fitFrameToOutput(target, encoding, width, height, rounded);
            if (rounded) {
                prepared.note(target + " is written at " + std::to_string(width) + "x" +
                              std::to_string(height) + ", not " + asked +
                              ": its 4:2:0 colour needs even sizes");
            }
        });
    TransitionPlan& plan = t.plan;
    if (!askedRate) checkOutputRate(target, plan.rate);  // clip A's own rate
    std::unique_ptr<SoundTrack> sound;
    if (edit) sound = planEditWithSound(line, t, *edit, soundKept);
    for (int i = 0; i < plan.frameCount; ++i) plan.frames.push_back(i);

    encoding.colour = t.clipA->colourTags();
    std::unique_ptr<FrameSink> sink =
        openSink(target, plan.width, plan.height, plan.rate, plan.frameCount, line.has("--force"),
                 encoding, sound.get());
    ProgressMeter progress(plan.frameCount, !t.quiet, start);
    FrameSink& out = *sink;
    std::optional<ProgressLog> log;
    if (!progressTarget.empty()) {
        log.emplace(
            progressTarget, line.has("--force"), plan.rate, [&out] { return out.bytesWritten(); },
            start);
        progress.alsoLog(*log);
    }
    renderTransition(
        *t.module, *t.clipA, *t.clipB, plan,
        [&out](const HostFrame& frame) { return out.prepare(frame); },
        [&out](int, const HostFrame& frame, PreparedFrame&& prepared) {
            out.write(frame, std::move(prepared));
        },
        progress, gStopRequested,
        [&out](const AVFrame& picture) { return out.preparePicture(picture); });
    sink->finish();
    report(t.quiet, target == "-" ? "standard output" : target, plan.frameCount, plan,
           progress.finish());
    return kExitOk;
}

namespace {

// Where `program` is found on PATH; empty when it is not.
std::string findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

std::string shellQuoted(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789-_./:=+,") == std::string::npos) {
        return word;
    }
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// ffplay reading the raw frames of a plan from its standard input, or
// with `sound` the stream of openPlayerStream, which says all that itself.
std::vector<std::string> playerCommand(const TransitionPlan& plan, const std::string& title,
                                       bool sound) {
    std::vector<std::string> words = {"ffplay", "-hide_banner",  "-loglevel",
                                      "error",  "-window_title", title};
    if (sound) {
        words.insert(words.end(), {"-f", kPlayerStreamFormat, "-"});
        return words;
    }
    words.insert(words.end(),
                 {"-f", "rawvideo", "-pixel_format", "bgr24", "-video_size",
                  std::to_string(plan.width) + "x" + std::to_string(plan.height), "-framerate",
                  std::to_string(plan.rate.num) + "/" + std::to_string(plan.rate.den), "-"});
    return words;
}

// A player started with its standard input on a pipe; killed and collected
// if not waited for.
class Player {
public:
    Player(const std::string& program, const std::vector<std::string>& words) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw CliError("cannot start ffplay: " + systemErrorText(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
        // The player takes signals as a program started from the shell does:
        // none blocked, none ignored but those ignored when granulix started.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        const sigset_t defaults = signalsForChildDefaults();
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::vector<char*> argv;
        for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        const int result =
            posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[0]);
        if (result != 0) {
            close(fds[1]);
            pid_ = -1;
            throw CliError("cannot start " + program + ": " + systemErrorText(result));
        }
        input_ = fds[1];
    }
    ~Player() {
        closeInput();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    int input() const { return input_; }
    void closeInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }
    // Whether the player ends within a moment, as it does when its window
    // has been closed.
    bool ended() {
        for (int tries = 0; pid_ > 0 && tries < 50; ++tries) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return pid_ <= 0;
    }
    // Waits for the player to end; throws CliError when it failed.
    void wait() {
        closeInput();
        while (pid_ > 0 && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        checkStatus();
    }
    // Throws CliError unless the player that ended exited with status 0.
    void checkStatus() const {
        if (!WIFEXITED(status_) || WEXITSTATUS(status_) != 0) {
            throw CliError("ffplay failed" +
                           (WIFEXITED(status_)
                                ? " with exit status " + std::to_string(WEXITSTATUS(status_))
                                : std::string()));
        }
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int status_ = 0;
};

}  // namespace

int playCommand(const std::vector<std::string>& args) {
    const std::vector<OptionRule> options = playOptions();
    const CommandLine line("play", args, options);
    if (line.helpWanted()) {
        const std::string help = commandHelp(
            "usage: granulix play [A B] [options]\n\n" + clipsHelp() +
                "The transition is shown in a window by FFmpeg's ffplay, given the frames as\n"
                "they are rendered with their size and rate; q or Esc closes it. With --offset\n"
                "and --duration it plays the whole edit, as render writes it, with its sound.\n",
            options);
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    const std::optional<FrameRate> askedRate = askedRateOf(line);
    const auto start = std::chrono::steady_clock::now();
    const std::string player = findOnPath("ffplay");
    if (player.empty() && !line.has("--dry-run")) {
        throw CliError(
            "granulix play shows the transition with FFmpeg's ffplay, which is not installed "
            "(on Debian: apt-get install ffmpeg); granulix render -o - | ffplay ... does the same");
    }
    const std::optional<Edit> edit = editOf(line);
    const bool soundKept = edit && !line.has("--no-audio");
    Transition t = prepareTransition(line, "play", askedRate, soundKept, nullptr);
    TransitionPlan& plan = t.plan;
    std::unique_ptr<SoundTrack> sound;
    if (edit) sound = planEditWithSound(line, t, *edit, soundKept);
    for (int i = 0; i < plan.frameCount; ++i) plan.frames.push_back(i);
    const auto& inputs = line.arguments();
    const std::vector<std::string> words = playerCommand(
        plan, inputs.empty() ? "granulix" : "granulix: " + inputs[0] + " to " + inputs[1],
        sound != nullptr);
    if (line.has("--dry-run")) {
        std::string text;
        for (const std::string& w : words) text += (text.empty() ? "" : " ") + shellQuoted(w);
        std::puts(text.c_str());
        return kExitOk;
    }

    Player shown(player, words);
    std::unique_ptr<FrameSink> sink =
        sound ? openPlayerStream(shown.input(), "to ffplay", plan.width, plan.height, plan.rate,
                                 *sound)
              : openRawSink(shown.input(), "to ffplay", plan.width, plan.height);
    ProgressMeter progress(plan.frameCount, !t.quiet, start);
    FrameSink& out = *sink;
    try {
        renderTransition(
            *t.module, *t.clipA, *t.clipB, plan, nullptr,
            [&out](int, const HostFrame& frame, PreparedFrame&&) { out.write(frame, {}); },
            progress, gStopRequested);
        out.finish();
    } catch (const CliError&) {
        // Closing the window before the end is no failure.
        shown.closeInput();
        if (gStopRequested || !shown.ended()) throw;
        shown.checkStatus();
        return kExitOk;
    }
    report(t.quiet, "ffplay", plan.frameCount, plan, progress.finish());
    shown.wait();
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
            throw usageError("the contact sheet is a PNG picture: name it SHEET.png, not " +
                             target);
        }
        refuseOverwritingInputs(line, {target}, "");
    }
    const int count = int(line.integer("--count", 8, 2, 256));
    const int columns = int(line.integer("--columns", std::min(count, 4), 1, 256));
    const int64_t tileWidthWanted = line.integer("--tile-width", 320, 8, kMaxFrameSide);
    const auto start = std::chrono::steady_clock::now();

    Transition t = prepareTransition(line, "sheet", std::nullopt, false, nullptr);
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
    if (tileW < tileWidthWanted && line.has("--tile-width")) {
        t.note("the tiles are " + std::to_string(tileW) + " pixels wide, the frame's own width: " +
               "--tile-width " + std::to_string(tileWidthWanted) + " would enlarge it");
    }
    const int32_t tileH =
        int32_t(std::max<int64_t>(1, std::llround(double(tileW) * plan.height / plan.width)));
    int32_t sheetWidth, sheetHeight;
    sheetSize(tileW, tileH, count, columns, sheetWidth, sheetHeight);
    const std::string& target = line.value("--output");
    checkPngSize(target, sheetWidth, sheetHeight);
    checkReplaceable(target, line.has("--force"));

    std::vector<SheetTile> tiles;
    ProgressMeter progress(count, !t.quiet, start);
    renderTransition(
        *t.module, *t.clipA, *t.clipB, plan, nullptr,
        [&](int index, const HostFrame& frame, PreparedFrame&&) {
            tiles.push_back(
                {scaleFrame(frame, tileW, tileH), frameProgress(index, plan.frameCount)});
        },
        progress, gStopRequested);
    replaceFile(target, encodePng(composeSheet(tiles, columns)), line.has("--force"));
    report(t.quiet, target, count, plan, progress.finish());
    return kExitOk;
}

}  // namespace granulix::cli
