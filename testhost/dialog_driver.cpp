#include "dialog_driver.h"

#include <commctrl.h>

#include "thread_wait.h"

namespace granulix::testhost {

namespace {

struct Search {
    std::string title;
    HWND owner;
    HWND found;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<Search*>(data);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770" || !IsWindowVisible(window)) return TRUE;
    if (textOf(window) != s->title) return TRUE;
    if (s->owner && GetWindow(window, GW_OWNER) != s->owner) return TRUE;
    s->found = window;
    return FALSE;
}

}  // namespace

HWND waitForDialog(DWORD thread, const std::string& title, HWND owner, int timeoutMs) {
    Search s{title, owner, nullptr};
    waitOnThread(
        thread,
        [&] {
            EnumThreadWindows(thread, matchDialog, reinterpret_cast<LPARAM>(&s));
            return s.found != nullptr;
        },
        timeoutMs);
    return s.found;
}

bool waitUntilGone(HWND window, int timeoutMs) {
    return waitOnThreadOf(
        window, [&] { return !IsWindow(window); }, timeoutMs);
}

void scrollTo(HWND dialog, int sliderId, int position, UINT code) {
    HWND slider = GetDlgItem(dialog, sliderId);
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(slider));
}

void pressKey(HWND control, UINT virtualKey) {
    const UINT scan = MapVirtualKeyA(virtualKey, 0);
    PostMessageA(control, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageA(control, WM_KEYUP, virtualKey, 1 | (scan << 16) | (3u << 30));
}

void click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string textOf(HWND window) {
    char text[512] = {};
    // WM_GETTEXT reaches windows of other threads, GetWindowText may not.
    const LRESULT n = SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return std::string(text, n > 0 ? size_t(n) : 0);
}

namespace {

struct FrameSearch {
    HWND owner;
    HWND frame;
};

BOOL CALLBACK matchFrame(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<FrameSearch*>(data);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "GranulixFrameWindow" && GetWindow(window, GW_OWNER) == s->owner) {
        s->frame = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND parameterSheet(HWND dialog) {
    FrameSearch search{dialog, nullptr};
    EnumThreadWindows(GetWindowThreadProcessId(dialog, nullptr), matchFrame,
                      reinterpret_cast<LPARAM>(&search));
    return search.frame ? GetWindow(search.frame, GW_CHILD) : nullptr;
}

HWND currentPage(HWND sheet) {
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

int pageIndexOf(HWND sheet, const std::string& caption) {
    HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    const int count = int(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        TCITEMA tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = text;
        tab.cchTextMax = sizeof text;
        if (SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&tab)) && caption == text)
            return i;
    }
    return -1;
}

bool selectPage(HWND sheet, int index) {
    SendMessageA(sheet, PSM_SETCURSEL, index, 0);
    HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    return SendMessageA(tabs, TCM_GETCURSEL, 0, 0) == index;
}

std::vector<uint32_t> capture(HWND window, int& width, int& height) {
    RECT client{};
    GetClientRect(window, &client);
    width = client.right;
    height = client.bottom;
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    HDC source = GetDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = p[i] & 0x00FFFFFFu;
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(window, source);
    return pixels;
}

}  // namespace granulix::testhost
