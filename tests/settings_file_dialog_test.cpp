// Load and Save of the setup dialog as its user sees them: the common file
// dialogs answered from a second thread, the settings file on disk, the
// message boxes read off the screen, and the host's settings block after
// the dialog ends.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "dialog_test_support.h"
#include "effect_settings.h"
#include "file_dialog.h"
#include "frame_server.h"
#include "resource.h"
#include "settings_file.h"
#include "unreadable_file.h"

namespace granulix {
namespace {

namespace fs = std::filesystem;
using testhost::Clip;
using testhost::FrameServer;
using testing::MessageBoxSeen;

const char kTitle[] = "Vozav Quodlibrator";
const char kModuleTitle[] = "granulix";

testhost::LoadedModule& theModule() {
    static testhost::LoadedModule module(testhost::programFolder() + "granulix.vfx");
    return module;
}

std::vector<uint8_t> defaultSettings() {
    std::vector<uint8_t> block(kSettingsSize);
    theModule().getDefault(block.data());
    return block;
}

// Defaults with every reserved byte set, so that a lost byte shows.
std::vector<uint8_t> settingsWithReservedBytes() {
    std::vector<uint8_t> block = defaultSettings();
    auto mark = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) block[i] = uint8_t(i * 7 + 3);
    };
    mark(offsetof(EffectSettings, reserved8), offsetof(EffectSettings, orderFlags));
    mark(offsetof(EffectSettings, reserved56), offsetof(EffectSettings, gravity));
    mark(offsetof(EffectSettings, reserved168), kSettingsSize);
    return block;
}

std::vector<uint8_t> fileImage(const std::vector<uint8_t>& block) {
    std::vector<uint8_t> bytes(sizeof kSettingsFileHeader + block.size());
    std::memcpy(bytes.data(), kSettingsFileHeader, sizeof kSettingsFileHeader);
    std::copy(block.begin(), block.end(), bytes.begin() + sizeof kSettingsFileHeader);
    return bytes;
}

class SettingsFileDialog : public ::testing::Test {
protected:
    void SetUp() override {
        GRANULIX_NEED_DISPLAY();
        host_ = std::make_unique<testhost::HostWindow>("Test host", 0, 0, 1000, 700);
        dir_ =
            fs::temp_directory_path() / ("granulix-qlb-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored))
            SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(dir_, ignored);
    }

    int32_t open(const std::function<void(HWND)>& play) {
        return testing::withDialog(
            kTitle, host_->handle(),
            [&] {
                return testhost::runSetup(theModule(), host_->handle(), server_, 75,
                                          settings_.data());
            },
            play);
    }

    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::string write(const char* name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path(name);
    }
    std::vector<uint8_t> read(const std::string& file) const {
        std::ifstream in(file, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // Clicks Load or Save and answers the file dialog with `name`, or
    // cancels it when name is empty. Returns the file dialog.
    HWND choose(HWND dialog, int button, const std::string& name) {
        testhost::click(dialog, button);
        HWND fileDialog = testing::waitForOwnedDialog(dialog);
        EXPECT_NE(fileDialog, nullptr) << "no file dialog over the setup dialog";
        if (!fileDialog) return nullptr;
        if (name.empty())
            PostMessageA(fileDialog, WM_COMMAND, IDCANCEL, 0);
        else
            testing::answerFileDialog(fileDialog, name);
        return fileDialog;
    }
    // Chooses and waits until the button's work is done.
    void chooseAndWait(HWND dialog, int button, const std::string& name) {
        if (HWND fileDialog = choose(dialog, button, name)) {
            EXPECT_TRUE(testhost::waitUntilGone(fileDialog, 10000));
        }
        EXPECT_TRUE(testhost::settle(host_->handle()));
    }
    // Chooses and reads the message box that follows.
    MessageBoxSeen chooseAndRead(HWND dialog, int button, const std::string& name) {
        HWND fileDialog = choose(dialog, button, name);
        if (!fileDialog || !testhost::waitUntilGone(fileDialog, 10000)) return {};
        return testing::dismissMessageBox(dialog);
    }

    std::unique_ptr<testhost::HostWindow> host_;
    FrameServer server_{Clip::generated(320, 240, 0), Clip::generated(320, 240, 1)};
    std::vector<uint8_t> settings_ = defaultSettings();
    fs::path dir_;
};

void expectPlainMessage(const MessageBoxSeen& seen, const std::string& text) {
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.caption, kModuleTitle);
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK}) << text;
    EXPECT_FALSE(seen.icon) << text;
}

TEST_F(SettingsFileDialog, SaveThenLoadRestoresEveryByteReservedOnesIncluded) {
    const std::vector<uint8_t> saved = settingsWithReservedBytes();
    settings_ = saved;
    open([&](HWND dialog) {
        // Typed without an extension: the dialog adds ".qlb".
        chooseAndWait(dialog, IDC_SAVE, path("look"));
        testhost::click(dialog, IDCANCEL);
    });
    EXPECT_EQ(read(path("look.qlb")), fileImage(saved));
    EXPECT_FALSE(fs::exists(path("look.qlb.part")));

    settings_ = defaultSettings();
    ASSERT_NE(settings_, saved);
    const int32_t result = open([&](HWND dialog) {
        chooseAndWait(dialog, IDC_LOAD, path("look.qlb"));
        testhost::click(dialog, IDOK);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(settings_, saved);
}

TEST_F(SettingsFileDialog, RefusedFilesSayWhyAndChangeNothing) {
    std::vector<uint8_t> otherText = fileImage(settingsWithReservedBytes());
    otherText[6] = 'q';
    std::vector<uint8_t> noZero = fileImage(settingsWithReservedBytes());
    noZero[31] = '!';
    std::vector<uint8_t> cutShort(sizeof kSettingsFileHeader + 100, 0xAB);
    std::memcpy(cutShort.data(), kSettingsFileHeader, sizeof kSettingsFileHeader);
    const struct {
        std::string file, message;
    } cases[] = {
        {write("tiny.qlb", std::vector<uint8_t>(20, 'V')), "Error reading file!"},
        {write("other.qlb", otherText), "Not a Quodlibrator file!"},
        {write("nozero.qlb", noZero), "Not a Quodlibrator file!"},
        {write("short.qlb", cutShort), "Error reading file!"},
        {path("missing.qlb"), "Error opening file!"},
    };
    const std::vector<uint8_t> original = settings_;
    std::vector<MessageBoxSeen> seen;
    bool ownedBySetup = true;
    const int32_t result = open([&](HWND dialog) {
        for (const auto& c : cases) seen.push_back(chooseAndRead(dialog, IDC_LOAD, c.file));
        ownedBySetup = IsWindow(dialog) && IsWindowEnabled(dialog);
        testhost::click(dialog, IDOK);
    });
    ASSERT_EQ(seen.size(), std::size(cases));
    for (std::size_t i = 0; i < seen.size(); ++i) expectPlainMessage(seen[i], cases[i].message);
    EXPECT_TRUE(ownedBySetup);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(settings_, original);
}

// A read the operating system fails is the platform's file error, with its
// stop icon, not one of the messages about the file's contents.
TEST_F(SettingsFileDialog, AFailedReadShowsTheFileErrorWithItsStopIcon) {
    const std::vector<uint8_t> original = settings_;
    MessageBoxSeen seen;
    const int32_t result = open([&](HWND dialog) {
        seen = chooseAndRead(dialog, IDC_LOAD, testing::kUnreadableFile);
        testhost::click(dialog, IDOK);
    });
    EXPECT_EQ(seen.text, fw::fileErrorText(fw::FileError::readFailed, testing::kUnreadableFile));
    EXPECT_EQ(seen.caption, kModuleTitle);
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(seen.icon) << "a file error shows the stop icon";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(settings_, original);
}

TEST_F(SettingsFileDialog, ALongerFileLoadsItsBlockAndIgnoresTheRest) {
    const std::vector<uint8_t> block = settingsWithReservedBytes();
    std::vector<uint8_t> bytes = fileImage(block);
    bytes.resize(500, 0x5A);
    const std::string file = write("long.qlb", bytes);
    open([&](HWND dialog) {
        chooseAndWait(dialog, IDC_LOAD, file);
        testhost::click(dialog, IDOK);
    });
    EXPECT_EQ(settings_, block);
}

TEST_F(SettingsFileDialog, CancelledFileDialogsChangeNothing) {
    const std::vector<uint8_t> original = settings_;
    HWND strayBox = nullptr;
    const int32_t result = open([&](HWND dialog) {
        chooseAndWait(dialog, IDC_SAVE, "");
        chooseAndWait(dialog, IDC_LOAD, "");
        strayBox = testing::waitForOwnedDialog(dialog, 500);
        testhost::click(dialog, IDOK);
    });
    EXPECT_EQ(strayBox, nullptr);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(settings_, original);
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(SettingsFileDialog, LoadThenCancelLeavesTheHostsBlockUntouched) {
    const std::string file = write("other.qlb", fileImage(settingsWithReservedBytes()));
    const std::vector<uint8_t> original = settings_;
    const int32_t result = open([&](HWND dialog) {
        chooseAndWait(dialog, IDC_LOAD, file);
        testhost::click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(settings_, original);
}

TEST_F(SettingsFileDialog, AFailedSaveSaysSoAndKeepsTheOldFile) {
    const std::vector<uint8_t> old = fileImage(settingsWithReservedBytes());
    // The new file cannot be written beside the old one. (A read-only old
    // file is no test here: wine run as root replaces it all the same.)
    const std::string blocked = write("blocked.qlb", old);
    fs::create_directory(blocked + ".part");

    MessageBoxSeen seen;
    open([&](HWND dialog) {
        HWND fileDialog = choose(dialog, IDC_SAVE, blocked);
        // The Save dialog asks before it picks an existing file.
        HWND ask = fileDialog ? testing::waitForOwnedDialog(fileDialog) : nullptr;
        ASSERT_NE(ask, nullptr) << "no question before replacing the file";
        PostMessageA(ask, WM_COMMAND, IDYES, 0);
        ASSERT_TRUE(testhost::waitUntilGone(fileDialog, 10000));
        seen = testing::dismissMessageBox(dialog);
        testhost::click(dialog, IDOK);
    });
    EXPECT_EQ(seen.text, fw::fileErrorText(fw::FileError::cannotCreate, blocked));
    EXPECT_EQ(seen.caption, kModuleTitle);
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(seen.icon) << "a file error shows the stop icon";
    EXPECT_EQ(read(blocked), old);
    EXPECT_TRUE(fs::is_directory(blocked + ".part"));
}

TEST_F(SettingsFileDialog, ASaveIntoAMissingFolderIsRefused) {
    const std::string nowhere = (dir_ / "no-such-folder" / "look.qlb").string();
    MessageBoxSeen seen;
    bool fromTheSave = false;
    open([&](HWND dialog) {
        HWND fileDialog = choose(dialog, IDC_SAVE, nowhere);
        ASSERT_NE(fileDialog, nullptr);
        // The Save dialog may refuse the path itself (Windows does); wine's
        // passes it on, and then the save must say so.
        HWND box = nullptr;
        testing::eventually(dialog, [&] {
            box = testing::waitForOwnedDialog(fileDialog, 0);
            if (!box && !IsWindow(fileDialog)) {
                box = testing::waitForOwnedDialog(dialog, 0);
                fromTheSave = true;
            }
            return box != nullptr;
        });
        ASSERT_NE(box, nullptr) << "nobody said the folder is missing";
        seen = testing::readMessageBox(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        testhost::waitUntilGone(box, 10000);
        if (IsWindow(fileDialog)) {
            PostMessageA(fileDialog, WM_COMMAND, IDCANCEL, 0);
            testhost::waitUntilGone(fileDialog, 10000);
        }
        testhost::click(dialog, IDOK);
    });
    EXPECT_FALSE(seen.text.empty());
    if (fromTheSave) {
        EXPECT_EQ(seen.text, fw::fileErrorText(fw::FileError::cannotCreate, nowhere));
        EXPECT_TRUE(seen.icon);
    }
    EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));
}

TEST_F(SettingsFileDialog, ALoadRedrawsThePreviewAndLeavesSliderAndLabelAlone) {
    std::vector<uint8_t> loaded = defaultSettings();
    EffectSettings s;
    std::memcpy(&s, loaded.data(), kSettingsSize);
    s.sourceBindings[kDelay].invert ^= 1;
    s.sourceBindings[kMovingX].invert ^= 1;
    s.sourceBindings[kMovingY].invert ^= 1;
    std::memcpy(loaded.data(), &s, kSettingsSize);
    const std::string file = write("other.qlb", fileImage(loaded));

    std::string labelBefore, labelAfter;
    int sliderAfter = -1;
    std::vector<uint32_t> before, after;
    std::vector<testhost::FetchCall> calls;
    open([&](HWND dialog) {
        ASSERT_TRUE(testing::eventually(dialog, [&] { return server_.calls().size() >= 4; }));
        testhost::scrollTo(dialog, IDC_TIMELINE, 30, TB_THUMBTRACK);
        HWND box = GetDlgItem(dialog, IDC_PREVIEW_BOX);
        int w = 0, h = 0;
        before = testhost::capture(box, w, h);
        labelBefore = testhost::textOf(GetDlgItem(dialog, IDC_TIME_LABEL));
        server_.clearCalls();
        chooseAndWait(dialog, IDC_LOAD, file);
        calls = server_.calls();
        after = testhost::capture(box, w, h);
        labelAfter = testhost::textOf(GetDlgItem(dialog, IDC_TIME_LABEL));
        sliderAfter = int(SendMessageA(GetDlgItem(dialog, IDC_TIMELINE), TBM_GETPOS, 0, 0));
        testhost::click(dialog, IDCANCEL);
    });
    // Each preview asks the host for both clips at the slider's frame.
    ASSERT_GE(calls.size(), 4u);
    for (const testhost::FetchCall& call : calls)
        if (call.operation == 4) {
            EXPECT_EQ(call.position, 30);
        }
    EXPECT_NE(after, before);
    EXPECT_EQ(sliderAfter, 30);
    EXPECT_EQ(labelAfter, labelBefore);
}

}  // namespace
}  // namespace granulix
