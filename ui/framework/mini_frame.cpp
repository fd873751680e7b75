#include "mini_frame.h"

#include "application.h"

namespace granulix::fw {

const char* MiniFrameWindow::defaultClass() {
    static const char name[] = "GranulixFrameWindow";
    WNDCLASSA existing{};
    if (!GetClassInfoA(moduleInstance(), name, &existing)) {
        WNDCLASSA wc{};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &Window::windowProcedure;
        wc.hInstance = moduleInstance();
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = name;
        if (!RegisterClassA(&wc)) return nullptr;
        rememberWindowClass(name);
    }
    return name;
}

bool MiniFrameWindow::create(const char* className, const std::string& title, DWORD style,
                             const RECT& rect, const Window* owner, HMENU menu, UINT id) {
    if (!className) className = defaultClass();
    if (!className) return false;
    // A popup's menu argument is its menu; a child's is its identifier.
    HMENU menuOrId = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : menu;
    HWND window =
        CreateWindowExA(WS_EX_TOOLWINDOW, className, title.c_str(), style, rect.left, rect.top,
                        rect.right - rect.left, rect.bottom - rect.top,
                        owner ? owner->handle() : nullptr, menuOrId, moduleInstance(), this);
    // Only a window that was fully created takes the object along when it
    // goes; a creation that failed half-way has already unbound it.
    deleteWithWindow_ = window != nullptr;
    return window != nullptr;
}

void MiniFrameWindow::postNcDestroy() {
    if (deleteWithWindow_) delete this;
}

}  // namespace granulix::fw
