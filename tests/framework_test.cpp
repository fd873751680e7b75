// The framework layer on its own: message tables and their chaining, data
// exchange on OK, handlers that throw, help routing and its failure message,
// the life of a mini frame window, and what an integer edit accepts.
#include <windows.h>

#include <cstdint>
#include <iterator>
#include <utility>
#include <stdexcept>

#include "application.h"
#include "dialog.h"
#include "dialog_test_support.h"
#include "framework_test_resource.h"
#include "mini_frame.h"

namespace granulix {
namespace {

using testing::withDialog;

class TestApp : public fw::Application {
protected:
    const fw::CommandMap* commandMap() const override {
        static const fw::CommandEntry entries[] = {
            fw::onAppCommand<fw::Application, &fw::Application::onHelp>(IDC_TEST_HELP),
        };
        static const fw::CommandMap map{fw::Application::commandMap(), entries, std::size(entries)};
        return &map;
    }
};

TestApp theTestApp;

struct HelpCall {
    HWND window = nullptr;
    std::string file;
    UINT command = 0;
    ULONG_PTR data = 0;
    int count = 0;
};
HelpCall lastHelp;
BOOL helpViewerAnswer = TRUE;

BOOL WINAPI recordingHelpViewer(HWND window, LPCSTR file, UINT command, ULONG_PTR data) {
    lastHelp.window = window;
    lastHelp.file = file;
    lastHelp.command = command;
    lastHelp.data = data;
    ++lastHelp.count;
    return helpViewerAnswer;
}

class TestDialog : public fw::Dialog {
public:
    explicit TestDialog(HWND parent) : Dialog(IDD_FRAMEWORK_TEST, parent) {}
    std::string text = "initial";
    int throwClicks = 0;

protected:
    void doDataExchange(fw::DataExchange& dx) override {
        fw::exchangeText(dx, IDC_TEST_EDIT, text);
    }
    const fw::MessageMap* messageMap() const override {
        static const fw::MessageEntry entries[] = {
            fw::onCommand<TestDialog, &TestDialog::onThrow>(IDC_TEST_THROW),
        };
        static const fw::MessageMap map{fw::Dialog::messageMap(), entries, std::size(entries)};
        return &map;
    }

private:
    void onThrow() {
        ++throwClicks;
        throw std::runtime_error("a handler failed");
    }
};

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        GRANULIX_NEED_DISPLAY();
        host_ = std::make_unique<testhost::HostWindow>("Framework host", 0, 0, 600, 400);
        lastHelp = {};
        helpViewerAnswer = TRUE;
        theTestApp.setHelpViewer(&recordingHelpViewer);
    }
    INT_PTR run(TestDialog& dialog, const std::function<void(HWND)>& play) {
        return withDialog(
            "Framework test", host_->handle(), [&] { return dialog.doModal(); }, play);
    }
    std::unique_ptr<testhost::HostWindow> host_;
};

TEST_F(Framework, OkReadsTheControlsBackAfterAHandlerThrew) {
    TestDialog dialog(host_->handle());
    std::string shownAtStart;
    const INT_PTR result = run(dialog, [&](HWND d) {
        HWND edit = GetDlgItem(d, IDC_TEST_EDIT);
        shownAtStart = testhost::textOf(edit);
        testhost::click(d, IDC_TEST_THROW);
        testhost::click(d, IDC_TEST_THROW);
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
        testhost::click(d, IDOK);
        testhost::waitUntilGone(d);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(shownAtStart, "initial");
    EXPECT_EQ(dialog.throwClicks, 2);
    EXPECT_EQ(dialog.text, "typed");
    EXPECT_TRUE(IsWindowEnabled(host_->handle()));
}

TEST_F(Framework, CancelAndTheCloseBoxLeaveTheMembersAlone) {
    for (bool closeBox : {false, true}) {
        TestDialog dialog(host_->handle());
        const INT_PTR result = run(dialog, [&](HWND d) {
            SendMessageA(GetDlgItem(d, IDC_TEST_EDIT), WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>("typed"));
            if (closeBox)
                PostMessageA(d, WM_CLOSE, 0, 0);
            else
                testhost::click(d, IDCANCEL);
            testhost::waitUntilGone(d);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(dialog.text, "initial");
    }
}

TEST_F(Framework, HelpGoesFromTheFocusToItsDialog) {
    TestDialog dialog(host_->handle());
    HWND shown = nullptr;
    run(dialog, [&](HWND d) {
        shown = d;
        testhost::click(d, IDC_TEST_HELP);
        testing::eventually(d, [] { return lastHelp.count > 0; });
    });
    EXPECT_EQ(lastHelp.count, 1);
    EXPECT_EQ(lastHelp.window, shown);
    EXPECT_EQ(lastHelp.command, UINT(HELP_CONTEXT));
    EXPECT_EQ(lastHelp.data, ULONG_PTR(0x20000 + IDD_FRAMEWORK_TEST));
    // The program's own path, its extension replaced.
    char path[MAX_PATH];
    std::string expected(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    expected = expected.substr(0, expected.rfind('.')) + ".HLP";
    EXPECT_EQ(lastHelp.file, expected);
}

TEST_F(Framework, HelpThatCannotStartSaysSoCaptionedWithTheModulesName) {
    helpViewerAnswer = FALSE;
    TestDialog dialog(host_->handle());
    std::string message;
    bool ownedByDialog = false;
    run(dialog, [&](HWND d) {
        testhost::click(d, IDC_TEST_HELP);
        HWND box = testhost::waitForDialog(GetWindowThreadProcessId(d, nullptr), fw::moduleTitle(),
                                           d, 10000);
        ASSERT_NE(box, nullptr);
        ownedByDialog = GetWindow(box, GW_OWNER) == d;
        message = testhost::textOf(GetDlgItem(box, 0xFFFF));
        testhost::click(box, IDOK);
        testhost::waitUntilGone(box);
    });
    EXPECT_EQ(fw::moduleTitle(), "dialog_tests");
    EXPECT_TRUE(ownedByDialog);
    EXPECT_EQ(message, "Failed to launch help.");
}

// A frame that counts its destruction and can refuse its creation.
int framesDestroyed = 0;
class CountingFrame : public fw::MiniFrameWindow {
public:
    explicit CountingFrame(bool refuse) : refuse_(refuse) {}
    ~CountingFrame() override { ++framesDestroyed; }

protected:
    const fw::MessageMap* messageMap() const override {
        static const fw::MessageEntry entries[] = {
            fw::onCreate<CountingFrame, &CountingFrame::onCreate>(),
        };
        static const fw::MessageMap map{fw::MiniFrameWindow::messageMap(), entries,
                                        std::size(entries)};
        return &map;
    }

private:
    int onCreate(CREATESTRUCTA*) { return refuse_ ? -1 : int(defaultHandling()); }
    bool refuse_;
};

TEST_F(Framework, AFrameGoesWithItsWindowOrStaysWithItsCreatorWhenRefused) {
    framesDestroyed = 0;
    auto* refused = new CountingFrame(true);
    EXPECT_FALSE(refused->create(nullptr, "refused", WS_POPUP | WS_BORDER, RECT{0, 0, 10, 10},
                                 nullptr, nullptr, 0));
    EXPECT_EQ(framesDestroyed, 0);
    EXPECT_EQ(refused->handle(), nullptr);
    delete refused;
    EXPECT_EQ(framesDestroyed, 1);

    auto* frame = new CountingFrame(false);
    ASSERT_TRUE(frame->create(nullptr, "frame", WS_POPUP | WS_BORDER, RECT{0, 0, 10, 10}, nullptr,
                              nullptr, 0));
    HWND window = frame->handle();
    EXPECT_EQ(fw::Window::fromHandle(window), frame);
    DestroyWindow(window);
    EXPECT_EQ(framesDestroyed, 2);
    EXPECT_EQ(fw::Window::fromHandle(window), nullptr);
}

// What an integer edit accepts: a whole decimal number within 32 bits,
// spaces around it allowed.
TEST(FrameworkExchange, IntegersAreWholeDecimalNumbersThatFit) {
    const std::pair<const char*, int32_t> accepted[] = {
        {"0", 0},
        {"4096", 4096},
        {" 12 ", 12},
        {"-5", -5},
        {"+7", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"007", 7},
    };
    for (const auto& [text, value] : accepted) {
        int32_t read = -99;
        EXPECT_TRUE(fw::parseInteger(text, read)) << text;
        EXPECT_EQ(read, value) << text;
    }
    for (const char* text :
         {"", "  ", "4x", "x4", "1 2", "2147483648", "-2147483649", "1e3", "-", "0x10"}) {
        int32_t read = -99;
        EXPECT_FALSE(fw::parseInteger(text, read)) << '"' << text << '"';
        EXPECT_EQ(read, -99) << "a refused text leaves the value alone: " << text;
    }
}

}  // namespace
}  // namespace granulix
