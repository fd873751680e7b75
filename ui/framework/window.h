// The window layer of our framework: one C++ object per window, message
// tables as data, and default handling that a handler may call.
//
// A class that reacts to messages lists its reactions in a static table of
// MessageEntry rows, built with the typed helpers below, and returns it from
// messageMap(), chained explicitly to its base's table:
//
//   const fw::MessageMap* CMyDialog::messageMap() const {
//       static const fw::MessageEntry entries[] = {
//           fw::onCommand<CMyDialog, &CMyDialog::onBanner>(IDC_BANNER),
//           fw::onHScroll<CMyDialog, &CMyDialog::onHScroll>(),
//       };
//       static const fw::MessageMap map{fw::Dialog::messageMap(), entries, std::size(entries)};
//       return &map;
//   }
//
// A row whose handler declines (returns false) lets the search go on
// through the rest of the tables. Messages without an entry fall to the
// default procedure. A handler that
// wants the default handling as well calls defaultHandling() itself, before
// or after its own work. Nothing a handler throws leaves the window
// procedure. Window objects are bound to their window once, when it is
// created, and are not copyable.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace granulix::fw {

class Window;

// Help contexts of windows made from resource templates: this base plus the
// template number.
constexpr DWORD kResourceHelpBase = 0x20000;

// Runs one handler: true when the message was handled, with its result.
using MessageThunk = bool (*)(Window& window, WPARAM wParam, LPARAM lParam, LRESULT& result);

struct MessageEntry {
    UINT message;
    UINT id;    // WM_COMMAND: the command or control id (or kAnyControl); other messages: 0
    UINT code;  // WM_COMMAND: the notification code (0 for clicks and commands)
    MessageThunk thunk;
};

// A WM_COMMAND row with this id takes the commands of every control; its
// handler says whether it took the one at hand.
constexpr UINT kAnyControl = ~0u;

struct MessageMap {
    const MessageMap* base;  // searched when this table has no entry
    const MessageEntry* entries;
    std::size_t count;
};

class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND handle() const { return handle_; }
    // The framework object bound to a window, or null.
    static Window* fromHandle(HWND window);

    // Lets a wrapper drive a window that it did not create (a dialog's
    // control); no messages are routed to the wrapper.
    void attach(HWND window) { handle_ = window; }

    // Called for every message of the modal loop addressed to this window
    // or one of its descendants, before it is dispatched. True: consumed.
    virtual bool preTranslateMessage(MSG& message);
    // Asked to give help for the Help command; true when it did.
    virtual bool onCommandHelp();

    LRESULT sendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    HWND item(int id) const { return GetDlgItem(handle_, id); }
    RECT windowRect() const;  // in screen coordinates
    RECT clientRect() const;
    bool isVisible() const { return handle_ && IsWindowVisible(handle_); }
    void show(int command) const { ShowWindow(handle_, command); }

    // The procedure of every bound window.
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);

protected:
    virtual const MessageMap* messageMap() const;
    // What happens to a message no handler took: DefWindowProc, or the
    // procedure that was there before the window was subclassed.
    virtual LRESULT defaultProcedure(UINT message, WPARAM wParam, LPARAM lParam);
    // The default handling of the message being handled right now.
    LRESULT defaultHandling();
    // Runs after the window is gone; frame windows delete themselves here.
    virtual void postNcDestroy() {}

    // Binds this object to a window that is being created.
    void bind(HWND window);
    // Binds and routes an existing window's messages through this object.
    void subclass(HWND window);
    // Dispatches one message through the tables; catches everything.
    LRESULT dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    // True keeps a message from the tables: it takes the default handling.
    virtual bool suppressed(UINT /*message*/, WPARAM /*wParam*/) const { return false; }

    // The resource template whose help this window opens (its context is
    // kResourceHelpBase + helpId_); 0 for none.
    DWORD helpId_ = 0;

private:
    bool route(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void unbind();

    HWND handle_ = nullptr;
    bool bound_ = false;
    WNDPROC superProcedure_ = nullptr;
    const MSG* current_ = nullptr;
};

// Typed handlers. Each makes one table row.

template <class T, void (T::*Handler)()>
MessageEntry onCommand(UINT id, UINT code = 0) {
    return {WM_COMMAND, id, code, [](Window& w, WPARAM, LPARAM, LRESULT& r) {
                (static_cast<T&>(w).*Handler)();
                r = 0;
                return true;
            }};
}

template <class T, void (T::*Handler)()>
MessageEntry onPaint() {
    return {WM_PAINT, 0, 0, [](Window& w, WPARAM, LPARAM, LRESULT& r) {
                (static_cast<T&>(w).*Handler)();
                r = 0;
                return true;
            }};
}

// code: the scroll code (low word), position: the high word, bar: the
// control that scrolled.
template <class T, void (T::*Handler)(UINT code, UINT position, HWND bar)>
MessageEntry onHScroll() {
    return {WM_HSCROLL, 0, 0, [](Window& w, WPARAM wp, LPARAM lp, LRESULT& r) {
                (static_cast<T&>(w).*Handler)(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
                r = 0;
                return true;
            }};
}

// Commands of any control (clicks and notifications): the handler returns
// false for the ones it does not take.
template <class T, bool (T::*Handler)(UINT id, UINT code, HWND control)>
MessageEntry onControlCommand() {
    return {WM_COMMAND, kAnyControl, 0, [](Window& w, WPARAM wp, LPARAM lp, LRESULT& r) {
                r = 0;
                return (static_cast<T&>(w).*Handler)(LOWORD(wp), HIWORD(wp),
                                                     reinterpret_cast<HWND>(lp));
            }};
}

// As onHScroll, for vertical scroll bars and up-down controls.
template <class T, void (T::*Handler)(UINT code, UINT position, HWND bar)>
MessageEntry onVScroll() {
    return {WM_VSCROLL, 0, 0, [](Window& w, WPARAM wp, LPARAM lp, LRESULT& r) {
                (static_cast<T&>(w).*Handler)(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
                r = 0;
                return true;
            }};
}

// Notifications (WM_NOTIFY): the handler returns false for the ones it does
// not take, and otherwise sets the message's result.
template <class T, bool (T::*Handler)(NMHDR* header, LRESULT& result)>
MessageEntry onNotify() {
    return {WM_NOTIFY, 0, 0, [](Window& w, WPARAM, LPARAM lp, LRESULT& r) {
                return (static_cast<T&>(w).*Handler)(reinterpret_cast<NMHDR*>(lp), r);
            }};
}

// x, y: the new position of the client area's top-left corner.
template <class T, void (T::*Handler)(int x, int y)>
MessageEntry onMove() {
    return {WM_MOVE, 0, 0, [](Window& w, WPARAM, LPARAM lp, LRESULT& r) {
                (static_cast<T&>(w).*Handler)(static_cast<short>(LOWORD(lp)),
                                              static_cast<short>(HIWORD(lp)));
                r = 0;
                return true;
            }};
}

// Returns 0 to go on with the creation, -1 to make it fail.
template <class T, int (T::*Handler)(CREATESTRUCTA* create)>
MessageEntry onCreate() {
    return {WM_CREATE, 0, 0, [](Window& w, WPARAM, LPARAM lp, LRESULT& r) {
                r = (static_cast<T&>(w).*Handler)(reinterpret_cast<CREATESTRUCTA*>(lp));
                return true;
            }};
}

template <class T, void (T::*Handler)()>
MessageEntry onClose() {
    return {WM_CLOSE, 0, 0, [](Window& w, WPARAM, LPARAM, LRESULT& r) {
                (static_cast<T&>(w).*Handler)();
                r = 0;
                return true;
            }};
}

template <class T, void (T::*Handler)(HWND previous)>
MessageEntry onSetFocus() {
    return {WM_SETFOCUS, 0, 0, [](Window& w, WPARAM wp, LPARAM, LRESULT& r) {
                (static_cast<T&>(w).*Handler)(reinterpret_cast<HWND>(wp));
                r = 0;
                return true;
            }};
}

// state: WA_ACTIVE, WA_CLICKACTIVE or WA_INACTIVE; other: the window that
// loses or gains the activation.
template <class T, void (T::*Handler)(UINT state, HWND other, bool minimized)>
MessageEntry onActivate() {
    return {WM_ACTIVATE, 0, 0, [](Window& w, WPARAM wp, LPARAM lp, LRESULT& r) {
                (static_cast<T&>(w).*Handler)(LOWORD(wp), reinterpret_cast<HWND>(lp),
                                              HIWORD(wp) != 0);
                r = 0;
                return true;
            }};
}

// show: the window is being shown (true) or hidden; status: why, 0 when
// ShowWindow was called.
template <class T, void (T::*Handler)(bool show, UINT status)>
MessageEntry onShowWindow() {
    return {WM_SHOWWINDOW, 0, 0, [](Window& w, WPARAM wp, LPARAM lp, LRESULT& r) {
                (static_cast<T&>(w).*Handler)(wp != 0, UINT(lp));
                r = 0;
                return true;
            }};
}

template <class T, void (T::*Handler)()>
MessageEntry onDestroy() {
    return {WM_DESTROY, 0, 0, [](Window& w, WPARAM, LPARAM, LRESULT& r) {
                (static_cast<T&>(w).*Handler)();
                r = 0;
                return true;
            }};
}

}  // namespace granulix::fw
