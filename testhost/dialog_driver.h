// Plays the user of the setup dialog from a second thread: finds the
// dialog, moves its slider with the messages a drag sends, presses keys and
// clicks buttons, changes the tab of the parameter window, reads texts and
// pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace granulix::testhost {

// The first visible dialog of `thread` with this title (and, when given,
// this owner), waited for up to timeoutMs; null when none came.
HWND waitForDialog(DWORD thread, const std::string& title, HWND owner = nullptr,
                   int timeoutMs = 20000);
// Waits until `window` is gone or the time is up; true when it is gone.
bool waitUntilGone(HWND window, int timeoutMs = 20000);

// Puts the slider at `position` and sends the dialog the scroll
// notification `code` for it, as the trackbar does during a drag.
void scrollTo(HWND dialog, int sliderId, int position, UINT code);
// A key pressed and released on a control (posted, as typing does).
void pressKey(HWND control, UINT virtualKey);
// A click on a button of a dialog (posted).
void click(HWND dialog, int id);

std::string textOf(HWND window);

// The property sheet in the setup dialog's parameter window, or null.
HWND parameterSheet(HWND dialog);
// The page on display in a sheet, or null.
HWND currentPage(HWND sheet);
// The index of the sheet's tab with this caption, -1 when there is none.
int pageIndexOf(HWND sheet, const std::string& caption);
// Selects a tab as a click on it does: the page on display is asked to let
// go first. False when it refused.
bool selectPage(HWND sheet, int index);

// The pixels of a window's client area as 0x00RRGGBB words, row 0 at the top.
std::vector<uint32_t> capture(HWND window, int& width, int& height);

}  // namespace granulix::testhost
