#include "dialog.h"

#include <iterator>
#include <vector>

#include "application.h"

namespace granulix::fw {

HWND DataExchange::control(int id) {
    HWND window = dialog_.item(id);
    if (!window) fail();
    return window;
}

void exchangeControl(DataExchange& dx, int id, Window& control) {
    HWND window = dx.control(id);
    if (window && control.handle() != window) control.attach(window);
}

void exchangeText(DataExchange& dx, int id, std::string& text) {
    HWND window = dx.control(id);
    if (!window) return;
    if (dx.saving()) {
        std::vector<char> buffer(std::size_t(GetWindowTextLengthA(window)) + 1);
        const int n = GetWindowTextA(window, buffer.data(), int(buffer.size()));
        text.assign(buffer.data(), n > 0 ? std::size_t(n) : 0);
    } else {
        SetWindowTextA(window, text.c_str());
    }
}

Dialog::Dialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {
    helpId_ = templateId;
}

const MessageMap* Dialog::messageMap() const {
    static const MessageEntry entries[] = {
        {WM_INITDIALOG, 0, 0,
         [](Window& w, WPARAM, LPARAM, LRESULT& r) {
             r = static_cast<Dialog&>(w).onInitDialog() ? TRUE : FALSE;
             return true;
         }},
        onCommand<Dialog, &Dialog::onOK>(IDOK),
        onCommand<Dialog, &Dialog::onCancel>(IDCANCEL),
    };
    static const MessageMap map{Window::messageMap(), entries, std::size(entries)};
    return &map;
}

bool Dialog::onInitDialog() {
    updateData(false);
    return true;
}

void Dialog::onOK() {
    if (updateData(true)) endDialog(IDOK);
}

void Dialog::onCancel() { endDialog(IDCANCEL); }

bool Dialog::updateData(bool saveAndValidate) {
    DataExchange dx(*this, saveAndValidate);
    doDataExchange(dx);
    return !dx.failed();
}

bool Dialog::preTranslateMessage(MSG& message) {
    return IsDialogMessageA(handle(), &message) != FALSE;
}

void Dialog::endDialog(INT_PTR result) {
    result_ = result;
    ended_ = true;
    // Wakes the modal loop when the request came inside a sent message.
    if (handle()) PostMessageA(handle(), WM_NULL, 0, 0);
}

INT_PTR CALLBACK Dialog::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG || Window::fromHandle(window)) return FALSE;
    auto* self = reinterpret_cast<Dialog*>(lParam);
    // From here on every message of the dialog passes through the object;
    // the dialog manager's own handling is its default.
    self->subclass(window);
    const LRESULT result = self->dispatch(message, wParam, lParam);
    if (self->modal_ && !self->ended_) self->centreOverOwner();
    return result;
}

void Dialog::centreOverOwner() {
    const RECT dialog = windowRect();
    const int width = dialog.right - dialog.left, height = dialog.bottom - dialog.top;
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT centre = area;
    if (owner_ && IsWindowVisible(owner_) && !IsIconic(owner_)) GetWindowRect(owner_, &centre);
    int x = (centre.left + centre.right) / 2 - width / 2;
    int y = (centre.top + centre.bottom) / 2 - height / 2;
    // Keep the dialog on the work area.
    if (x + width > area.right) x = area.right - width;
    if (x < area.left) x = area.left;
    if (y + height > area.bottom) y = area.bottom - height;
    if (y < area.top) y = area.top;
    SetWindowPos(handle(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// The owner a dialog without a parent gets: the active window's top-level
// window on this thread.
HWND safeOwner() {
    HWND owner = GetActiveWindow();
    while (owner && (GetWindowLongA(owner, GWL_STYLE) & WS_CHILD)) owner = GetParent(owner);
    return owner;
}

// Offers a message to the framework windows from its target up to `top`.
bool preTranslate(MSG& message, HWND top) {
    for (HWND w = message.hwnd; w; w = GetParent(w)) {
        if (Window* window = Window::fromHandle(w); window && window->preTranslateMessage(message))
            return true;
        if (w == top) break;
    }
    return false;
}

}  // namespace

INT_PTR Dialog::doModal() {
    initCommonControls();
    const HINSTANCE module = moduleInstance();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(templateId_), RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* dialogTemplate = loaded ? static_cast<LPCDLGTEMPLATEA>(LockResource(loaded)) : nullptr;
    if (!dialogTemplate) return -1;

    owner_ = parent_ ? parent_ : safeOwner();
    const bool disableOwner = owner_ && IsWindowEnabled(owner_);
    if (disableOwner) EnableWindow(owner_, FALSE);
    modal_ = true;
    ended_ = false;
    result_ = -1;

    HWND window = CreateDialogIndirectParamA(module, dialogTemplate, owner_, &Dialog::dialogProcedure,
                                             reinterpret_cast<LPARAM>(this));
    bool created = window != nullptr;
    if (created && !ended_) {
        ShowWindow(window, SW_SHOWNORMAL);
        MSG message;
        while (!ended_) {
            const BOOL got = GetMessageA(&message, nullptr, 0, 0);
            if (got == -1) {
                result_ = -1;
                break;
            }
            if (got == 0) {
                // Someone asked the thread to quit: end here and pass it on.
                PostQuitMessage(int(message.wParam));
                result_ = -1;
                break;
            }
            if (!preTranslate(message, window)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    if (created && IsWindow(window))
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The owner comes back before the dialog goes, so that the activation
    // returns to it and not to another program.
    if (disableOwner) EnableWindow(owner_, TRUE);
    if (owner_ && created && GetActiveWindow() == window) SetActiveWindow(owner_);
    if (created && IsWindow(window)) DestroyWindow(window);
    modal_ = false;
    return created ? result_ : -1;
}

}  // namespace granulix::fw
