#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "edit_plan.h"
#include "media_output.h"
#include "output_files.h"
#include "progress_log.h"
#include "progress_meter.h"
#include "transition.h"
#include "transition_setup.h"

namespace granulix::cli {

std::atomic<bool> gStopRequested{false};

namespace {

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

}  // namespace

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

}  // namespace granulix::cli
