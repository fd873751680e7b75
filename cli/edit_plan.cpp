#include "edit_plan.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "cli_error.h"

namespace granulix::cli {

namespace {

constexpr int64_t kMaxEditFrames = 10000000;

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
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

}  // namespace

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

}  // namespace granulix::cli
