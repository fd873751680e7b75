#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "contact_sheet.h"
#include "frame_scale.h"
#include "media_output.h"
#include "output_files.h"
#include "progress_meter.h"
#include "transition.h"
#include "transition_setup.h"

namespace granulix::cli {

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
