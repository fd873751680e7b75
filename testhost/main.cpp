// granulix-host: a small Windows host for trying the Granulix module.
//
// It loads the module by file name as a video editor would, serves clip A
// and clip B through the frame-fetch callback (generated test pictures or
// two BMP files), logs every callback operation, opens the setup dialog and
// renders frames to BMP files.
//
//   granulix-host --setup                       open the setup dialog
//   granulix-host --setup --frame 40            ... and drag the slider to 40
//   granulix-host --setup --tab Life            ... and show the "Life" page
//   granulix-host --render 30 --out frame.bmp   render frame 30 of 75
//   options: --module PATH   --clips A.bmp B.bmp   --size WxH   --frames N
//            --log   --ready FILE   --stop FILE   --timeout SECONDS
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <commctrl.h>

#include "dialog_driver.h"
#include "frame_server.h"
#include "host_session.h"
#include "resource.h"

using namespace granulix;
using namespace granulix::testhost;

namespace {

struct Options {
    std::string module;
    std::string clipA, clipB;
    int width = 320, height = 240;
    int frames = 75;
    bool setup = false;
    int frame = -1;
    std::string tab;
    int render = -1;
    std::string out;
    bool log = false;
    std::string ready, stop;
    int timeoutSeconds = 600;
};

[[noreturn]] void usage(const char* problem) {
    std::fprintf(
        stderr,
        "granulix-host: %s\n"
        "usage: granulix-host [--module PATH] [--clips A.bmp B.bmp | --size WxH] "
        "[--frames N] [--log]\n"
        "                     (--setup [--frame N] [--tab NAME] [--ready FILE] [--stop FILE] "
        "[--timeout S] | --render N --out FILE.bmp)\n",
        problem);
    std::exit(2);
}

int number(const char* text) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end) usage("not a number");
    return int(v);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--module")
            o.module = next();
        else if (a == "--clips") {
            o.clipA = next();
            o.clipB = next();
        } else if (a == "--size") {
            if (std::sscanf(next(), "%dx%d", &o.width, &o.height) != 2) usage("--size takes WxH");
        } else if (a == "--frames")
            o.frames = number(next());
        else if (a == "--setup")
            o.setup = true;
        else if (a == "--frame")
            o.frame = number(next());
        else if (a == "--tab")
            o.tab = next();
        else if (a == "--render")
            o.render = number(next());
        else if (a == "--out")
            o.out = next();
        else if (a == "--log")
            o.log = true;
        else if (a == "--ready")
            o.ready = next();
        else if (a == "--stop")
            o.stop = next();
        else if (a == "--timeout")
            o.timeoutSeconds = number(next());
        else
            usage(("unknown option " + a).c_str());
    }
    if (o.setup == (o.render >= 0)) usage("say --setup or --render N");
    if (o.render >= 0 && o.out.empty()) usage("--render needs --out FILE.bmp");
    if (o.module.empty()) o.module = programFolder() + "granulix.vfx";
    return o;
}

void logLine(const std::string& line) { std::fprintf(stderr, "host: %s\n", line.c_str()); }

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Windows keeps owned windows (the parameter window) above their owner.
// Wine without a window manager may leave them under it on the screen, so
// they are put back on top before a picture is taken.
struct OwnedWindows {
    HWND owner;
    std::vector<HWND> windows;
};

BOOL CALLBACK collectOwned(HWND window, LPARAM data) {
    auto* owned = reinterpret_cast<OwnedWindows*>(data);
    if (GetWindow(window, GW_OWNER) == owned->owner && IsWindowVisible(window))
        owned->windows.push_back(window);
    return TRUE;
}

// True when `window` lies above `owner` in the z-order.
bool above(HWND window, HWND owner) {
    for (HWND w = GetWindow(owner, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV))
        if (w == window) return true;
    return false;
}

// Raises the owner's visible owned windows until they have stayed above it
// for a while (wine may lower them again while it settles its windows).
void raiseOwnedWindows(HWND owner) {
    int stable = 0;
    for (int round = 0; round < 60 && stable < 5; ++round) {
        OwnedWindows owned{owner, {}};
        EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), collectOwned,
                          reinterpret_cast<LPARAM>(&owned));
        bool raised = false;
        for (HWND w : owned.windows)
            if (!above(w, owner)) {
                SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                raised = true;
            }
        stable = raised ? 0 : stable + 1;
        Sleep(50);
    }
}

// Plays the user while the dialog is open: drags the slider to the frame,
// says when the picture is up, and presses Cancel when told or timed out.
void driveDialog(const Options& o, DWORD hostThread, HWND owner, std::atomic<bool>& done) {
    HWND dialog = waitForDialog(hostThread, "Vozav Quodlibrator", owner);
    if (!dialog) return;
    if (o.frame >= 0) {
        for (UINT code : {UINT(TB_THUMBTRACK), UINT(TB_THUMBPOSITION), UINT(TB_ENDTRACK)})
            scrollTo(dialog, IDC_TIMELINE, o.frame, code);
    }
    if (!o.tab.empty()) {
        HWND sheet = parameterSheet(dialog);
        const int index = sheet ? pageIndexOf(sheet, o.tab) : -1;
        if (index < 0 || !selectPage(sheet, index))
            std::fprintf(stderr, "host: no tab \"%s\" to select\n", o.tab.c_str());
    }
    settle(owner);
    raiseOwnedWindows(dialog);
    Sleep(300);  // lets the window's pixels reach the display
    if (!o.ready.empty()) std::ofstream(o.ready) << "ready\n";
    for (int waited = 0; !done && waited < o.timeoutSeconds * 1000; waited += 50) {
        if (!o.stop.empty() && exists(o.stop)) break;
        Sleep(50);
    }
    if (!done && IsWindow(dialog)) click(dialog, IDCANCEL);
}

int run(const Options& o) {
    LoadedModule module(o.module);
    abi::EffectInfo info{};
    module.getEffInfo(&info);
    std::fprintf(stderr, "host: loaded %s: \"%s\" in \"%s\", %d settings bytes\n", o.module.c_str(),
                 info.name, info.category, info.settingsSize);

    Clip a = o.clipA.empty() ? Clip::generated(o.width, o.height, 0) : Clip::fromBmp(o.clipA);
    Clip b = o.clipB.empty() ? Clip::generated(o.width, o.height, 1) : Clip::fromBmp(o.clipB);
    std::vector<uint8_t> settings(424, 0);
    module.getDefault(settings.data());

    if (o.render >= 0) {
        const std::vector<uint8_t> frame =
            renderFrame(module, a, b, o.render, o.frames, settings.data());
        writeBmp(o.out, frame);
        std::fprintf(stderr, "host: frame %d of %d written to %s\n", o.render, o.frames,
                     o.out.c_str());
        return 0;
    }

    FrameServer server(std::move(a), std::move(b));
    if (o.log) server.setLog(&logLine);
    HostWindow window("Granulix test host", 0, 0, 1000, 700);
    std::atomic<bool> done{false};
    std::thread driver(driveDialog, std::cref(o), GetCurrentThreadId(), window.handle(),
                       std::ref(done));
    const std::vector<uint8_t> before = settings;
    const int32_t result = runSetup(module, window.handle(), server, o.frames, settings.data());
    done = true;
    driver.join();
    std::fprintf(stderr, "host: setup returned %d; settings %s\n", result,
                 settings == before ? "unchanged" : "changed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    try {
        return run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "granulix-host: %s\n", e.what());
        return 1;
    }
}
