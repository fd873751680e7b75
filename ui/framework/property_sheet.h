// Property sheets with pages made from dialog templates of the module, on
// top of the common controls' property sheet.
//
//   class CMyPage : public fw::PropertyPage {
//   public:
//       CMyPage() : PropertyPage(IDD_MY_PAGE) {}
//   protected:
//       bool onSetActive() override { reload(); return PropertyPage::onSetActive(); }
//   };
//   class CMySheet : public fw::PropertySheet {
//   public:
//       explicit CMySheet(fw::Window* parent) : PropertySheet(IDS_CAPTION, parent) {
//       addPage(page_); } CMyPage page_;
//   };
//   sheet->create(WS_CHILD | WS_VISIBLE, 0);
//
// A sheet here is always modeless, a child window of its parent, showing
// only its tabs and the page on top: the standard button row (OK, Cancel,
// Apply, Help) is hidden, disabled and cut off the sheet's height. The sheet creates a page's
// window the first time the page is selected; page 0 comes up with the sheet.
//
// A page is a dialog with data exchange. Becoming the active tab runs
// onSetActive, which on every activation but the first writes the bound
// members into the controls; losing it runs onKillActive, which reads and
// validates them and keeps the tab when that fails.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

// prsht.h names the API function PropertySheetA through this macro; here
// the name is the class's.
#undef PropertySheet

#include "dialog.h"

namespace granulix::fw {

class PropertyPage : public Dialog {
public:
    explicit PropertyPage(UINT templateId);

    // Keys are the sheet's to relay: a page consumes nothing here.
    bool preTranslateMessage(MSG& message) override;

protected:
    // The page becomes the active tab; false refuses.
    virtual bool onSetActive();
    // The page stops being the active tab; false keeps it.
    virtual bool onKillActive();
    // A page has no OK or Cancel of its own.
    void onOK() override {}
    void onCancel() override {}
    const MessageMap* messageMap() const override;

private:
    friend class PropertySheet;
    static INT_PTR CALLBACK pageProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool onNotify(NMHDR* header, LRESULT& result);

    bool activatedBefore_ = false;
};

class PropertySheet : public Window {
public:
    // The caption is a string resource of the module.
    PropertySheet(UINT captionId, Window* parent);

    // Adds a page at the end; only before create().
    void addPage(PropertyPage& page) { pages_.push_back(&page); }

    // Creates the sheet as a modeless child of its parent with `style`
    // (WS_CHILD is added). False when it could not; the object is then not
    // bound to any window.
    bool create(DWORD style, DWORD extendedStyle);

    // The index of the page on display, -1 when none is.
    int activePageIndex() const;
    int pageCount() const { return int(pages_.size()); }

    // Relays the sheet's keyboard navigation (tabs, Ctrl+Tab between pages).
    bool preTranslateMessage(MSG& message) override;

private:
    void hideButtons();

    UINT captionId_;
    Window* parent_;
    std::vector<PropertyPage*> pages_;
};

}  // namespace granulix::fw
