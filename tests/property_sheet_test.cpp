// The parameter window as a whole: the pages reload from the settings on
// every activation, keep their state while the window is hidden, and what
// they wrote reaches the host only through OK.
#include "pages_test_support.h"
#include "resource.h"

namespace granulix {
namespace {

using testing::PagesTest;

TEST_F(PagesTest, EveryActivationReloadsThePageFromTheSettings) {
    int beforeSwitch = -1, afterSwitch = -1, lifeAgain = -1;
    std::string widthAgain;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        click(movement, IDC_MOVEMENT_PRESET_V);  // stores 16
        // The end of a drag moves the thumb and stores nothing.
        testhost::scrollTo(movement, IDC_MOVEMENT_VARIANCE, 200, TB_THUMBPOSITION);
        beforeSwitch = sliderPosition(movement, IDC_MOVEMENT_VARIANCE);
        SendMessageA(GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>("7"));
        HWND life = page(sheet, "Life");
        click(life, IDC_LIFE_PRESET_D);
        SendMessageA(GetDlgItem(life, IDC_LIFE_DELAY), TBM_SETPOS, TRUE, 99);
        movement = page(sheet, "Movement");
        afterSwitch = sliderPosition(movement, IDC_MOVEMENT_VARIANCE);
        widthAgain = textOn(movement, IDC_MOVEMENT_CELL_WIDTH);
        life = page(sheet, "Life");
        lifeAgain = sliderPosition(life, IDC_LIFE_DELAY);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(beforeSwitch, 200);
    EXPECT_EQ(afterSwitch, 16);
    EXPECT_EQ(widthAgain, "7");
    EXPECT_EQ(lifeAgain, 0);
    EXPECT_EQ(settings().speedVariance, 16);
    EXPECT_EQ(settings().cellWidth, 7);
    EXPECT_EQ(settings().delay, 0);
}

TEST_F(PagesTest, AHiddenParameterWindowKeepsItsPages) {
    bool hidden = false, back = false;
    std::string parameterAfter, tabAfter;
    open([&](HWND dialog, HWND sheet) {
        HWND sources = page(sheet, "Sources");
        clickSpin(GetDlgItem(sources, IDC_SOURCES_PARAMETER_SPIN), true);
        HWND frame = GetParent(sheet);
        PostMessageA(frame, WM_CLOSE, 0, 0);
        settle();
        hidden = IsWindow(frame) && !IsWindowVisible(frame);
        RECT d{};
        GetWindowRect(dialog, &d);
        SetWindowPos(dialog, nullptr, d.left + 9, d.top + 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        settle();
        back = IsWindowVisible(frame) != FALSE;
        tabAfter = testhost::textOf(testhost::currentPage(sheet));
        parameterAfter = textOn(sources, IDC_SOURCES_PARAMETER_NAME);
    });
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(back);
    EXPECT_EQ(tabAfter, "Sources");
    EXPECT_EQ(parameterAfter, "Moving Y");
}

TEST_F(PagesTest, CancelAfterEditsOnEveryPageLeavesTheHostBlockAlone) {
    const std::vector<uint8_t> before = block_;
    const int32_t result = open(
        [&](HWND, HWND sheet) {
            HWND movement = page(sheet, "Movement");
            click(movement, IDC_MOVEMENT_PRESET_V);
            click(movement, IDC_MOVEMENT_BANDS);
            key(GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH), VK_UP);
            HWND nature = page(sheet, "Nature");
            click(nature, IDC_NATURE_PRESET_M);
            click(nature, IDC_NATURE_CLIP1);
            HWND life = page(sheet, "Life");
            click(life, IDC_LIFE_RIGHT_LEFT);
            key(GetDlgItem(life, IDC_LIFE_NOISE), VK_END);
            HWND sources = page(sheet, "Sources");
            click(sources, IDC_SOURCES_INVERT);
            clickSpin(GetDlgItem(sources, IDC_SOURCES_KIND_SPIN), true);
        },
        IDCANCEL);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(block_, before);
}

}  // namespace
}  // namespace granulix
