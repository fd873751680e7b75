// The options of render, play and sheet, one row each, as the parser takes
// them and --help lists them, and the help texts the commands share.
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "media_output.h"
#include "transition_setup.h"

namespace granulix::cli {

namespace {

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

}  // namespace

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

}  // namespace granulix::cli
