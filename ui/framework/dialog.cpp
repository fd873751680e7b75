#include "dialog.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
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
    if (dx.saving() && dx.failed()) return;
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

bool parseInteger(const std::string& text, int32_t& value) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') ++begin;
    if (!*begin) return false;
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end) return false;
    value = int32_t(n);
    return true;
}

void exchangeInt(DataExchange& dx, int id, int32_t& value) {
    // Reading stops at the first entry that fails; writing never fails.
    if (dx.saving() && dx.failed()) return;
    HWND window = dx.control(id);
    if (!window) return;
    if (!dx.saving()) {
        SetWindowTextA(window, std::to_string(value).c_str());
        return;
    }
    std::string text;
    exchangeText(dx, id, text);
    if (parseInteger(text, value)) return;
    messageBox(dx.dialog().handle(), "Please enter an integer.");
    SetFocus(window);
    SendMessageA(window, EM_SETSEL, 0, -1);
    dx.fail();
}

void exchangeCheck(DataExchange& dx, int id, int32_t& value) {
    if (dx.saving() && dx.failed()) return;
    HWND window = dx.control(id);
    if (!window) return;
    if (dx.saving())
        value = SendMessageA(window, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    else
        SendMessageA(window, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
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
    struct Exchanging {
        bool& flag;
        bool outer;
        ~Exchanging() { flag = outer; }
    } scope{exchanging_, exchanging_};
    exchanging_ = true;
    DataExchange dx(*this, saveAndValidate);
    doDataExchange(dx);
    return !dx.failed();
}

bool Dialog::suppressed(UINT message, WPARAM wParam) const {
    // Notifications of the controls, not clicks or commands.
    return exchanging_ && message == WM_COMMAND && HIWORD(wParam) != 0;
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
    const auto* dialogTemplate =
        loaded ? static_cast<LPCDLGTEMPLATEA>(LockResource(loaded)) : nullptr;
    if (!dialogTemplate) return -1;

    owner_ = parent_ ? parent_ : safeOwner();
    const bool disableOwner = owner_ && IsWindowEnabled(owner_);
    if (disableOwner) EnableWindow(owner_, FALSE);
    modal_ = true;
    ended_ = false;
    result_ = -1;

    HWND window = CreateDialogIndirectParamA(
        module, dialogTemplate, owner_, &Dialog::dialogProcedure, reinterpret_cast<LPARAM>(this));
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
