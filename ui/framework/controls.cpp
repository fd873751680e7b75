#include "controls.h"

#include <commctrl.h>

#include "application.h"

namespace granulix::fw {

HBITMAP Button::setBitmap(HBITMAP bitmap) const {
    return reinterpret_cast<HBITMAP>(
        sendMessage(BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
}

bool Button::checked() const { return sendMessage(BM_GETCHECK) == BST_CHECKED; }

void Button::setChecked(bool checked) const {
    sendMessage(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

void SliderControl::setRangeMin(int minimum, bool redraw) const {
    sendMessage(TBM_SETRANGEMIN, redraw, minimum);
}

void SliderControl::setRangeMax(int maximum, bool redraw) const {
    sendMessage(TBM_SETRANGEMAX, redraw, maximum);
}

int SliderControl::rangeMin() const { return int(sendMessage(TBM_GETRANGEMIN)); }
int SliderControl::rangeMax() const { return int(sendMessage(TBM_GETRANGEMAX)); }
int SliderControl::position() const { return int(sendMessage(TBM_GETPOS)); }
void SliderControl::setPosition(int position) const { sendMessage(TBM_SETPOS, TRUE, position); }

void SliderControl::setRange(int minimum, int maximum, bool redraw) const {
    setRangeMin(minimum, false);
    setRangeMax(maximum, redraw);
}

void SpinControl::setRange(int minimum, int maximum) const {
    sendMessage(UDM_SETRANGE32, WPARAM(minimum), LPARAM(maximum));
}

int SpinControl::position() const { return int(sendMessage(UDM_GETPOS32)); }

void SpinControl::setPosition(int position) const { sendMessage(UDM_SETPOS32, 0, position); }

int EditControl::unselectedLength() const {
    DWORD start = 0, end = 0;
    sendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const int length = GetWindowTextLengthA(handle());
    return length - int(end > start ? end - start : start - end);
}

ToolTipControl::~ToolTipControl() {
    // Normally gone already with its owner.
    if (handle() && IsWindow(handle())) DestroyWindow(handle());
}

bool ToolTipControl::create(const Window& owner, DWORD style) {
    HWND window = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner.handle(),
                                  nullptr, moduleInstance(), nullptr);
    attach(window);
    return window != nullptr;
}

void ToolTipControl::activate(bool active) const { sendMessage(TTM_ACTIVATE, active); }

bool ToolTipControl::addTool(HWND control, UINT textId) const {
    // The size that every version of the common controls accepts.
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.hinst = moduleInstance();
    tool.lpszText = MAKEINTRESOURCEA(textId);
    return sendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
}

bool ToolTipControl::createWithTools(const Window& owner, const ToolTipRow* rows,
                                     std::size_t count) {
    if (!create(owner)) return false;
    activate(true);
    for (std::size_t i = 0; i < count; ++i) {
        HWND control = GetDlgItem(owner.handle(), rows[i].control);
        if (control) addTool(control, rows[i].text);
    }
    return true;
}

void ToolTipControl::relayEvent(MSG& message) const {
    if (handle()) sendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
}

int ToolTipControl::toolCount() const { return int(sendMessage(TTM_GETTOOLCOUNT)); }

bool Bitmap::load(UINT id) {
    reset();
    bitmap_ = LoadBitmapA(moduleInstance(), MAKEINTRESOURCEA(id));
    return bitmap_ != nullptr;
}

void Bitmap::reset() {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
}

}  // namespace granulix::fw
