// The Movement, Nature and Life pages as their user sees them: sliders that
// store on every step and re-render once, letter buttons with their
// presets, check boxes on one flag bit each, the calculation-order radio
// pairs, and the tooltips.
#include <map>

#include "pages_test_support.h"
#include "resource.h"
#include "settings_table.h"

namespace granulix {
namespace {

using testing::PagesTest;

struct SliderRow {
    const char* page;
    int slider;
    int32_t EffectSettings::*field;
    int presetButton;
    int32_t preset;
    const char* toolTip;
};

const SliderRow kSliders[] = {
    {"Movement", IDC_MOVEMENT_VARIANCE, &EffectSettings::speedVariance, IDC_MOVEMENT_PRESET_V, 16,
     "Variance of pixel speed"},
    {"Movement", IDC_MOVEMENT_NOISE, &EffectSettings::speedNoise, IDC_MOVEMENT_PRESET_N, 4,
     "Add random component"},
    {"Movement", IDC_MOVEMENT_XY_BALANCE, &EffectSettings::xyBalance, IDC_MOVEMENT_PRESET_C, 127,
     "Horisontal and vertical speed difference"},
    {"Movement", IDC_MOVEMENT_CENTER_X, &EffectSettings::centerX, IDC_MOVEMENT_PRESET_X, 127,
     "X Direction"},
    {"Movement", IDC_MOVEMENT_CENTER_Y, &EffectSettings::centerY, IDC_MOVEMENT_PRESET_Y, 127,
     "Y Direction"},
    {"Nature", IDC_NATURE_MINIMUM, &EffectSettings::minimumSpeed, IDC_NATURE_PRESET_M, 8,
     "Minimal pixel speed"},
    {"Nature", IDC_NATURE_TIMELINE, &EffectSettings::timeline, IDC_NATURE_PRESET_TIMELINE_G, 127,
     "Linearity of timeline"},
    {"Nature", IDC_NATURE_GRAVITY, &EffectSettings::gravity, IDC_NATURE_PRESET_GRAVITY_G, 0,
     "Simulate gravity"},
    {"Nature", IDC_NATURE_WIND, &EffectSettings::wind, IDC_NATURE_PRESET_W, 128, "Simulate wind"},
    {"Life", IDC_LIFE_DELAY, &EffectSettings::delay, IDC_LIFE_PRESET_D, 0, "Delay from start"},
    {"Life", IDC_LIFE_NOISE, &EffectSettings::delayNoise, IDC_LIFE_PRESET_N, 0,
     "Add random component"},
    {"Life", IDC_LIFE_MINIMUM, &EffectSettings::minimumLife, IDC_LIFE_PRESET_M, 255,
     "Minimal pixel life"},
    {"Life", IDC_LIFE_MAXIMUM, &EffectSettings::maximumLife, IDC_LIFE_PRESET_L, 255,
     "Maximal pixel life"},
};

// Every slider field starts at a value of its own, away from presets and ends.
void distinctSliderValues(EffectSettings& s) {
    int32_t v = 40;
    for (const SliderRow& row : kSliders) s.*row.field = v++;
}

TEST_F(PagesTest, PagesOpenWithTheHostsValues) {
    changeSettings(distinctSliderValues);
    std::map<int, int> shown;  // index into kSliders -> slider position
    std::string firstTab;
    open([&](HWND, HWND sheet) {
        firstTab = testhost::textOf(testhost::currentPage(sheet));
        for (std::size_t i = 0; i < std::size(kSliders); ++i) {
            HWND p = page(sheet, kSliders[i].page);
            shown[int(i)] = sliderPosition(p, kSliders[i].slider);
        }
    });
    EXPECT_EQ(firstTab, "Movement");
    const EffectSettings s = settings();
    for (std::size_t i = 0; i < std::size(kSliders); ++i)
        EXPECT_EQ(shown[int(i)], s.*kSliders[i].field) << kSliders[i].toolTip;
}

TEST_F(PagesTest, EveryKeyboardStepStoresAndRendersOnce) {
    changeSettings(distinctSliderValues);
    const EffectSettings before = settings();
    std::vector<int> rendersPerStep, positions;
    const int32_t result = open([&](HWND, HWND sheet) {
        previews();
        for (const SliderRow& row : kSliders) {
            HWND slider = GetDlgItem(page(sheet, row.page), row.slider);
            previews();
            for (UINT k : {VK_RIGHT, VK_NEXT, VK_LEFT, VK_END}) {
                key(slider, k);
                rendersPerStep.push_back(previews());
                positions.push_back(int(SendMessageA(slider, TBM_GETPOS, 0, 0)));
            }
        }
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(rendersPerStep, std::vector<int>(4 * std::size(kSliders), 1));
    const EffectSettings after = settings();
    for (std::size_t i = 0; i < std::size(kSliders); ++i) {
        const SliderRow& row = kSliders[i];
        const int start = before.*row.field;
        EXPECT_EQ(positions[4 * i], start + 1) << row.toolTip;
        EXPECT_GT(positions[4 * i + 1], start + 1) << row.toolTip;
        EXPECT_EQ(positions[4 * i + 2], positions[4 * i + 1] - 1) << row.toolTip;
        // End goes to the top of the range: 256 for the centres, else 255.
        const int32_t maximum = settingsField(row.field).maximum;
        EXPECT_EQ(positions[4 * i + 3], maximum) << row.toolTip;
        EXPECT_EQ(after.*row.field, maximum) << row.toolTip;
    }
}

// The pages' half of the agreement with the settings table (the command
// line's half is in tests/cli/settings_fields_test.cpp): every slider and
// spin spans exactly its field's range, and the boxes and radio pairs of a
// flags field, all set from 0, reach exactly its maximum.
TEST_F(PagesTest, EveryControlSpansExactlyTheTablesRange) {
    struct Control {
        const char* page;
        int id;
        bool spin;
        const SettingsField* field;
    };
    std::vector<Control> controls;
    for (const SliderRow& row : kSliders)
        controls.push_back({row.page, row.slider, false, &settingsField(row.field)});
    controls.push_back({"Movement", IDC_MOVEMENT_CELL_WIDTH_SPIN, true,
                        &settingsField(&EffectSettings::cellWidth)});
    controls.push_back({"Movement", IDC_MOVEMENT_CELL_HEIGHT_SPIN, true,
                        &settingsField(&EffectSettings::cellHeight)});
    for (int b = 0; b < kBindingCount; ++b) {
        controls.push_back(
            {"Sources", IDC_SOURCES_KIND_SPIN, true, &bindingField(b, &SourceBinding::kind)});
        controls.push_back({"Sources", IDC_SOURCES_REPEAT_X_SPIN, true,
                            &bindingField(b, &SourceBinding::repeatX)});
        controls.push_back({"Sources", IDC_SOURCES_REPEAT_Y_SPIN, true,
                            &bindingField(b, &SourceBinding::repeatY)});
    }
    changeSettings([](EffectSettings& s) {
        s.cellFlags = s.holdFlags = s.orderFlags = 0;
        for (SourceBinding& b : s.sourceBindings) b.invert = b.oddX = b.oddY = 0;
    });
    std::vector<std::pair<int, int>> spans;
    const int32_t result = open([&](HWND, HWND sheet) {
        for (const Control& c : controls) {
            HWND w = GetDlgItem(page(sheet, c.page), c.id);
            int lo = -1, hi = -1;
            if (c.spin) {
                SendMessageA(w, UDM_GETRANGE32, WPARAM(&lo), LPARAM(&hi));
            } else {
                lo = int(SendMessageA(w, TBM_GETRANGEMIN, 0, 0));
                hi = int(SendMessageA(w, TBM_GETRANGEMAX, 0, 0));
            }
            spans.emplace_back(lo, hi);
        }
        click(page(sheet, "Movement"), IDC_MOVEMENT_BANDS);
        for (int id : {IDC_NATURE_CLIP1, IDC_NATURE_CLIP2}) click(page(sheet, "Nature"), id);
        for (int id : {IDC_LIFE_RIGHT_LEFT, IDC_LIFE_DOWN_UP}) click(page(sheet, "Life"), id);
        HWND sources = page(sheet, "Sources");
        for (int b = 0; b < kBindingCount; ++b) {
            for (int id : {IDC_SOURCES_INVERT, IDC_SOURCES_ODD_X, IDC_SOURCES_ODD_Y})
                click(sources, id);
            clickSpin(GetDlgItem(sources, IDC_SOURCES_PARAMETER_SPIN), true);
        }
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(spans.size(), controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(spans[i],
                  std::make_pair(int(controls[i].field->minimum), int(controls[i].field->maximum)))
            << controls[i].field->name;
    }
    const EffectSettings s = settings();
    std::vector<const SettingsField*> flags = {&settingsField(&EffectSettings::cellFlags),
                                               &settingsField(&EffectSettings::holdFlags),
                                               &settingsField(&EffectSettings::orderFlags)};
    for (int b = 0; b < kBindingCount; ++b)
        for (int32_t SourceBinding::*m :
             {&SourceBinding::invert, &SourceBinding::oddX, &SourceBinding::oddY})
            flags.push_back(&bindingField(b, m));
    for (const SettingsField* f : flags) {
        EXPECT_EQ(f->minimum, 0) << f->name;
        EXPECT_EQ(fieldValue(s, *f), f->maximum) << f->name;
    }
}

TEST_F(PagesTest, ADragStoresEverySliderOfThePageAndItsEndRendersNothing) {
    const int32_t result = open([&](HWND dialog, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        previews();
        // Noise is moved without telling the page; the drag of Variance
        // reads it all the same.
        SendMessageA(GetDlgItem(movement, IDC_MOVEMENT_NOISE), TBM_SETPOS, TRUE, 99);
        testhost::scrollTo(movement, IDC_MOVEMENT_VARIANCE, 200, TB_THUMBTRACK);
        EXPECT_EQ(previews(), 1);
        testhost::scrollTo(movement, IDC_MOVEMENT_VARIANCE, 201, TB_THUMBPOSITION);
        testhost::scrollTo(movement, IDC_MOVEMENT_VARIANCE, 202, TB_ENDTRACK);
        EXPECT_EQ(previews(), 0);

        HWND nature = page(sheet, "Nature");
        previews();
        SendMessageA(GetDlgItem(nature, IDC_NATURE_WIND), TBM_SETPOS, TRUE, 3);
        testhost::scrollTo(nature, IDC_NATURE_GRAVITY, 77, TB_THUMBTRACK);
        EXPECT_EQ(previews(), 1);
        (void)dialog;
    });
    EXPECT_EQ(result, 1);
    const EffectSettings s = settings();
    EXPECT_EQ(s.speedVariance, 200);  // the end of the drag stored nothing
    EXPECT_EQ(s.speedNoise, 99);
    EXPECT_EQ(s.gravity, 77);
    EXPECT_EQ(s.wind, 3);
}

TEST_F(PagesTest, LetterButtonsSetTheirPresetsNotTheDefaults) {
    changeSettings(distinctSliderValues);
    std::vector<int> renders, positions;
    const int32_t result = open([&](HWND, HWND sheet) {
        for (const SliderRow& row : kSliders) {
            HWND p = page(sheet, row.page);
            previews();
            click(p, row.presetButton);
            renders.push_back(previews());
            positions.push_back(sliderPosition(p, row.slider));
        }
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(renders, std::vector<int>(std::size(kSliders), 1));
    const EffectSettings s = settings();
    for (std::size_t i = 0; i < std::size(kSliders); ++i) {
        EXPECT_EQ(positions[i], kSliders[i].preset) << kSliders[i].toolTip;
        EXPECT_EQ(s.*kSliders[i].field, kSliders[i].preset) << kSliders[i].toolTip;
    }
}

TEST_F(PagesTest, CheckBoxesChangeOnlyTheirOwnBit) {
    changeSettings([](EffectSettings& s) {
        s.cellFlags = 0x55;  // "Bands" set, other bits too
        s.holdFlags = 0x3F;  // both "Hold" bits set, other bits too
    });
    bool bandsShown = false, clip1Shown = false, clip2Shown = false;
    std::vector<int> renders;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        bandsShown = ticked(movement, IDC_MOVEMENT_BANDS);
        previews();
        click(movement, IDC_MOVEMENT_BANDS);
        renders.push_back(previews());
        HWND nature = page(sheet, "Nature");
        clip1Shown = ticked(nature, IDC_NATURE_CLIP1);
        clip2Shown = ticked(nature, IDC_NATURE_CLIP2);
        previews();
        click(nature, IDC_NATURE_CLIP1);
        renders.push_back(previews());
        click(nature, IDC_NATURE_CLIP2);
        click(nature, IDC_NATURE_CLIP2);
        click(nature, IDC_NATURE_CLIP2);
        renders.push_back(previews());
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(bandsShown && clip1Shown && clip2Shown);
    EXPECT_EQ(renders, (std::vector<int>{1, 1, 3}));
    EXPECT_EQ(settings().cellFlags, 0x54);
    EXPECT_EQ(settings().holdFlags, 0x3C);
}

// The order pairs over three dialogs, each starting from what the one
// before committed: R->L, then D->U, then L->R.
TEST_F(PagesTest, OrderPairsSetOneBitEachAndShowTheStoredOrder) {
    changeSettings([](EffectSettings& s) { s.orderFlags = 0x10; });
    struct Step {
        int press;
        int32_t expected;
    };
    const Step steps[] = {
        {IDC_LIFE_RIGHT_LEFT, 0x12}, {IDC_LIFE_DOWN_UP, 0x13}, {IDC_LIFE_LEFT_RIGHT, 0x11}};
    int32_t stored = settings().orderFlags;
    for (const Step& step : steps) {
        std::map<int, bool> pressedAtStart;
        int renders = -1;
        const int32_t result = open([&](HWND, HWND sheet) {
            HWND life = page(sheet, "Life");
            for (int id :
                 {IDC_LIFE_LEFT_RIGHT, IDC_LIFE_RIGHT_LEFT, IDC_LIFE_UP_DOWN, IDC_LIFE_DOWN_UP})
                pressedAtStart[id] = ticked(life, id);
            previews();
            click(life, step.press);
            click(life, step.press);  // pressed again: same value, one more render
            renders = previews();
        });
        EXPECT_EQ(result, 1);
        EXPECT_EQ(renders, 2);
        EXPECT_EQ(pressedAtStart[IDC_LIFE_RIGHT_LEFT], (stored & 2) != 0) << step.press;
        EXPECT_EQ(pressedAtStart[IDC_LIFE_LEFT_RIGHT], (stored & 2) == 0) << step.press;
        EXPECT_EQ(pressedAtStart[IDC_LIFE_DOWN_UP], (stored & 1) != 0) << step.press;
        EXPECT_EQ(pressedAtStart[IDC_LIFE_UP_DOWN], (stored & 1) == 0) << step.press;
        stored = settings().orderFlags;
        EXPECT_EQ(stored, step.expected) << step.press;
    }
}

// Collects the tooltip windows among a thread's windows. A named callback:
// in 32-bit builds a lambda does not convert to the callback's calling
// convention.
BOOL CALLBACK collectToolTips(HWND w, LPARAM data) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    if (std::string(name) == TOOLTIPS_CLASSA)
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(w);
    return TRUE;
}

// The tools of the tooltips whose controls sit on `page`: id -> text.
std::map<int, std::string> toolTipsOf(HWND page) {
    std::map<int, std::string> tips;
    std::vector<HWND> tooltips;
    EnumThreadWindows(GetWindowThreadProcessId(page, nullptr), collectToolTips,
                      reinterpret_cast<LPARAM>(&tooltips));
    for (HWND tooltip : tooltips) {
        const int count = int(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            TOOLINFOA tool{};
            tool.cbSize = TTTOOLINFOA_V2_SIZE;
            if (!SendMessageA(tooltip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&tool)))
                continue;
            HWND control = reinterpret_cast<HWND>(tool.uId);
            if (GetParent(control) != page) continue;
            char text[256] = {};
            tool.lpszText = text;
            SendMessageA(tooltip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
            tips[GetDlgCtrlID(control)] = text;
        }
    }
    return tips;
}

TEST_F(PagesTest, SlidersAndOrderButtonsHaveTheirToolTips) {
    std::map<std::string, std::map<int, std::string>> tips;
    open([&](HWND, HWND sheet) {
        for (const char* caption : {"Movement", "Nature", "Life", "Sources"})
            tips[caption] = toolTipsOf(page(sheet, caption));
    });
    std::map<std::string, std::map<int, std::string>> expected;
    for (const SliderRow& row : kSliders) expected[row.page][row.slider] = row.toolTip;
    expected["Life"][IDC_LIFE_LEFT_RIGHT] = "Left to right calculation order";
    expected["Life"][IDC_LIFE_RIGHT_LEFT] = "Right to left calculation order";
    expected["Life"][IDC_LIFE_UP_DOWN] = "Up to down calculation order";
    expected["Life"][IDC_LIFE_DOWN_UP] = "Down to up calculation order";
    expected["Sources"];  // no tooltips there
    EXPECT_EQ(tips, expected);
}

}  // namespace
}  // namespace granulix
