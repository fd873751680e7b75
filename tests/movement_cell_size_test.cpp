// The cell-size edits of the Movement page: typed numbers are stored at
// once and clamped to 1..4096, an emptied edit stores nothing until it is
// left and then gets its number back, the spins stop at their ends, text
// that is no integer keeps the page from being left, and every size of the
// range shows whole in its edit.
#include <algorithm>

#include "pages_test_support.h"
#include "resource.h"

namespace granulix {
namespace {

using testing::PagesTest;

TEST_F(PagesTest, TypedCellSizesAreClampedAndStoredAtOnce) {
    std::vector<std::string> shown;
    std::vector<int> renders;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        HWND width = GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH);
        HWND height = GetDlgItem(movement, IDC_MOVEMENT_CELL_HEIGHT);
        focus(movement, width);
        previews();
        type(width, "0");
        shown.push_back(testhost::textOf(width));
        renders.push_back(previews());
        focus(movement, height);
        type(height, "5000");
        shown.push_back(testhost::textOf(height));
        renders.push_back(previews());  // 5, 50, 500, 5000 -> 4096
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(shown, (std::vector<std::string>{"1", "4096"}));
    EXPECT_EQ(renders, (std::vector<int>{1, 4}));
    EXPECT_EQ(settings().cellWidth, 1);
    EXPECT_EQ(settings().cellHeight, 4096);
}

// Only a settings file brings sizes outside 1..4096: they are shown and
// kept at the nearest end, not cut to their low 16 bits (65537 is not 1).
TEST_F(PagesTest, CellSizesFromOutsideTheRangeAreShownAtItsEnds) {
    changeSettings([](EffectSettings& s) {
        s.cellWidth = 65537;
        s.cellHeight = -3;
    });
    std::string width, height;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        width = testhost::textOf(GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH));
        height = testhost::textOf(GetDlgItem(movement, IDC_MOVEMENT_CELL_HEIGHT));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(width, "4096");
    EXPECT_EQ(height, "1");
    EXPECT_EQ(settings().cellWidth, 4096);
    EXPECT_EQ(settings().cellHeight, 1);
}

TEST_F(PagesTest, AnEmptiedCellSizeStoresNothingAndComesBackWhenLeft) {
    changeSettings([](EffectSettings& s) { s.cellWidth = 37; });
    std::string whileEmpty = "?", afterLeaving;
    int rendersWhileEmpty = -1;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        HWND width = GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH);
        focus(movement, width);
        previews();
        type(width, "\b");
        whileEmpty = testhost::textOf(width);
        rendersWhileEmpty = previews();
        focus(movement, GetDlgItem(movement, IDC_MOVEMENT_CELL_HEIGHT));
        afterLeaving = testhost::textOf(width);
        EXPECT_EQ(previews(), 0);  // leaving stores without a new preview
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(whileEmpty, "");
    EXPECT_EQ(rendersWhileEmpty, 0);
    EXPECT_EQ(afterLeaving, "37");
    EXPECT_EQ(settings().cellWidth, 37);
}

TEST_F(PagesTest, CellSizeSpinsStepStoreAndStopAtTheirEnds) {
    changeSettings([](EffectSettings& s) {
        s.cellWidth = 2;
        s.cellHeight = 4095;
    });
    std::vector<std::string> widths, heights;
    std::vector<int> renders;
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        HWND width = GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH);
        HWND height = GetDlgItem(movement, IDC_MOVEMENT_CELL_HEIGHT);
        previews();
        for (int i = 0; i < 3; ++i) {
            key(width, VK_DOWN);
            widths.push_back(testhost::textOf(width));
            renders.push_back(previews());
        }
        for (int i = 0; i < 2; ++i) {
            key(height, VK_UP);
            heights.push_back(testhost::textOf(height));
        }
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(widths, (std::vector<std::string>{"1", "1", "1"}));
    EXPECT_EQ(renders[0], 1);
    EXPECT_EQ(heights, (std::vector<std::string>{"4096", "4096"}));
    EXPECT_EQ(settings().cellWidth, 1);
    EXPECT_EQ(settings().cellHeight, 4096);
}

// Each edit keeps the size its template gives it, with its spin beside it
// rather than inside it, and the widest number of 1..4096 in the edit's own
// font fits the edit's text rectangle.
TEST_F(PagesTest, EveryCellSizeShowsWholeBesideItsSpin) {
    changeSettings([](EffectSettings& s) { s.cellWidth = s.cellHeight = 4096; });
    struct Layout {
        int edit, spin;
        std::string text;
        int widest = 0, room = 0, templateWidth = 0;
        RECT editBox{}, spinBox{};
    };
    Layout layouts[] = {{IDC_MOVEMENT_CELL_WIDTH, IDC_MOVEMENT_CELL_WIDTH_SPIN, {}},
                        {IDC_MOVEMENT_CELL_HEIGHT, IDC_MOVEMENT_CELL_HEIGHT_SPIN, {}}};
    const int32_t result = open([&](HWND, HWND sheet) {
        HWND movement = page(sheet, "Movement");
        RECT templateBox{0, 0, 28, 12};  // the edits' width in dialog units
        MapDialogRect(movement, &templateBox);
        for (Layout& l : layouts) {
            HWND edit = GetDlgItem(movement, l.edit);
            l.text = testhost::textOf(edit);
            l.templateWidth = templateBox.right;
            RECT text{};
            SendMessageA(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
            l.room = text.right - text.left;
            HDC dc = GetDC(edit);
            const auto font = reinterpret_cast<HFONT>(SendMessageA(edit, WM_GETFONT, 0, 0));
            HGDIOBJ before = SelectObject(dc, font);
            for (int size = 1; size <= 4096; ++size) {
                const std::string digits = std::to_string(size);
                SIZE extent{};
                GetTextExtentPoint32A(dc, digits.c_str(), int(digits.size()), &extent);
                l.widest = std::max(l.widest, int(extent.cx));
            }
            SelectObject(dc, before);
            ReleaseDC(edit, dc);
            GetWindowRect(edit, &l.editBox);
            GetWindowRect(GetDlgItem(movement, l.spin), &l.spinBox);
        }
    });
    EXPECT_EQ(result, 1);
    for (const Layout& l : layouts) {
        EXPECT_EQ(l.text, "4096") << l.edit;
        EXPECT_EQ(l.editBox.right - l.editBox.left, l.templateWidth) << l.edit;
        EXPECT_GE(l.spinBox.left, l.editBox.right) << "spin over edit " << l.edit;
        EXPECT_GT(l.widest, 0) << l.edit;
        EXPECT_LE(l.widest, l.room) << "edit " << l.edit << " shows " << l.room
                                    << " pixels of text, 4 digits need " << l.widest;
    }
}

TEST_F(PagesTest, TextThatIsNoIntegerIsRefusedAndKeepsTheTab) {
    changeSettings([](EffectSettings& s) { s.cellWidth = 9; });
    std::vector<std::string> onPaste, onLeaving;
    std::string tabAfter;
    DWORD selection = 0;
    const int32_t result = open([&](HWND dialog, HWND sheet) {
        const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        HWND movement = page(sheet, "Movement");
        HWND width = GetDlgItem(movement, IDC_MOVEMENT_CELL_WIDTH);
        // Pasted text goes past the edit's digits-only filter.
        onPaste = testing::messagesFrom(
            thread, [&] { SendMessageA(width, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("4x")); });
        // The refusal selected the whole text; the user clicks behind it
        // (a wholly selected edit counts as empty and is restored).
        SendMessageA(width, EM_SETSEL, 2, 2);
        onLeaving = testing::messagesFrom(thread, [&] { testhost::selectPage(sheet, 1); });
        settle();
        tabAfter = testhost::textOf(testhost::currentPage(sheet));
        selection = DWORD(SendMessageA(width, EM_GETSEL, 0, 0));
        // Mended, the page lets go.
        SendMessageA(width, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("12"));
        EXPECT_TRUE(testhost::selectPage(sheet, 1));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(onPaste, std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(onLeaving, std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(tabAfter, "Movement");
    EXPECT_EQ(LOWORD(selection), 0);  // the whole text selected
    EXPECT_EQ(HIWORD(selection), 2);
    EXPECT_EQ(settings().cellWidth, 12);
}

}  // namespace
}  // namespace granulix
