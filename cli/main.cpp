// granulix: renders the Granulix particle transition between two clips by
// driving the built module through its exports, and edits .qlb settings files.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "cli_error.h"
#include "commands.h"
#include "media_input.h"
#include "settings_fields.h"
#include "stop_signals.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

// libavformat allocates every packet it reads anew: 6 MB a frame for raw
// 1080p, 25 MB for 4K. glibc would serve such blocks with mmap, or give the
// freed top of its heap back to the kernel, so every frame's pictures would
// land on fresh pages, each faulted in and zeroed. Blocks up to 32 MB come
// from the heap instead, and freed memory stays there for the next frame.
void keepFreedPictureMemory() {
#ifdef __GLIBC__
    constexpr int kLargestHeapBlock = 32 << 20;  // glibc's upper limit for the threshold
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
#endif
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
           "       granulix play [A B] [options]\n"
           "       granulix settings new FILE.qlb [--force]\n"
           "       granulix settings show [FILE] [--json]\n"
           "       granulix settings set FILE NAME=VALUE... [--force]\n"
           "\n" +
           clipsHelp() + "\n" + outputNamesHelp() + "\n" + transitionOptionsHelp() +
           "Each command's own --help (granulix render --help) shows its usage alone.\n"
           "\n"
           "Settings fields (NAME), as the settings block names them:\n" +
           fieldNames() +
           "  and for each source binding i = 0 (\"Moving X\"), 1 (\"Moving Y\"), 2 (\"Delay\"):\n"
           "    sourceBindings[i].kind  .invert  .repeatX  .repeatY  .oddX  .oddY\n"
           "  e.g. --set 'sourceBindings[2].kind=Grad X' --set sourceBindings[2].repeatX=4\n"
           "  A kind is a number or a name (any case, spaces optional):\n" +
           kindNames() +
           "  granulix settings show lists every field with its range, meaning and default;\n"
           "  values outside a field's range are refused.\n"
           "\n"
           "Exit status: 0 done, 1 failed (input, module, settings file, render, output),\n"
           "2 wrong command line, 128+N stopped by signal N (130 for Ctrl-C, 129 for a\n"
           "hang-up); a stopped command leaves no temporary file behind.\n";
}

}  // namespace granulix::cli

int main(int argc, char** argv) {
    using namespace granulix::cli;
    keepFreedPictureMemory();
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
            std::puts("granulix " GRANULIX_VERSION);
            return kExitOk;
        }
        if (command == "render") return renderCommand(rest);
        if (command == "sheet") return sheetCommand(rest);
        if (command == "play") return playCommand(rest);
        if (command == "settings") return settingsCommand(rest);
        throw usageError("unknown command \"" + command +
                         "\" (render, sheet, play, settings; --help)");
    } catch (const CliError& e) {
        if (stopSignal() != 0) {
            reportStop();
            return 128 + stopSignal();
        }
        std::fprintf(stderr, "granulix: %s\n", shownLine(e.what()).c_str());
        return e.status();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "granulix: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "granulix: %s\n", shownLine(e.what()).c_str());
    }
    return kExitFailure;
}
