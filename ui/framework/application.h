// The application object of a module built on our framework, and the
// module-wide services that every window uses: the module's instance and
// title, string resources, message boxes and the help viewer.
//
// A module defines exactly one object of a class derived from Application,
// as a static, and calls libraryEntry from its DllMain:
//
//   class CMyApp : public fw::Application { ... };
//   CMyApp theApp;
//   BOOL WINAPI DllMain(HINSTANCE m, DWORD why, LPVOID) { return fw::libraryEntry(m, why); }
//
// The application's command table takes the commands that no window handles;
// the Help command goes to onHelp, which asks the window with the focus and
// then each of its parents to give help.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace granulix::fw {

class Application;

// One row of the application's command table.
struct CommandEntry {
    UINT id;
    void (*thunk)(Application& app);
};

struct CommandMap {
    const CommandMap* base;
    const CommandEntry* entries;
    std::size_t count;
};

template <class T, void (T::*Handler)()>
CommandEntry onAppCommand(UINT id) {
    return {id, [](Application& app) { (static_cast<T&>(app).*Handler)(); }};
}

// Opens the help viewer: WinHelpA unless a test has put another in its place.
using HelpViewer = BOOL(WINAPI*)(HWND window, LPCSTR file, UINT command, ULONG_PTR data);

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The module's one application object, or null.
    static Application* current();

    // Framework start-up and shut-down, from the library entry.
    bool startUp(HINSTANCE module);
    void shutDown();

    // Runs the command if the application's table has it.
    bool routeCommand(UINT id);

    // The framework's handler of the Help command.
    void onHelp();
    // Opens the module's help file at a context; tells the user when the
    // viewer cannot be started.
    void winHelp(HWND window, DWORD context);
    // The module's path with its extension replaced by ".HLP".
    std::string helpFilePath() const;

    void setHelpViewer(HelpViewer viewer) { helpViewer_ = viewer; }

protected:
    virtual bool initInstance() { return true; }
    virtual int exitInstance() { return 0; }
    virtual const CommandMap* commandMap() const;

private:
    HelpViewer helpViewer_ = &WinHelpA;
};

// The module (DLL or program) that holds this framework's code.
HINSTANCE moduleInstance();
// The module's file name without directory and extension.
std::string moduleTitle();
// A string resource of the module; empty when there is none.
std::string loadString(UINT id);
// A message box owned by `owner` and captioned with moduleTitle().
int messageBox(HWND owner, const std::string& text, UINT type = MB_OK);

// Loads the common controls the dialogs use, once.
void initCommonControls();

// Remembers a window class that the framework registered, so that shut-down
// can unregister it before the module's code goes away.
void rememberWindowClass(const char* name);

// DllMain's work: start-up on process attach, shut-down on detach.
BOOL libraryEntry(HINSTANCE module, DWORD reason);

}  // namespace granulix::fw
