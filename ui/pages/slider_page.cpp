#include "slider_page.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

#include "settings_table.h"

namespace granulix {

SliderPage::SliderPage(UINT templateId, PageContext& context, Rows<const SliderBinding> sliders,
                       Rows<const FlagBinding> flags, Rows<const ToolTipBinding> otherToolTips)
    : ParameterPage(templateId, context),
      // The pages assert their tables fit; never index past the controls.
      sliders_(sliders.begin(), std::min(sliders.size(), kMaxSliders)),
      flags_(flags.begin(), std::min(flags.size(), kMaxFlags)) {
    for (const SliderBinding& row : sliders_)
        toolTips_[toolTipCount_++] = {row.slider, row.toolTip};
    for (std::size_t i = 0; i < std::min(otherToolTips.size(), kMaxOtherToolTips); ++i)
        toolTips_[toolTipCount_++] = otherToolTips[i];
}

const fw::MessageMap* SliderPage::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onHScroll<SliderPage, &SliderPage::onHScroll>(),
        fw::onControlCommand<SliderPage, &SliderPage::onBindingCommand>(),
    };
    static const fw::MessageMap map{fw::PropertyPage::messageMap(), entries, std::size(entries)};
    return &map;
}

void SliderPage::doDataExchange(fw::DataExchange& dx) {
    for (std::size_t i = 0; i < sliders_.size(); ++i)
        fw::exchangeControl(dx, sliders_[i].slider, sliderControls_[i]);
    for (std::size_t i = 0; i < flags_.size(); ++i)
        fw::exchangeControl(dx, flags_[i].checkBox, flagBoxes_[i]);
}

bool SliderPage::onInitDialog() {
    PropertyPage::onInitDialog();
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        const SettingsField& f = settingsField(sliders_[i].field);
        sliderControls_[i].setRange(f.minimum, f.maximum, false);
    }
    initOwnControls();
    LoadFromSettings();
    toolTip_.createWithTools(*this, toolTips_.data(), toolTipCount_);
    return true;
}

void SliderPage::LoadFromSettings() {
    const EffectSettings* settings = pageSettings();
    if (!settings || !handle()) return;
    for (std::size_t i = 0; i < sliders_.size(); ++i)
        sliderControls_[i].setPosition(settings->*sliders_[i].field);
    loadOwnControls();
    for (std::size_t i = 0; i < flags_.size(); ++i)
        flagBoxes_[i].setChecked((settings->*flags_[i].field & flags_[i].bit) != 0);
    if (writesMembersOnLoad()) updateData(false);
}

bool SliderPage::onSetActive() {
    LoadFromSettings();
    return PropertyPage::onSetActive();
}

bool SliderPage::preTranslateMessage(MSG& message) {
    toolTip_.relayEvent(message);
    return PropertyPage::preTranslateMessage(message);
}

void SliderPage::onHScroll(UINT code, UINT, HWND) {
    // The end of a drag shows nothing new: the tracking before it did.
    if (code != TB_THUMBPOSITION && code != TB_ENDTRACK) {
        if (EffectSettings* settings = pageSettings()) {
            for (std::size_t i = 0; i < sliders_.size(); ++i)
                settings->*sliders_[i].field = sliderControls_[i].position();
            refreshPreview();
        }
    }
    defaultHandling();
}

bool SliderPage::onBindingCommand(UINT id, UINT code, HWND) {
    if (code != BN_CLICKED) return false;
    EffectSettings* settings = pageSettings();
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        if (int(id) != sliders_[i].presetButton) continue;
        sliderControls_[i].setPosition(sliders_[i].preset);
        if (settings) {
            settings->*sliders_[i].field = sliders_[i].preset;
            refreshPreview();
        }
        return true;
    }
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        if (int(id) != flags_[i].checkBox) continue;
        if (settings) {
            int32_t& flags = settings->*flags_[i].field;
            flags = flagBoxes_[i].checked() ? (flags | flags_[i].bit) : (flags & ~flags_[i].bit);
            refreshPreview();
        }
        return true;
    }
    return false;
}

}  // namespace granulix
