#include "property_frame.h"

#include <commctrl.h>

#include <iterator>
#include <new>

#include "application.h"

namespace granulix {

namespace {

// Every page template is 212 x 97 dialog units; the sheet adds its margins
// and the row of tabs.
constexpr RECT kSheetDialogUnits{0, 0, 212 + 8, 97 + 8 + 14};

}  // namespace

bool CMyPropertySheet::create(DWORD style, DWORD extendedStyle) {
    // Sized in the units of the setup dialog's font, which the pages share.
    RECT size = kSheetDialogUnits;
    if (HWND dialog = GetWindow(parent_->handle(), GW_OWNER)) MapDialogRect(dialog, &size);
    HWND window = CreateWindowExA(extendedStyle, WC_TABCONTROLA, "", style | WS_CLIPSIBLINGS, 0, 0,
                                  size.right, size.bottom, parent_->handle(), nullptr,
                                  fw::moduleInstance(), nullptr);
    if (!window) return false;
    SendMessageA(window, WM_SETFONT, SendMessageA(GetWindow(parent_->handle(), GW_OWNER), WM_GETFONT, 0, 0), 0);
    subclass(window);
    deleteWithWindow_ = true;
    return true;
}

// Without pages nothing is on display and nothing needs reloading.
int CMyPropertySheet::activePageIndex() const { return -1; }

void CMyPropertySheet::loadPageFromSettings(int) {}

void CMyPropertySheet::postNcDestroy() {
    if (deleteWithWindow_) delete this;
}

const fw::MessageMap* CPropertyFrame::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onCreate<CPropertyFrame, &CPropertyFrame::onCreate>(),
        fw::onClose<CPropertyFrame, &CPropertyFrame::onClose>(),
        fw::onSetFocus<CPropertyFrame, &CPropertyFrame::onSetFocus>(),
        fw::onActivate<CPropertyFrame, &CPropertyFrame::onActivate>(),
        fw::onDestroy<CPropertyFrame, &CPropertyFrame::onDestroy>(),
    };
    static const fw::MessageMap map{fw::MiniFrameWindow::messageMap(), entries, std::size(entries)};
    return &map;
}

int CPropertyFrame::onCreate(CREATESTRUCTA*) {
    if (defaultHandling() == -1) return -1;
    sheet_ = new (std::nothrow) CMyPropertySheet(this);
    if (!sheet_) return -1;
    if (!sheet_->create(WS_CHILD | WS_VISIBLE, 0)) {
        delete sheet_;
        sheet_ = nullptr;
        return -1;
    }
    // The frame's client area is exactly the sheet.
    RECT sheet = sheet_->windowRect();
    RECT frame = sheet;
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongA(handle(), GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongA(handle(), GWL_EXSTYLE)));
    SetWindowPos(handle(), nullptr, frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(sheet_->handle(), nullptr, 0, 0, sheet.right - sheet.left, sheet.bottom - sheet.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

void CPropertyFrame::onClose() { show(SW_HIDE); }

void CPropertyFrame::onSetFocus(HWND) { defaultHandling(); }

void CPropertyFrame::onActivate(UINT state, HWND other, bool minimized) {
    defaultHandling();
    if (sheet_ && sheet_->handle())
        sheet_->sendMessage(WM_ACTIVATE, MAKEWPARAM(state, minimized ? 1 : 0),
                            reinterpret_cast<LPARAM>(other));
}

// The sheet's window goes right after this, and the sheet with it.
void CPropertyFrame::onDestroy() {
    sheet_ = nullptr;
    defaultHandling();
}

}  // namespace granulix
