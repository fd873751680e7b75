// A host's side of the module on Windows: the module loaded by name, its
// exports found by name, a main window to own the setup dialog, and the
// records of a setup request and a render request filled as a host does.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "frame_server.h"
#include "module_loader.h"
#include "plugin_abi.h"

namespace granulix::testhost {

// The module as this host holds it, and the folder it is looked for in.
using LoadedModule = ModuleLibrary;
using granulix::programFolder;

// A plain visible top-level window standing for the host's main window.
// It also serves settle(): see there.
class HostWindow {
public:
    HostWindow(const std::string& title, int x, int y, int width, int height);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

// Waits, from another thread, until the thread of `hostWindow` has handled
// every message posted to its windows before this call: a marker posted to
// the host window comes out of the same queue after them.
bool settle(HWND hostWindow, int timeoutMs = 20000);

// Opens the setup dialog: vxDLLApplyEffect(0, request, fieldMode) with the
// server's callback, `frames` frames and the host's settings block.
int32_t runSetup(const LoadedModule& module, HWND owner, const FrameServer& server, int32_t frames,
                 uint8_t* settings, int32_t fieldMode = 0);

// Renders frame `position` of a transition of `frames` frames from the two
// clips (of one size) and returns the output as a packed 24-bit frame.
std::vector<uint8_t> renderFrame(const LoadedModule& module, const Clip& a, const Clip& b,
                                 int32_t position, int32_t frames, const uint8_t* settings,
                                 int32_t fieldMode = 0);

}  // namespace granulix::testhost
