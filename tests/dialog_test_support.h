// Shared pieces of the Windows dialog tests: a host window, the module,
// and a driver thread that plays the user while the main thread sits in a
// modal dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_driver.h"
#include "host_session.h"
#include "thread_wait.h"

namespace granulix::testing {

// Windows need a display: under wine64 that is $DISPLAY (Xvfb in `make test`).
inline bool haveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

#define GRANULIX_NEED_DISPLAY()              \
    if (!::granulix::testing::haveDisplay()) \
    GTEST_SKIP() << "no DISPLAY: run under scripts/with-xvfb"

struct OwnedSearch {
    HWND owner;
    std::string className;
    std::vector<HWND> found;
};

inline BOOL CALLBACK collectOwnedOfClass(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<OwnedSearch*>(data);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (s->className == name && GetWindow(window, GW_OWNER) == s->owner) s->found.push_back(window);
    return TRUE;
}

// Windows of a thread with a class name and an owner.
inline std::vector<HWND> ownedWindows(DWORD thread, HWND owner, const std::string& className) {
    OwnedSearch s{owner, className, {}};
    EnumThreadWindows(thread, collectOwnedOfClass, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The first dialog (#32770) that `owner` owns, waited for up to timeoutMs:
// a common file dialog or a message box opened over it.
inline HWND waitForOwnedDialog(HWND owner, int timeoutMs = 10000) {
    const DWORD thread = GetWindowThreadProcessId(owner, nullptr);
    HWND dialog = nullptr;
    testhost::waitOnThread(
        thread,
        [&] {
            for (HWND found : ownedWindows(thread, owner, "#32770"))
                if (IsWindowVisible(found)) {
                    dialog = found;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return dialog;
}

// Types a file name into a common Open or Save dialog and presses its OK
// button.
inline void answerFileDialog(HWND fileDialog, const std::string& name) {
    // The name box: a combo box (cmb13) in the newer layout, an edit (edt1)
    // in the older one.
    HWND box = GetDlgItem(fileDialog, 0x47C);
    if (!box || !IsWindowVisible(box)) box = GetDlgItem(fileDialog, 0x480);
    SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageA(GetDlgItem(fileDialog, IDOK), BM_CLICK, 0, 0);
}

// What a message box shows: its text, its visible buttons and whether it
// carries an icon.
struct MessageBoxSeen {
    std::string caption, text;
    std::vector<int> buttons;
    bool icon = false;
};

inline MessageBoxSeen readMessageBox(HWND box) {
    MessageBoxSeen seen;
    seen.caption = testhost::textOf(box);
    seen.text = testhost::textOf(GetDlgItem(box, 0xFFFF));
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        char name[32] = {};
        GetClassNameA(child, name, sizeof name);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (lstrcmpiA(name, "Button") == 0) seen.buttons.push_back(GetDlgCtrlID(child));
        if (lstrcmpiA(name, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
            SendMessageA(child, STM_GETICON, 0, 0) != 0)
            seen.icon = true;
    }
    return seen;
}

// Reads the message box that `owner` shows and dismisses it with OK.
inline MessageBoxSeen dismissMessageBox(HWND owner) {
    HWND box = waitForOwnedDialog(owner);
    if (!box) {
        ADD_FAILURE() << "no message box appeared";
        return {};
    }
    MessageBoxSeen seen = readMessageBox(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    testhost::waitUntilGone(box, 10000);
    return seen;
}

// Waits up to timeoutMs for a condition that the thread of `window` makes
// true.
inline bool eventually(HWND window, const std::function<bool()>& condition, int timeoutMs = 10000) {
    return testhost::waitOnThreadOf(window, condition, timeoutMs);
}

// Runs `open` (which shows a modal dialog titled `title`) on this thread
// while `play` gets the dialog on a second thread. Whatever play leaves
// open is cancelled, so that a failing test never hangs. Returns what
// `open` returned.
template <class Open>
auto withDialog(const std::string& title, HWND owner, Open open,
                const std::function<void(HWND dialog)>& play) {
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    std::thread driver([&] {
        HWND dialog = nullptr;
        testhost::waitOnThread(
            thread,
            [&] {
                dialog = testhost::waitForDialog(thread, title, owner, 0);
                return dialog || returned;
            },
            30000);
        if (!dialog) {
            ADD_FAILURE() << "the dialog \"" << title << "\" did not open";
            return;
        }
        play(dialog);
        for (int tries = 0; tries < 3 && !returned && IsWindow(dialog); ++tries) {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            testhost::waitUntilGone(dialog, 5000);
        }
    });
    auto result = open();
    returned = true;
    testhost::wakeWaiter();
    driver.join();
    return result;
}

}  // namespace granulix::testing
