// Waiting, from a second thread, for something a window thread does: a
// dialog that opens, a window that goes, a count that grows. The waiter
// sleeps until the watched thread takes a message from its queue, and looks
// again at once and again when the thread has handled that message (the
// reply to a WM_NULL sent to one of its windows), so that no wait depends on
// guessing how long the thread needs. The waiting thread takes its own
// messages meanwhile.
//
//   HWND box = nullptr;
//   waitOnThread(uiThread, [&] { return (box = findBox()) != nullptr; }, 10000);
//
// One thread waits at a time. The condition may send messages to the
// watched thread's windows; it should not post any.
#pragma once

#include <windows.h>

#include <functional>

namespace granulix::testhost {

// True as soon as `condition` holds, false when it still does not after
// timeoutMs (0: look once).
bool waitOnThread(DWORD thread, const std::function<bool()>& condition, int timeoutMs);

// The same for the thread that owns `window`.
bool waitOnThreadOf(HWND window, const std::function<bool()>& condition, int timeoutMs);

// Wakes a waiter to look again: for conditions that change on a thread
// that has no windows, such as a helper thread finishing.
void wakeWaiter();

}  // namespace granulix::testhost
