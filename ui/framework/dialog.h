// Modal dialogs from a dialog template of the module, with data exchange
// between members and controls.
//
//   class CMyDialog : public fw::Dialog {
//   public:
//       CMyDialog(HWND parent) : Dialog(IDD_MINE, parent) {}
//   protected:
//       void doDataExchange(fw::DataExchange& dx) override {
//           fw::exchangeControl(dx, IDC_SLIDER, slider_);
//           fw::exchangeText(dx, IDC_LABEL, label_);
//       }
//   };
//   int result = CMyDialog(owner).doModal();   // IDOK, IDCANCEL, or -1
//
// doModal disables the owner, creates the dialog, runs its own message loop
// (so that every message passes preTranslateMessage of its window and that
// window's parents first), and destroys the dialog again. Right after its
// initialisation a modal dialog is centred over its owner. While data
// exchange runs, the notifications that the controls send about it (text
// changes) reach no handler. OK reads the
// controls back into the members and ends with IDOK; Cancel, Escape and the
// close box end with IDCANCEL. The dialog's help context is its template
// number.
#pragma once

#include <cstdint>
#include <string>

#include "window.h"

namespace granulix::fw {

class Dialog;

// One pass of data exchange: into the controls, or out of them.
class DataExchange {
public:
    DataExchange(Dialog& dialog, bool saveAndValidate)
        : dialog_(dialog), saveAndValidate_(saveAndValidate) {}
    DataExchange(const DataExchange&) = delete;
    DataExchange& operator=(const DataExchange&) = delete;

    bool saving() const { return saveAndValidate_; }
    Dialog& dialog() const { return dialog_; }
    // The dialog's control with this id; marks the exchange failed if none.
    HWND control(int id);
    void fail() { failed_ = true; }
    bool failed() const { return failed_; }

private:
    Dialog& dialog_;
    bool saveAndValidate_;
    bool failed_ = false;
};

// Binds a control wrapper to the dialog's control `id`.
void exchangeControl(DataExchange& dx, int id, Window& control);
// Moves a string between a member and the text of control `id`.
void exchangeText(DataExchange& dx, int id, std::string& text);
// Moves an integer between a member and the decimal text of control `id`.
// Text that is no integer says "Please enter an integer.", puts the focus
// into the control with its text selected, and fails the exchange.
void exchangeInt(DataExchange& dx, int id, int32_t& value);
// Moves a check box's state: ticked reads as 1, unticked as 0; any value
// but 0 ticks it.
void exchangeCheck(DataExchange& dx, int id, int32_t& value);

// Reads a whole decimal integer (spaces around it allowed); false when the
// text is anything else or does not fit 32 bits.
bool parseInteger(const std::string& text, int32_t& value);

class Dialog : public Window {
public:
    Dialog(UINT templateId, HWND parent);

    // Runs the dialog modally; -1 when it could not be created.
    INT_PTR doModal();
    void endDialog(INT_PTR result);

    // Data exchange: true reads the controls into the members, false writes
    // the members into the controls. False when the exchange failed.
    bool updateData(bool saveAndValidate);

    UINT templateId() const { return templateId_; }

    // Relays the dialog's keyboard navigation (tab, arrows, Enter, Escape).
    bool preTranslateMessage(MSG& message) override;

protected:
    virtual void doDataExchange(DataExchange&) {}
    // Standard initialisation: data exchange into the controls. True lets
    // the dialog manager set the initial focus.
    virtual bool onInitDialog();
    virtual void onOK();
    virtual void onCancel();
    const MessageMap* messageMap() const override;
    bool suppressed(UINT message, WPARAM wParam) const override;
    bool exchanging() const { return exchanging_; }

private:
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    void centreOverOwner();

    UINT templateId_;
    HWND parent_;
    HWND owner_ = nullptr;
    bool modal_ = false;
    bool ended_ = false;
    INT_PTR result_ = -1;
    bool exchanging_ = false;
};

}  // namespace granulix::fw
