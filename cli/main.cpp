// granulix: renders the Granulix particle transition between two clips by
// driving the built module through its exports, and edits .qlb settings files.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli_error.h"
#include "commands.h"
#include "media_input.h"
#include "settings_fields.h"
#include "stop_signals.h"

namespace granulix::cli {

namespace {

// `words` filled into lines of at most 78 columns, each indented by four.
std::string wrapped(const std::vector<std::string>& words) {
    std::string out, line = "   ";
    for (const std::string& w : words) {
        if (line.size() + w.size() + 1 > 78) {
            out += line + "\n";
            line = "   ";
        }
        line += " " + w;
    }
    return out + line + "\n";
}

std::string fieldNames() {
    std::vector<std::string> names;
    for (const SettingsField& f : settingsFields()) {
        if (f.settable && f.name.rfind("sourceBindings[", 0) != 0) names.push_back(f.name);
    }
    return wrapped(names);
}

std::string kindNames() {
    std::vector<std::string> kinds;
    const std::string list = sourceKindList();
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find(", ", start), list.size());
        kinds.push_back(list.substr(start, end - start) + (end < list.size() ? "," : "."));
        start = end + 2;
    }
    return wrapped(kinds);
}

}  // namespace

std::string helpText() {
    return "usage: granulix render [A B] -o OUT [options]\n"
           "       granulix sheet [A B] -o SHEET.png [options]\n"
           "       granulix settings new FILE.qlb [--force]\n"
           "       granulix settings show FILE.qlb [--json]\n"
           "       granulix settings set FILE.qlb NAME=VALUE... [--force]\n"
           "\n"
           "Renders the Granulix transition from clip A to clip B. A and B are any video\n"
           "or picture FFmpeg reads; a picture stands for every frame and a short clip\n"
           "holds its last frame. Without A and B two built-in moving patterns are used.\n"
           "\n"
           "OUT, by its name:\n"
           "  name.mp4, .mkv, .mov   H.264 video        name.webm   VP9 video\n"
           "  frame-%04d.png         one PNG per frame, numbered from 0\n"
           "  -                      raw frames on standard output: bgr24, top line first,\n"
           "                         e.g. | ffmpeg -f rawvideo -pixel_format bgr24\n"
           "                                 -video_size WxH -framerate 25 -i - out.mkv\n"
           "Nothing appears under the name OUT unless the whole output was written; a\n"
           "numbered sequence replaces all its old frames or none. A file replaced keeps\n"
           "its permissions, a symbolic link is written through to its target, and a\n"
           "read-only file is replaced only with --force.\n"
           "\n"
           "Options of render and sheet:\n"
           "  -o, --output OUT       where the frames go (required)\n"
           "  --size WxH             frame size; both clips are fitted to it (default: A's as\n"
           "                         shown, 1280x720 for the built-in clips); video outputs\n"
           "                         round odd sizes down to even ones\n"
           "  --fit pad|crop|stretch how a clip of another shape fills the frame: whole with\n"
           "                         black bars (default), cut to fill it, or stretched\n"
           "  -n, --frames N         length of the transition, at least 2 (default 50);\n"
           "                         frame i has progress i/(N-1)\n"
           "  --fps R                frame rate of the output (default: clip A's, 25 for stills\n"
           "                         and the built-in clips; 30000/1001 works); each clip\n"
           "                         keeps its own speed, its pictures taken by time\n"
           "  --settings FILE.qlb    settings to start from (default: the module's defaults)\n"
           "  --set NAME=VALUE       change one settings field; repeatable, applied after\n"
           "                         --settings\n"
           "  --field-mode 0|1|2     0 whole frames, 1 or 2 one interlaced field (default 0)\n"
           "  --region X,Y,W,H       render only this rectangle, X and Y from the top left;\n"
           "                         the rest of the output stays black (default: all)\n"
           "  -j, --jobs N           frames rendered side by side (default: one per core)\n"
           "  --module PATH          the module to load (default: granulix.so beside granulix)\n"
           "  -q, --quiet            no progress bar, no summary and no notes\n"
           "  -f, --force            replace read-only output files\n"
           "Options of sheet only:\n"
           "  -k, --count K          frames on the sheet, evenly spread, 2 or more (default 8)\n"
           "  --columns C            frames per row (default 4)\n"
           "  --tile-width W         width of each frame on the sheet (default 320)\n"
           "\n"
           "Settings fields (NAME), as the settings block names them:\n" +
           fieldNames() +
           "  and for each source binding i = 0 (\"Moving X\"), 1 (\"Moving Y\"), 2 (\"Delay\"):\n"
           "    sourceBindings[i].kind  .invert  .repeatX  .repeatY  .oddX  .oddY\n"
           "  e.g. --set 'sourceBindings[2].kind=Grad X' --set sourceBindings[2].repeatX=4\n"
           "  A kind is a number or a name (any case, spaces optional):\n" +
           kindNames() +
           "  granulix settings show FILE.qlb lists every field with its range and meaning;\n"
           "  values outside a field's range are refused.\n"
           "\n"
           "Exit status: 0 done, 1 failed (input, module, settings file, render, output),\n"
           "2 wrong command line, 128+N stopped by signal N (130 for Ctrl-C, 129 for a\n"
           "hang-up); a stopped command leaves no temporary file behind.\n";
}

}  // namespace granulix::cli

int main(int argc, char** argv) {
    using namespace granulix::cli;
    watchStopSignals(gStopRequested);
    silenceFfmpegLog();
    const std::vector<std::string> words(argv + 1, argv + argc);
    try {
        if (words.empty()) {
            std::fputs(helpText().c_str(), stderr);
            return kExitUsage;
        }
        const std::string& command = words.front();
        const std::vector<std::string> rest(words.begin() + 1, words.end());
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(helpText().c_str(), stdout);
            return kExitOk;
        }
        if (command == "--version") {
            std::puts("granulix 1.0");
            return kExitOk;
        }
        if (command == "render") return renderCommand(rest);
        if (command == "sheet") return sheetCommand(rest);
        if (command == "settings") return settingsCommand(rest);
        throw usageError("unknown command \"" + command + "\" (render, sheet, settings; --help)");
    } catch (const CliError& e) {
        if (stopSignal() != 0) {
            std::fprintf(stderr, "granulix: interrupted (%s)\n", strsignal(stopSignal()));
            return 128 + stopSignal();
        }
        std::fprintf(stderr, "granulix: %s\n", e.what());
        return e.status();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "granulix: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "granulix: %s\n", e.what());
    }
    return kExitFailure;
}
