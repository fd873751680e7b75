// The binding pattern that the Movement, Nature and Life pages share:
// sliders bound one to one to fields of the settings, a letter button
// beside each slider that sets it to a preset, check boxes bound to one bit
// of a flags field, and a tooltip per slider. A page describes its bindings
// in tables; SliderPage walks them.
//
// Every change is stored in the settings at once and then re-renders the
// preview. Each activation reloads the page from the settings.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>

#include "controls.h"
#include "effect_settings.h"
#include "page_context.h"

namespace granulix {

// One slider: its position is the field's value, unscaled, over the range
// the settings table gives the field.
struct SliderBinding {
    int slider;
    const char* label;  // the text beside it on the page, to read the table by
    int32_t EffectSettings::*field;
    int presetButton;  // the letter button beside it
    int32_t preset;
    UINT toolTip;  // string resource
};

// One check box: ticked sets `bit` of the field, unticked clears it; the
// other bits stay as they are.
struct FlagBinding {
    int checkBox;
    int32_t EffectSettings::*field;
    int32_t bit;
};

// A tooltip for a control that is not a slider.
using ToolTipBinding = fw::ToolTipRow;

// A page's table of bindings: a fixed array, or none.
template <class Row>
class Rows {
public:
    constexpr Rows() = default;
    template <std::size_t N>
    constexpr Rows(const Row (&rows)[N]) : rows_(rows), count_(N) {}
    constexpr Rows(const Row* rows, std::size_t count) : rows_(rows), count_(count) {}

    const Row* begin() const { return rows_; }
    const Row* end() const { return rows_ + count_; }
    std::size_t size() const { return count_; }
    const Row& operator[](std::size_t i) const { return rows_[i]; }

private:
    const Row* rows_ = nullptr;
    std::size_t count_ = 0;
};

class SliderPage : public ParameterPage {
public:
    // Sets every control of the page from the settings.
    virtual void LoadFromSettings();

protected:
    static constexpr std::size_t kMaxSliders = 5;
    static constexpr std::size_t kMaxFlags = 2;
    static constexpr std::size_t kMaxOtherToolTips = 4;

    SliderPage(UINT templateId, PageContext& context, Rows<const SliderBinding> sliders,
               Rows<const FlagBinding> flags, Rows<const ToolTipBinding> otherToolTips);

    void doDataExchange(fw::DataExchange& dx) override;
    bool onInitDialog() override;
    bool onSetActive() override;
    // Every message passes the tooltip first.
    bool preTranslateMessage(MSG& message) override;
    const fw::MessageMap* messageMap() const override;

    // The page's own controls: their ranges, set after the sliders' ones at
    // initialisation, and their values, set after the sliders' ones.
    virtual void initOwnControls() {}
    virtual void loadOwnControls() {}
    // Whether LoadFromSettings ends by writing the bound members.
    virtual bool writesMembersOnLoad() const { return true; }

private:
    void onHScroll(UINT code, UINT position, HWND bar);
    bool onBindingCommand(UINT id, UINT code, HWND control);

    Rows<const SliderBinding> sliders_;
    Rows<const FlagBinding> flags_;
    // The sliders' tips, then the others.
    std::array<fw::ToolTipRow, kMaxSliders + kMaxOtherToolTips> toolTips_{};
    std::size_t toolTipCount_ = 0;
    std::array<fw::SliderControl, kMaxSliders> sliderControls_;
    std::array<fw::Button, kMaxFlags> flagBoxes_;
    fw::ToolTipControl toolTip_;
};

}  // namespace granulix
