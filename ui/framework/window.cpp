#include "window.h"

#include <cstdio>

#include "application.h"

namespace granulix::fw {

namespace {

// The window property that holds the bound object. Its name carries this
// module's address, so that two modules built on this framework in one
// process never take each other's windows for their own.
const char* propertyName() {
    static char name[48] = {};
    if (!name[0])
        std::snprintf(name, sizeof name, "GranulixWindow@%p", static_cast<void*>(moduleInstance()));
    return name;
}

}  // namespace

Window::~Window() {
    if (bound_ && handle_ && IsWindow(handle_)) {
        // The object goes first: the window must not call it any more.
        RemovePropA(handle_, propertyName());
        if (superProcedure_)
            SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(superProcedure_));
    }
}

Window* Window::fromHandle(HWND window) {
    if (!window) return nullptr;
    return static_cast<Window*>(GetPropA(window, propertyName()));
}

bool Window::preTranslateMessage(MSG&) { return false; }

bool Window::onCommandHelp() {
    if (helpId_ == 0) return false;
    if (Application* app = Application::current())
        app->winHelp(handle_, kResourceHelpBase + helpId_);
    return true;
}

LRESULT Window::sendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return SendMessageA(handle_, message, wParam, lParam);
}

RECT Window::windowRect() const {
    RECT r{};
    GetWindowRect(handle_, &r);
    return r;
}

RECT Window::clientRect() const {
    RECT r{};
    GetClientRect(handle_, &r);
    return r;
}

const MessageMap* Window::messageMap() const {
    static const MessageMap map{nullptr, nullptr, 0};
    return &map;
}

LRESULT Window::defaultProcedure(UINT message, WPARAM wParam, LPARAM lParam) {
    if (superProcedure_) return CallWindowProcA(superProcedure_, handle_, message, wParam, lParam);
    return DefWindowProcA(handle_, message, wParam, lParam);
}

LRESULT Window::defaultHandling() {
    if (!current_) return 0;
    return defaultProcedure(current_->message, current_->wParam, current_->lParam);
}

void Window::bind(HWND window) {
    handle_ = window;
    bound_ = true;
    SetPropA(window, propertyName(), this);
}

void Window::subclass(HWND window) {
    bind(window);
    superProcedure_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::windowProcedure)));
}

void Window::unbind() {
    RemovePropA(handle_, propertyName());
    if (superProcedure_) {
        SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(superProcedure_));
        superProcedure_ = nullptr;
    }
    bound_ = false;
    handle_ = nullptr;
}

bool Window::route(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (suppressed(message, wParam)) return false;
    const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
    const UINT code = message == WM_COMMAND ? HIWORD(wParam) : 0;
    for (const MessageMap* map = messageMap(); map; map = map->base)
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageEntry& e = map->entries[i];
            if (e.message != message) continue;
            const bool anyControl = e.id == kAnyControl && message == WM_COMMAND;
            if (!anyControl && (e.id != id || e.code != code)) continue;
            if (e.thunk(*this, wParam, lParam, result)) return true;
        }
    // Commands that no window takes go to the application (the Help command).
    if (message == WM_COMMAND && code == 0) {
        if (Application* app = Application::current(); app && app->routeCommand(id)) {
            result = 0;
            return true;
        }
    }
    return false;
}

LRESULT Window::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const MSG current{handle_, message, wParam, lParam, 0, {0, 0}};
    const MSG* outer = current_;
    current_ = &current;
    LRESULT result = 0;
    try {
        if (!route(message, wParam, lParam, result))
            result = defaultProcedure(message, wParam, lParam);
    } catch (...) {
        // Nothing leaves a window procedure; the message counts as handled.
        result = 0;
    }
    current_ = outer;
    if (message == WM_NCDESTROY) {
        unbind();
        postNcDestroy();  // may delete this
    }
    return result;
}

LRESULT CALLBACK Window::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* self = fromHandle(window);
    if (!self && message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        self = static_cast<Window*>(create->lpCreateParams);
        if (self) self->bind(window);
    }
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    return self->dispatch(message, wParam, lParam);
}

}  // namespace granulix::fw
