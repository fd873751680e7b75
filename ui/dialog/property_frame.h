// The parameter window: a popup with a thin border and no caption that the
// setup dialog keeps beside its "Preview" box, carrying the property sheet.
//
// On creation the frame creates its sheet as a visible child and sizes
// itself around it. A close request only hides the frame (the dialog's next
// move shows it again); activation is passed on to the sheet so that the
// sheet keeps its keyboard focus like a dialog. Frame and sheet delete
// themselves when their windows are destroyed, which happens with the setup
// dialog that owns the frame.
#pragma once

#include "mini_frame.h"

namespace granulix {

// The tabbed sheet of parameter pages. For now it holds no pages: it is an
// empty tab control of the size the pages will have, so that the frame is
// created, sized and placed as it will be with them.
class CMyPropertySheet : public fw::Window {
public:
    explicit CMyPropertySheet(fw::Window* parent) : parent_(parent) {}
    // Creates the sheet's window as a child of its parent; false when it
    // could not, and the object is then still the caller's.
    bool create(DWORD style, DWORD extendedStyle);

    // The index of the page on display (0 Movement, 1 Nature, 2 Life,
    // 3 Sources); -1 while there is none.
    int activePageIndex() const;
    // Sets the controls of page `index` from the working settings; any other
    // index reloads nothing.
    void loadPageFromSettings(int index);

protected:
    void postNcDestroy() override;

private:
    fw::Window* parent_;
    bool deleteWithWindow_ = false;
};

class CPropertyFrame : public fw::MiniFrameWindow {
public:
    CPropertyFrame() = default;
    CMyPropertySheet* sheet() const { return sheet_; }

protected:
    const fw::MessageMap* messageMap() const override;

private:
    int onCreate(CREATESTRUCTA* create);
    void onClose();
    void onSetFocus(HWND previous);
    void onActivate(UINT state, HWND other, bool minimized);
    void onDestroy();

    CMyPropertySheet* sheet_ = nullptr;
};

}  // namespace granulix
