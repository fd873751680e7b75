#include "nature_page.h"

#include <iterator>

#include "resource.h"

namespace granulix {

namespace {

// In the order the page sets, loads and reads them.
constexpr SliderBinding kSliders[] = {
    {IDC_NATURE_GRAVITY, "Gravity", &EffectSettings::gravity, IDC_NATURE_PRESET_GRAVITY_G, 0,
     IDS_TIP_GRAVITY},
    {IDC_NATURE_WIND, "Wind", &EffectSettings::wind, IDC_NATURE_PRESET_W, 128, IDS_TIP_WIND},
    {IDC_NATURE_MINIMUM, "Minimum", &EffectSettings::minimumSpeed, IDC_NATURE_PRESET_M, 8,
     IDS_TIP_MINIMUM_SPEED},
    {IDC_NATURE_TIMELINE, "Timeline", &EffectSettings::timeline, IDC_NATURE_PRESET_TIMELINE_G, 127,
     IDS_TIP_TIMELINE},
};

constexpr FlagBinding kFlags[] = {
    {IDC_NATURE_CLIP1, &EffectSettings::holdFlags, 1},
    {IDC_NATURE_CLIP2, &EffectSettings::holdFlags, 2},
};

}  // namespace

CMyPropertyPage2::CMyPropertyPage2(PageContext& context)
    : SliderPage(IDD_NATURE, context, kSliders, kFlags, {}) {
    static_assert(std::size(kSliders) <= kMaxSliders && std::size(kFlags) <= kMaxFlags);
}

}  // namespace granulix
