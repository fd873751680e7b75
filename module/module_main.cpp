// Start-up of the Windows module: its one application object and the
// library entry that starts and stops the framework around it.
//
// The runtime constructs theApp before DllMain runs and destroys it after
// DllMain's detach; in between the framework starts (attach) and shuts down
// (detach). The application's only command is Help, which the framework
// routes to the window that has the focus or the nearest of its parents.
#include <windows.h>

#include <iterator>

#include "application.h"
#include "resource.h"

namespace granulix {

class CGranulixApp : public fw::Application {
protected:
    const fw::CommandMap* commandMap() const override {
        static const fw::CommandEntry entries[] = {
            fw::onAppCommand<fw::Application, &fw::Application::onHelp>(ID_HELP_COMMAND),
        };
        static const fw::CommandMap map{fw::Application::commandMap(), entries, std::size(entries)};
        return &map;
    }
};

CGranulixApp theApp;

}  // namespace granulix

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    return granulix::fw::libraryEntry(module, reason);
}
