// The Sources page: the "Parameter:" spinner selects which binding is
// shown, the other spinners and the check boxes store into that binding
// only, the texts are the page's own, and the map picture is drawn from
// the preview frames.
#include <cstring>
#include <ostream>
#include <tuple>

#include "pages_test_support.h"
#include "resource.h"
#include "source_map_picture.h"

namespace granulix {
namespace {

using testing::PagesTest;

struct Shown {
    std::string parameter, source, repeatX, repeatY, legend;
    bool invert, oddX, oddY;
    bool operator==(const Shown& o) const {
        return std::tie(parameter, source, repeatX, repeatY, legend, invert, oddX, oddY) ==
               std::tie(o.parameter, o.source, o.repeatX, o.repeatY, o.legend, o.invert, o.oddX,
                        o.oddY);
    }
};

std::ostream& operator<<(std::ostream& out, const Shown& s) {
    return out << s.parameter << " | " << s.source << " | " << s.repeatX << " x " << s.repeatY
               << " | " << s.legend << " | invert " << s.invert << " odd " << s.oddX << s.oddY;
}

Shown shownOn(HWND p) {
    return {PagesTest::textOn(p, IDC_SOURCES_PARAMETER_NAME),
            PagesTest::textOn(p, IDC_SOURCES_KIND_NAME),
            PagesTest::textOn(p, IDC_SOURCES_REPEAT_X),
            PagesTest::textOn(p, IDC_SOURCES_REPEAT_Y),
            PagesTest::textOn(p, IDC_SOURCES_LEGEND),
            PagesTest::tickedOn(p, IDC_SOURCES_INVERT),
            PagesTest::tickedOn(p, IDC_SOURCES_ODD_X),
            PagesTest::tickedOn(p, IDC_SOURCES_ODD_Y)};
}

TEST_F(PagesTest, TheParameterSpinnerShowsEachBindingAndStoresNothing) {
    const std::vector<uint8_t> before = block_;
    std::vector<Shown> shown;
    std::vector<int> renders;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND sources = page(sheet, "Sources");
        HWND parameter = GetDlgItem(sources, IDC_SOURCES_PARAMETER_SPIN);
        shown.push_back(shownOn(sources));
        previews();
        for (bool up : {true, true, true, false, false, false}) {
            clickSpin(parameter, up);
            shown.push_back(shownOn(sources));
            renders.push_back(previews());
        }
    });
    EXPECT_EQ(result, 1);
    const Shown movingX{"Moving X", "Diag 1", "1",  "1", "Black:Right White:Left",
                        false,      false,    false};
    const Shown movingY{"Moving Y", "Diag 2", "1",  "1", "Black: Up  White: Down",
                        false,      false,    false};
    const Shown delay{"Delay", "Diag 1 S", "2", "2", "Black:First White:Last", false, true, true};
    EXPECT_EQ(shown,
              (std::vector<Shown>{movingX, movingY, delay, delay, movingY, movingX, movingX}));
    // Every press re-renders, even where the spinner stands still.
    for (int r : renders) EXPECT_GE(r, 1);
    EXPECT_EQ(block_, before);
}

TEST_F(PagesTest, SpinnersAndBoxesStoreIntoTheSelectedBindingOnly) {
    changeSettings([](EffectSettings& s) {
        s.sourceBindings[0].kind = 13;
        s.sourceBindings[1].repeatY = 16;
    });
    const EffectSettings before = settings();
    std::vector<std::string> sourceNames, repeatYs;
    bool oddYShown = false;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND sources = page(sheet, "Sources");
        // Moving X: "Source:" from 13 upward stops at 14, "Black".
        for (int i = 0; i < 3; ++i) {
            clickSpin(GetDlgItem(sources, IDC_SOURCES_KIND_SPIN), true);
            sourceNames.push_back(textOn(sources, IDC_SOURCES_KIND_NAME));
        }
        clickSpin(GetDlgItem(sources, IDC_SOURCES_REPEAT_X_SPIN), true);
        click(sources, IDC_SOURCES_INVERT);
        // Moving Y: repeat Y stays at 16; "Odd" under Y is stored with the
        // other two boxes as they stand.
        clickSpin(GetDlgItem(sources, IDC_SOURCES_PARAMETER_SPIN), true);
        clickSpin(GetDlgItem(sources, IDC_SOURCES_REPEAT_Y_SPIN), true);
        repeatYs.push_back(textOn(sources, IDC_SOURCES_REPEAT_Y));
        previews();
        click(sources, IDC_SOURCES_ODD_Y);
        EXPECT_EQ(previews(), 1);
        oddYShown = tickedOn(sources, IDC_SOURCES_ODD_Y);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(sourceNames, (std::vector<std::string>{"Black", "Black", "Black"}));
    EXPECT_EQ(repeatYs, std::vector<std::string>{"16"});
    EXPECT_TRUE(oddYShown);
    EffectSettings expected = before;
    expected.sourceBindings[0].kind = 14;
    expected.sourceBindings[0].repeatX = 2;
    expected.sourceBindings[0].invert = 1;
    expected.sourceBindings[1].oddY = 1;
    const EffectSettings after = settings();
    EXPECT_EQ(std::memcmp(&after, &expected, kSettingsSize), 0);
    for (int i = 0; i < 3; ++i) {
        const SourceBinding &a = after.sourceBindings[i], &e = expected.sourceBindings[i];
        EXPECT_EQ((std::vector<int>{a.kind, a.invert, a.repeatX, a.repeatY, a.oddX, a.oddY}),
                  (std::vector<int>{e.kind, e.invert, e.repeatX, e.repeatY, e.oddX, e.oddY}))
            << "binding " << i;
    }
}

TEST_F(PagesTest, AKindBeyondTheNamesIsShownAsItsNumberAndKept) {
    changeSettings([](EffectSettings& s) {
        s.sourceBindings[0].kind = 15;
        s.sourceBindings[0].invert = 5;
        s.sourceBindings[1].kind = -3;
    });
    std::string kind0, kind1;
    bool invertShown = false;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND sources = page(sheet, "Sources");
        kind0 = textOn(sources, IDC_SOURCES_KIND_NAME);
        invertShown = tickedOn(sources, IDC_SOURCES_INVERT);
        clickSpin(GetDlgItem(sources, IDC_SOURCES_REPEAT_X_SPIN), true);
        clickSpin(GetDlgItem(sources, IDC_SOURCES_PARAMETER_SPIN), true);
        kind1 = textOn(sources, IDC_SOURCES_KIND_NAME);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(kind0, "15");
    EXPECT_EQ(kind1, "-3");
    EXPECT_TRUE(invertShown);
    // Stepping the repeat count keeps the kind that has no name.
    EXPECT_EQ(settings().sourceBindings[0].kind, 15);
    EXPECT_EQ(settings().sourceBindings[0].repeatX, 2);
    EXPECT_EQ(settings().sourceBindings[0].invert, 5);
}

TEST_F(PagesTest, TheMapPictureShowsTheSelectedBinding) {
    // "Black" with both flips and 4 x 4 repeats: a checkerboard of 16 tiles.
    changeSettings(
        [](EffectSettings& s) { s.sourceBindings[0] = SourceBinding{14, 0, 4, 4, 1, 1}; });
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    open([&](HWND, HWND sheet) {
        HWND sources = page(sheet, "Sources");
        settle();
        pixels = testhost::capture(GetDlgItem(sources, IDC_SOURCES_MAP_BOX), width, height);
    });
    ASSERT_FALSE(pixels.empty());
    const MapPlacement at = placeSourceMap(width, height);
    ASSERT_EQ(at.width, kSourceMapWidth) << "the test needs a box that shows the map unscaled";
    // Sample the middle of each tile: black and white alternate both ways.
    for (int ty = 0; ty < 4; ++ty)
        for (int tx = 0; tx < 4; ++tx) {
            const int x = at.left + tx * 32 + 16, y = at.top + ty * 24 + 12;
            const uint32_t p = pixels[std::size_t(y) * width + x] & 0xFFFFFF;
            EXPECT_TRUE(p == 0 || p == 0xFFFFFF) << std::hex << p << " at tile " << tx << "," << ty;
            if (tx < 3) {
                EXPECT_NE(p, pixels[std::size_t(y) * width + x + 32] & 0xFFFFFF) << tx << "," << ty;
            }
            if (ty < 3) {
                EXPECT_NE(p, pixels[std::size_t(y + 24) * width + x] & 0xFFFFFF) << tx << "," << ty;
            }
        }
}

}  // namespace
}  // namespace granulix
