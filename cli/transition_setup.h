// What render, play and sheet do before their first frame: the options they
// share checked, the module loaded, the clips opened and the transition
// planned. A command then places an edit in the plan (edit_plan.h), opens
// its output and renders with renderTransition (transition.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli_error.h"
#include "clip_source.h"
#include "command_line.h"
#include "media_demuxer.h"
#include "module_host.h"
#include "transition.h"

namespace granulix::cli {

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

// Checks the options render, play and sheet share, loads the module, opens
// the clips (keeping their sound's packets when `soundKept`) and plans the
// plain transition. `command` names the command in messages; `askedRate`
// is --fps when given; `fitToOutput` may change the frame size to one the
// output takes.
Transition prepareTransition(
    const CommandLine& line, const char* command, std::optional<FrameRate> askedRate,
    bool soundKept, const std::function<void(const Transition&, int32_t&, int32_t&)>& fitToOutput);

// Refuses, before anything is opened, outputs that are files the command
// reads: the clips, the settings file, the module.
void refuseOverwritingInputs(const CommandLine& line, const std::vector<std::string>& outputs,
                             const std::string& progressTarget);

// A time option in seconds: "2.5" or "HH:MM:SS.ms" as FFmpeg writes times.
std::optional<double> timeOption(const CommandLine& line, const std::string& name);
// --fps when given, as the ratio of whole numbers the output keeps.
std::optional<FrameRate> askedRateOf(const CommandLine& line);
// A rate as the notes write it: "29.97".
std::string rateText(FrameRate rate);

// The summary line; `seconds` run from the command's start until the output
// was whole, as the progress bar's last figure does.
void report(bool quiet, const std::string& what, int frames, const TransitionPlan& plan,
            double seconds);

// What render's --help says of edits.
std::string editHelp();

}  // namespace granulix::cli
