#include "property_frame.h"

#include <iterator>
#include <new>

namespace granulix {

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
    sheet_ = new (std::nothrow) CMyPropertySheet(this, context_);
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
    SetWindowPos(sheet_->handle(), nullptr, 0, 0, sheet.right - sheet.left,
                 sheet.bottom - sheet.top, SWP_NOZORDER | SWP_NOACTIVATE);
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
