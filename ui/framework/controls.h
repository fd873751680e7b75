// Thin wrappers of the controls that the dialogs drive: buttons (push
// buttons with a bitmap, check boxes, radio buttons), trackbars, up-down
// controls, edits and tooltips. A wrapper is bound to its control by data
// exchange (fw::exchangeControl) or, for a tooltip, created by the dialog.
#pragma once

#include <windows.h>

#include <cstddef>

#include "window.h"

namespace granulix::fw {

class Button : public Window {
public:
    // Shows a bitmap on the button; returns the one shown before.
    HBITMAP setBitmap(HBITMAP bitmap) const;
    // Check boxes and radio buttons: ticked or pressed.
    bool checked() const;
    void setChecked(bool checked) const;
};

class SliderControl : public Window {
public:
    void setRangeMin(int minimum, bool redraw) const;
    void setRangeMax(int maximum, bool redraw) const;
    int rangeMin() const;
    int rangeMax() const;
    int position() const;
    void setPosition(int position) const;
    void setRange(int minimum, int maximum, bool redraw) const;
};

// An up-down control; with a partner edit it writes its position there.
class SpinControl : public Window {
public:
    void setRange(int minimum, int maximum) const;
    int position() const;
    void setPosition(int position) const;
};

class EditControl : public Window {
public:
    // The number of characters outside the current selection.
    int unselectedLength() const;
};

// A control of a dialog and the string resource of its tip.
struct ToolTipRow {
    int control;
    UINT text;
};

class ToolTipControl : public Window {
public:
    ~ToolTipControl() override;
    // Creates the tooltip window as a popup owned by `owner`.
    bool create(const Window& owner, DWORD style = 0);
    void activate(bool active) const;
    // Registers a tool for a control window; its text is string resource
    // `textId` of the module.
    bool addTool(HWND control, UINT textId) const;
    // Creates the tooltip for `owner` as create() does, activates it and
    // registers a tool for every row whose control `owner` has. False, with
    // no tooltip, when the window could not be made.
    bool createWithTools(const Window& owner, const ToolTipRow* rows, std::size_t count);
    template <std::size_t N>
    bool createWithTools(const Window& owner, const ToolTipRow (&rows)[N]) {
        return createWithTools(owner, rows, N);
    }
    void relayEvent(MSG& message) const;
    int toolCount() const;
};

// A bitmap resource of the module, released with the object.
class Bitmap {
public:
    Bitmap() = default;
    ~Bitmap() { reset(); }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    bool load(UINT id);
    void reset();
    HBITMAP handle() const { return bitmap_; }

private:
    HBITMAP bitmap_ = nullptr;
};

}  // namespace granulix::fw
