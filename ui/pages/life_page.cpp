#include "life_page.h"

#include <iterator>

#include "resource.h"

namespace granulix {

namespace {

constexpr SliderBinding kSliders[] = {
    {IDC_LIFE_DELAY, "Delay", &EffectSettings::delay, IDC_LIFE_PRESET_D, 0, IDS_TIP_DELAY},
    {IDC_LIFE_NOISE, "Noise", &EffectSettings::delayNoise, IDC_LIFE_PRESET_N, 0,
     IDS_TIP_DELAY_NOISE},
    {IDC_LIFE_MINIMUM, "Minimum", &EffectSettings::minimumLife, IDC_LIFE_PRESET_M, 255,
     IDS_TIP_MINIMUM_LIFE},
    {IDC_LIFE_MAXIMUM, "Maximum", &EffectSettings::maximumLife, IDC_LIFE_PRESET_L, 255,
     IDS_TIP_MAXIMUM_LIFE},
};

constexpr ToolTipBinding kOrderToolTips[] = {
    {IDC_LIFE_LEFT_RIGHT, IDS_TIP_LEFT_RIGHT},
    {IDC_LIFE_RIGHT_LEFT, IDS_TIP_RIGHT_LEFT},
    {IDC_LIFE_UP_DOWN, IDS_TIP_UP_DOWN},
    {IDC_LIFE_DOWN_UP, IDS_TIP_DOWN_UP},
};

}  // namespace

// One radio pair: `clears` pressed clears `bit` of orderFlags, `sets`
// pressed sets it.
struct CMyPropertyPage3::OrderBinding {
    int clears;
    int sets;
    fw::Button CMyPropertyPage3::*clearButton;
    fw::Button CMyPropertyPage3::*setButton;
    int32_t bit;
};

const CMyPropertyPage3::OrderBinding CMyPropertyPage3::kOrder[2] = {
    {IDC_LIFE_UP_DOWN, IDC_LIFE_DOWN_UP, &CMyPropertyPage3::upToDown_, &CMyPropertyPage3::downToUp_,
     1},
    {IDC_LIFE_LEFT_RIGHT, IDC_LIFE_RIGHT_LEFT, &CMyPropertyPage3::leftToRight_,
     &CMyPropertyPage3::rightToLeft_, 2},
};

CMyPropertyPage3::CMyPropertyPage3(PageContext& context)
    : SliderPage(IDD_LIFE, context, kSliders, {}, kOrderToolTips) {
    static_assert(std::size(kSliders) <= kMaxSliders &&
                  std::size(kOrderToolTips) <= kMaxOtherToolTips);
}

const fw::MessageMap* CMyPropertyPage3::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onControlCommand<CMyPropertyPage3, &CMyPropertyPage3::onOrderCommand>(),
    };
    static const fw::MessageMap map{SliderPage::messageMap(), entries, std::size(entries)};
    return &map;
}

void CMyPropertyPage3::doDataExchange(fw::DataExchange& dx) {
    SliderPage::doDataExchange(dx);
    for (const OrderBinding& row : kOrder) {
        fw::exchangeControl(dx, row.clears, this->*row.clearButton);
        fw::exchangeControl(dx, row.sets, this->*row.setButton);
    }
}

void CMyPropertyPage3::loadOwnControls() {
    const EffectSettings* settings = pageSettings();
    if (!settings) return;
    // Both buttons of a pair are set, so each pair shows exactly one pressed.
    for (const OrderBinding& row : kOrder) {
        const bool set = (settings->orderFlags & row.bit) != 0;
        (this->*row.clearButton).setChecked(!set);
        (this->*row.setButton).setChecked(set);
    }
}

bool CMyPropertyPage3::onOrderCommand(UINT id, UINT code, HWND) {
    if (code != BN_CLICKED) return false;
    bool ours = false;
    for (const OrderBinding& row : kOrder)
        ours = ours || int(id) == row.clears || int(id) == row.sets;
    if (!ours) return false;
    if (EffectSettings* settings = pageSettings()) {
        for (const OrderBinding& row : kOrder) {
            if ((this->*row.clearButton).checked())
                settings->orderFlags &= ~row.bit;
            else
                settings->orderFlags |= row.bit;
        }
        refreshPreview();
    }
    return true;
}

}  // namespace granulix
