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
#include "parameter_sheet.h"

namespace granulix {

class CPropertyFrame : public fw::MiniFrameWindow {
public:
    // The sheet's pages work on `context`, which must outlive the frame.
    explicit CPropertyFrame(PageContext& context) : context_(context) {}
    CMyPropertySheet* sheet() const { return sheet_; }

protected:
    const fw::MessageMap* messageMap() const override;

private:
    int onCreate(CREATESTRUCTA* create);
    void onClose();
    void onSetFocus(HWND previous);
    void onActivate(UINT state, HWND other, bool minimized);
    void onDestroy();

    PageContext& context_;
    CMyPropertySheet* sheet_ = nullptr;
};

}  // namespace granulix
