// The parameter window as a whole: the pages reload from the settings on
// every activation and after a settings file is loaded, keep their state
// while the window is hidden, and what they wrote reaches the host only
// through OK.
#include <filesystem>
#include <random>

#include "pages_test_support.h"
#include "resource.h"
#include "settings_file.h"

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

TEST_F(PagesTest, ALoadedFileShowsAtOnceOnThePageOnDisplayAndOnTheNextOne) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("granulix-pages-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string file = (dir / "look.qlb").string();
    EffectSettings loaded = settings();
    loaded.delay = 11;
    loaded.maximumLife = 22;
    loaded.orderFlags = 3;
    loaded.speedVariance = 33;
    loaded.cellWidth = 44;
    ASSERT_EQ(saveSettingsFile(file, loaded), SettingsFileStatus::kOk);

    int delay = -1, maximum = -1, variance = -1;
    bool rightToLeft = false, downToUp = false;
    std::string width;
    const int32_t result = open([&](HWND dialog, HWND sheet) {
        HWND life = page(sheet, "Life");
        testhost::click(dialog, IDC_LOAD);
        HWND fileDialog = testing::waitForOwnedDialog(dialog);
        ASSERT_NE(fileDialog, nullptr);
        testing::answerFileDialog(fileDialog, file);
        EXPECT_TRUE(testhost::waitUntilGone(fileDialog, 10000));
        settle();
        // Shown at once, without a change of tab.
        delay = sliderPosition(life, IDC_LIFE_DELAY);
        maximum = sliderPosition(life, IDC_LIFE_MAXIMUM);
        rightToLeft = ticked(life, IDC_LIFE_RIGHT_LEFT);
        downToUp = ticked(life, IDC_LIFE_DOWN_UP);
        HWND movement = page(sheet, "Movement");
        variance = sliderPosition(movement, IDC_MOVEMENT_VARIANCE);
        width = textOn(movement, IDC_MOVEMENT_CELL_WIDTH);
    });
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(delay, 11);
    EXPECT_EQ(maximum, 22);
    EXPECT_TRUE(rightToLeft);
    EXPECT_TRUE(downToUp);
    EXPECT_EQ(variance, 33);
    EXPECT_EQ(width, "44");
    const EffectSettings after = settings();
    EXPECT_EQ(std::memcmp(&after, &loaded, kSettingsSize), 0);
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
