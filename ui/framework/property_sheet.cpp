#include "property_sheet.h"

#include <iterator>
#include <string>

#include "application.h"

namespace granulix::fw {

namespace {

// The Apply button of a property sheet, which commctrl.h does not name.
constexpr int kApplyButton = 0x3021;

// The style the sheet being created gets: set around PropertySheetA, read
// by its callback (one sheet is created at a time, on the UI thread).
DWORD pendingStyle = 0;
DWORD pendingExtendedStyle = 0;

// Turns the sheet's template into the one of a child window.
int CALLBACK sheetCallback(HWND, UINT message, LPARAM lParam) {
    if (message != PSCB_PRECREATE || !lParam) return 0;
    const DWORD removed = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME |
                          DS_CONTEXTHELP | WS_VISIBLE | WS_DISABLED;
    auto* words = reinterpret_cast<WORD*>(lParam);
    const bool extended = words[0] == 1 && words[1] == 0xFFFF;  // DLGTEMPLATEEX
    DWORD* style = extended ? reinterpret_cast<DWORD*>(words + 6) : reinterpret_cast<DWORD*>(words);
    DWORD* exStyle =
        extended ? reinterpret_cast<DWORD*>(words + 4) : reinterpret_cast<DWORD*>(words + 2);
    *style = (*style & ~removed) | WS_CHILD | DS_CONTROL | pendingStyle;
    *exStyle = (*exStyle & ~(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE)) | WS_EX_CONTROLPARENT |
               pendingExtendedStyle;
    return 0;
}

}  // namespace

PropertyPage::PropertyPage(UINT templateId) : Dialog(templateId, nullptr) {}

bool PropertyPage::preTranslateMessage(MSG& message) {
    return Window::preTranslateMessage(message);
}

const MessageMap* PropertyPage::messageMap() const {
    static const MessageEntry entries[] = {
        fw::onNotify<PropertyPage, &PropertyPage::onNotify>(),
    };
    static const MessageMap map{Dialog::messageMap(), entries, std::size(entries)};
    return &map;
}

bool PropertyPage::onSetActive() {
    if (activatedBefore_) updateData(false);
    activatedBefore_ = true;
    return true;
}

bool PropertyPage::onKillActive() { return updateData(true); }

bool PropertyPage::onNotify(NMHDR* header, LRESULT& result) {
    if (!header || header->hwndFrom != GetParent(handle())) return false;
    switch (header->code) {
        case PSN_SETACTIVE: result = onSetActive() ? 0 : -1; break;
        case PSN_KILLACTIVE: result = onKillActive() ? FALSE : TRUE; break;
        case PSN_APPLY: result = PSNRET_NOERROR; break;
        default: return false;
    }
    // Answered both ways: as the procedure's result and as a dialog's.
    SetWindowLongPtrA(handle(), DWLP_MSGRESULT, result);
    return true;
}

INT_PTR CALLBACK PropertyPage::pageProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message != WM_INITDIALOG || Window::fromHandle(window)) return FALSE;
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
    auto* self = reinterpret_cast<PropertyPage*>(sheetPage->lParam);
    // From here on every message of the page passes through the object.
    self->subclass(window);
    return self->dispatch(message, wParam, lParam);
}

PropertySheet::PropertySheet(UINT captionId, Window* parent)
    : captionId_(captionId), parent_(parent) {}

bool PropertySheet::create(DWORD style, DWORD extendedStyle) {
    initCommonControls();
    std::vector<PROPSHEETPAGEA> pages(pages_.size());
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        PROPSHEETPAGEA& page = pages[i];
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = moduleInstance();
        page.pszTemplate = MAKEINTRESOURCEA(pages_[i]->templateId());
        page.pfnDlgProc = &PropertyPage::pageProcedure;
        page.lParam = reinterpret_cast<LPARAM>(pages_[i]);
    }
    const std::string caption = loadString(captionId_);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOAPPLYNOW | PSH_USECALLBACK;
    header.hwndParent = parent_ ? parent_->handle() : nullptr;
    header.hInstance = moduleInstance();
    header.pszCaption = caption.c_str();
    header.nPages = UINT(pages.size());
    header.nStartPage = 0;
    header.ppsp = pages.data();
    header.pfnCallback = &sheetCallback;

    pendingStyle = style;
    pendingExtendedStyle = extendedStyle;
    const INT_PTR created = ::PropertySheetA(&header);
    pendingStyle = pendingExtendedStyle = 0;
    HWND window = reinterpret_cast<HWND>(created);
    if (created == 0 || created == -1 || !IsWindow(window)) return false;
    subclass(window);
    hideButtons();
    return true;
}

void PropertySheet::hideButtons() {
    HWND tabs = reinterpret_cast<HWND>(sendMessage(PSM_GETTABCONTROL));
    int band = 0;
    for (int id : {IDOK, IDCANCEL, kApplyButton, IDHELP}) {
        HWND button = item(id);
        if (!button) continue;
        if (tabs) {
            RECT b{}, t{};
            GetWindowRect(button, &b);
            GetWindowRect(tabs, &t);
            if (b.bottom - t.bottom > band) band = int(b.bottom - t.bottom);
        }
        ShowWindow(button, SW_HIDE);
        EnableWindow(button, FALSE);
    }
    if (band <= 0) return;
    const RECT r = windowRect();
    SetWindowPos(handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top - band,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int PropertySheet::activePageIndex() const {
    if (!handle()) return -1;
    HWND current = reinterpret_cast<HWND>(sendMessage(PSM_GETCURRENTPAGEHWND));
    if (!current) return -1;
    for (std::size_t i = 0; i < pages_.size(); ++i)
        if (pages_[i]->handle() == current) return int(i);
    return -1;
}

bool PropertySheet::preTranslateMessage(MSG& message) {
    return sendMessage(PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&message)) != FALSE;
}

}  // namespace granulix::fw
