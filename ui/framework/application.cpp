#include "application.h"

#include <commctrl.h>

#include <vector>

#include "window.h"

namespace granulix::fw {

namespace {

Application* theApplication = nullptr;
HINSTANCE startedModule = nullptr;
std::vector<std::string> registeredClasses;

}  // namespace

HINSTANCE moduleInstance() {
    if (startedModule) return startedModule;
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&moduleInstance), &module);
    return module;
}

namespace {

std::string modulePath() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(moduleInstance(), path.data(), DWORD(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return std::string(path.data(), n);
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::string moduleTitle() {
    std::string name = modulePath();
    const std::size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string loadString(UINT id) {
    char buffer[512];
    const int n = LoadStringA(moduleInstance(), id, buffer, int(sizeof buffer));
    return n > 0 ? std::string(buffer, n) : std::string();
}

int messageBox(HWND owner, const std::string& text, UINT type) {
    return MessageBoxA(owner, text.c_str(), moduleTitle().c_str(), type);
}

void initCommonControls() {
    static bool done = false;
    if (done) return;
    INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    done = InitCommonControlsEx(&init) != FALSE;
}

void rememberWindowClass(const char* name) { registeredClasses.emplace_back(name); }

Application::Application() { theApplication = this; }

Application::~Application() {
    if (theApplication == this) theApplication = nullptr;
}

Application* Application::current() { return theApplication; }

bool Application::startUp(HINSTANCE module) {
    startedModule = module;
    return initInstance();
}

void Application::shutDown() {
    exitInstance();
    for (const std::string& name : registeredClasses)
        UnregisterClassA(name.c_str(), moduleInstance());
    registeredClasses.clear();
}

const CommandMap* Application::commandMap() const {
    static const CommandMap map{nullptr, nullptr, 0};
    return &map;
}

bool Application::routeCommand(UINT id) {
    for (const CommandMap* map = commandMap(); map; map = map->base)
        for (std::size_t i = 0; i < map->count; ++i)
            if (map->entries[i].id == id) {
                map->entries[i].thunk(*this);
                return true;
            }
    return false;
}

void Application::onHelp() {
    // The window with the focus gives help, or else the nearest of its
    // parents (and owners) that can.
    for (HWND w = GetFocus(); w; w = GetParent(w))
        if (Window* window = Window::fromHandle(w); window && window->onCommandHelp()) return;
}

std::string Application::helpFilePath() const {
    std::string path = modulePath();
    const std::size_t slash = path.find_last_of("\\/:");
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
    return path + ".HLP";
}

void Application::winHelp(HWND window, DWORD context) {
    if (!helpViewer_(window, helpFilePath().c_str(), HELP_CONTEXT, context))
        messageBox(window, "Failed to launch help.");
}

BOOL libraryEntry(HINSTANCE module, DWORD reason) {
    Application* app = Application::current();
    switch (reason) {
        case DLL_PROCESS_ATTACH: return app ? app->startUp(module) : TRUE;
        case DLL_PROCESS_DETACH:
            if (app) app->shutDown();
            break;
        default: break;
    }
    return TRUE;
}

}  // namespace granulix::fw
