// Shared pieces of the parameter page tests: the setup dialog opened
// through the module with a settings block the test chose, the pages found
// through the parameter window's sheet, and the user's gestures on them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dialog_test_support.h"
#include "effect_settings.h"
#include "frame_server.h"

namespace granulix::testing {

inline testhost::LoadedModule& pagesModule() {
    static testhost::LoadedModule module(testhost::programFolder() + "granulix.vfx");
    return module;
}

// Offers a fixture for dialogs on a host block that the test edits first.
class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        GRANULIX_NEED_DISPLAY();
        host_ = std::make_unique<testhost::HostWindow>("Test host", 0, 0, 1000, 700);
        block_.assign(kSettingsSize, 0);
        for (std::size_t i = 0; i < block_.size(); ++i) block_[i] = uint8_t(i * 7 + 3);
        pagesModule().getDefault(block_.data());
    }

    EffectSettings settings() const {
        EffectSettings s;
        std::memcpy(&s, block_.data(), kSettingsSize);
        return s;
    }
    void changeSettings(const std::function<void(EffectSettings&)>& change) {
        EffectSettings s = settings();
        change(s);
        std::memcpy(block_.data(), &s, kSettingsSize);
    }

    // Opens the setup dialog on the host block while `play` acts on it, then
    // presses OK (or Cancel); returns what the setup call returned (1 for
    // OK).
    int32_t open(const std::function<void(HWND dialog, HWND sheet)>& play, int end = IDOK) {
        return withDialog(
            "Vozav Quodlibrator", host_->handle(),
            [&] {
                return testhost::runSetup(pagesModule(), host_->handle(), server_, 75,
                                          block_.data());
            },
            [&](HWND dialog) {
                HWND sheet = testhost::parameterSheet(dialog);
                ASSERT_NE(sheet, nullptr);
                // Counting starts after the first paint's preview.
                ASSERT_TRUE(eventually(dialog, [&] { return IsWindowVisible(dialog) != FALSE; }));
                UpdateWindow(dialog);
                previews();
                play(dialog, sheet);
                testhost::click(dialog, end);
                testhost::waitUntilGone(dialog, 10000);
            });
    }

    // Selects the tab with this caption and returns its page.
    HWND page(HWND sheet, const std::string& caption) {
        const int index = testhost::pageIndexOf(sheet, caption);
        EXPECT_GE(index, 0) << caption;
        EXPECT_TRUE(testhost::selectPage(sheet, index)) << caption;
        settle();
        return testhost::currentPage(sheet);
    }

    void settle() { EXPECT_TRUE(testhost::settle(host_->handle())); }

    // Previews rendered since the last call: each asks the host four times.
    int previews() {
        settle();
        const int n = int(server_.calls().size() / 4);
        server_.clearCalls();
        return n;
    }

    // A click on a button of a page, handled before this returns.
    void click(HWND page, int id) {
        testhost::click(page, id);
        settle();
    }
    void key(HWND control, UINT virtualKey) {
        testhost::pressKey(control, virtualKey);
        settle();
    }
    // Types text into an edit as the keyboard does, replacing what is selected.
    void type(HWND edit, const std::string& text) {
        for (char c : text) PostMessageA(edit, WM_CHAR, WPARAM(static_cast<unsigned char>(c)), 1);
        settle();
    }
    // Moves the keyboard focus to a control of a page (selecting an edit's text).
    void focus(HWND page, HWND control) {
        SendMessageA(page, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        settle();
    }
    // A mouse click on the upper (up) or lower arrow of an up-down control.
    void clickSpin(HWND spin, bool up) {
        RECT r{};
        GetClientRect(spin, &r);
        const LPARAM at = MAKELPARAM(r.right / 2, up ? r.bottom / 4 : r.bottom * 3 / 4);
        PostMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(spin, WM_LBUTTONUP, 0, at);
        settle();
    }

public:
    static bool tickedOn(HWND page, int id) { return ticked(page, id); }
    static std::string textOn(HWND page, int id) { return text(page, id); }

protected:
    static int sliderPosition(HWND page, int id) {
        return int(SendMessageA(GetDlgItem(page, id), TBM_GETPOS, 0, 0));
    }
    static bool ticked(HWND page, int id) {
        return SendMessageA(GetDlgItem(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    static std::string text(HWND page, int id) { return testhost::textOf(GetDlgItem(page, id)); }

    std::unique_ptr<testhost::HostWindow> host_;
    testhost::FrameServer server_{testhost::Clip::generated(320, 240, 0),
                                  testhost::Clip::generated(320, 240, 1)};
    std::vector<uint8_t> block_;
};

// The texts of the message boxes that `action` (run on a thread of its own,
// as it blocks while a box is up) brings up from the dialog's thread, each
// answered with OK.
inline std::vector<std::string> messagesFrom(DWORD uiThread, const std::function<void()>& action) {
    std::atomic<bool> done{false};
    std::thread actor([&] {
        action();
        done = true;
        testhost::wakeWaiter();
    });
    std::vector<std::string> said;
    for (;;) {
        HWND box = nullptr;
        const bool seen = testhost::waitOnThread(
            uiThread,
            [&] {
                box = testhost::waitForDialog(uiThread, "granulix", nullptr, 0);
                return box || done;
            },
            30000);
        if (!seen) ADD_FAILURE() << "the action neither ended nor showed a message";
        if (!box) break;
        std::string text;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char name[32] = {};
            GetClassNameA(child, name, sizeof name);
            const std::string t = testhost::textOf(child);
            if (std::string(name) == "Static" && !t.empty()) text = t;
        }
        said.push_back(text);
        testhost::click(box, IDOK);
        testhost::waitUntilGone(box, 10000);
    }
    actor.join();
    return said;
}

}  // namespace granulix::testing
