#include "thread_wait.h"

namespace granulix::testhost {

namespace {

HANDLE wakeEvent() {
    static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Runs on the watched thread whenever it takes a message from its queue
// (posted messages, timers, paints, input); sent messages do not pass here,
// so the condition's own questions do not wake the waiter.
LRESULT CALLBACK messageTaken(int code, WPARAM removal, LPARAM message) {
    if (code == HC_ACTION && removal == PM_REMOVE) SetEvent(wakeEvent());
    return CallNextHookEx(nullptr, code, removal, message);
}

class QueueHook {
public:
    explicit QueueHook(DWORD thread)
        : hook_(SetWindowsHookExA(WH_GETMESSAGE, messageTaken, nullptr, thread)) {}
    ~QueueHook() {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    QueueHook(const QueueHook&) = delete;
    QueueHook& operator=(const QueueHook&) = delete;

private:
    HHOOK hook_;
};

BOOL CALLBACK firstWindow(HWND window, LPARAM found) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

VOID CALLBACK roundTripReturned(HWND, UINT, ULONG_PTR, LRESULT) {}

// Sends WM_NULL to a window of the thread without waiting for it: the reply
// comes back through this thread's queue once the thread has finished the
// message it was handling, and wakes the wait below. A thread that has
// stopped taking messages never replies, and then nobody waits for it.
void startRoundTrip(DWORD thread) {
    HWND window = nullptr;
    EnumThreadWindows(thread, firstWindow, reinterpret_cast<LPARAM>(&window));
    if (window) SendMessageCallbackA(window, WM_NULL, 0, 0, roundTripReturned, 0);
}

}  // namespace

bool waitOnThread(DWORD thread, const std::function<bool()>& condition, int timeoutMs) {
    if (condition()) return true;
    // Thread 0 (the thread of a window already gone) would hook every thread.
    if (timeoutMs <= 0 || thread == 0) return false;
    QueueHook hook(thread);
    ResetEvent(wakeEvent());
    // Catches up with whatever the thread did before the hook was in place.
    startRoundTrip(thread);
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        if (condition()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        HANDLE wake = wakeEvent();
        const DWORD woken =
            MsgWaitForMultipleObjects(1, &wake, FALSE, DWORD(deadline - now), QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) {
            // The thread took a message: look again once it has handled it.
            startRoundTrip(thread);
        } else if (woken == WAIT_OBJECT_0 + 1) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        } else {
            return condition();
        }
    }
}

bool waitOnThreadOf(HWND window, const std::function<bool()>& condition, int timeoutMs) {
    return waitOnThread(GetWindowThreadProcessId(window, nullptr), condition, timeoutMs);
}

void wakeWaiter() { SetEvent(wakeEvent()); }

}  // namespace granulix::testhost
