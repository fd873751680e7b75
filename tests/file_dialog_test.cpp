// The framework's file dialogs: the request they make of the common dialogs,
// what they return, and one real Save dialog answered as a user would.
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "dialog_test_support.h"
#include "file_dialog.h"

namespace granulix {
namespace {

using fw::FileDialog;

const char kFilter[] = "Vozav Quodlibrator Setings (*.qlb)|*.qlb|";

// What a chooser was asked, and how it answers.
struct ChooserCall {
    int count = 0;
    HWND owner = nullptr;
    std::string filter;  // up to and including the closing empty string
    std::string defaultExtension;
    std::string initialName;
    DWORD flags = 0;
    DWORD structSize = 0;
};
ChooserCall openCall, saveCall;
const char* answer = nullptr;  // null: the user cancels

// The filter as the common dialog reads it: strings up to an empty one.
std::string filterAsRead(const char* filter) {
    std::string all;
    for (const char* p = filter; *p; p += std::strlen(p) + 1) all.append(p, std::strlen(p) + 1);
    return all + '\0';
}

BOOL record(ChooserCall& call, OPENFILENAMEA* request) {
    ++call.count;
    call.owner = request->hwndOwner;
    call.filter = filterAsRead(request->lpstrFilter);
    call.defaultExtension = request->lpstrDefExt ? request->lpstrDefExt : "";
    call.initialName = request->lpstrFile;
    call.flags = request->Flags;
    call.structSize = request->lStructSize;
    if (!answer) return FALSE;
    if (std::strlen(answer) >= request->nMaxFile) return FALSE;
    std::strcpy(request->lpstrFile, answer);
    return TRUE;
}
BOOL WINAPI recordOpen(OPENFILENAMEA* request) { return record(openCall, request); }
BOOL WINAPI recordSave(OPENFILENAMEA* request) { return record(saveCall, request); }

class FileDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        GRANULIX_NEED_DISPLAY();
        host_ = std::make_unique<testhost::HostWindow>("File dialog host", 0, 0, 600, 400);
        openCall = saveCall = {};
        answer = nullptr;
        FileDialog::setChooser(FileDialog::Kind::open, &recordOpen);
        FileDialog::setChooser(FileDialog::Kind::save, &recordSave);
    }
    void TearDown() override {
        FileDialog::setChooser(FileDialog::Kind::open, nullptr);
        FileDialog::setChooser(FileDialog::Kind::save, nullptr);
    }
    std::unique_ptr<testhost::HostWindow> host_;
};

TEST(FileDialogFilter, BarsBecomeTheNulSeparatedListOfTheCommonDialogs) {
    EXPECT_EQ(fw::commonDialogFilter(kFilter),
              std::string("Vozav Quodlibrator Setings (*.qlb)\0*.qlb\0", 41));
    // Without the closing bar the list is closed all the same.
    EXPECT_EQ(fw::commonDialogFilter("A|*.a|B|*.b"), std::string("A\0*.a\0B\0*.b\0", 12));
    EXPECT_EQ(fw::commonDialogFilter(""), std::string("\0", 1));
}

TEST_F(FileDialogs, OpenAndSaveAskTheirOwnDialogWithTheFilterAndExtension) {
    SetActiveWindow(host_->handle());
    FileDialog(FileDialog::Kind::open, kFilter, "qlb").doModal();
    FileDialog(FileDialog::Kind::save, kFilter, "qlb").doModal();
    ASSERT_EQ(openCall.count, 1);
    ASSERT_EQ(saveCall.count, 1);
    for (const ChooserCall* call : {&openCall, &saveCall}) {
        EXPECT_EQ(call->structSize, sizeof(OPENFILENAMEA));
        EXPECT_EQ(call->owner, host_->handle()) << "the active window owns the dialog";
        EXPECT_EQ(call->filter, std::string("Vozav Quodlibrator Setings (*.qlb)\0*.qlb\0\0", 42));
        EXPECT_EQ(call->defaultExtension, "qlb");
        EXPECT_EQ(call->initialName, "");
        EXPECT_TRUE(call->flags & OFN_HIDEREADONLY);
        EXPECT_FALSE(call->flags & (OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT));
    }
    EXPECT_FALSE(openCall.flags & OFN_OVERWRITEPROMPT);
    EXPECT_TRUE(saveCall.flags & OFN_OVERWRITEPROMPT);
}

TEST_F(FileDialogs, ReturnsTheChosenPathOrNothingWhenCancelled) {
    HWND owner = host_->handle();
    EXPECT_EQ(FileDialog(FileDialog::Kind::open, kFilter, "qlb").doModal(owner), std::nullopt);
    answer = "C:\\looks\\calm.qlb";
    EXPECT_EQ(FileDialog(FileDialog::Kind::open, kFilter, "qlb").doModal(owner),
              std::optional<std::string>("C:\\looks\\calm.qlb"));
    EXPECT_EQ(FileDialog(FileDialog::Kind::save, kFilter, "qlb").doModal(owner),
              std::optional<std::string>("C:\\looks\\calm.qlb"));
    EXPECT_EQ(openCall.owner, owner);
    // A path longer than the dialog's buffer is not taken half.
    const std::string deep(5000, 'd');
    answer = deep.c_str();
    EXPECT_EQ(FileDialog(FileDialog::Kind::save, kFilter, "qlb").doModal(owner), std::nullopt);
}

TEST_F(FileDialogs, TheRealSaveDialogAddsTheExtensionToATypedName) {
    FileDialog::setChooser(FileDialog::Kind::save, nullptr);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "granulix-save-dialog";
    std::filesystem::create_directories(dir);
    const std::string typed = (dir / "calm").string();

    HWND owner = host_->handle();
    std::thread user([&] {
        HWND dialog = testing::waitForOwnedDialog(owner, 20000);
        if (!dialog) {
            ADD_FAILURE() << "no Save dialog appeared";
            return;
        }
        testing::answerFileDialog(dialog, typed);
        if (!testhost::waitUntilGone(dialog, 10000)) {
            ADD_FAILURE() << "the Save dialog did not take the name";
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const std::optional<std::string> chosen =
        FileDialog(FileDialog::Kind::save, kFilter, "qlb").doModal(owner);
    user.join();
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, typed + ".qlb");
}

TEST(FileErrors, NameTheFileWrittenAndNoFileRead) {
    EXPECT_EQ(fw::fileErrorText(fw::FileError::diskFull, "C:\\looks\\calm.qlb"),
              "Disk full while accessing C:\\looks\\calm.qlb.");
    const std::string cannotCreate =
        fw::fileErrorText(fw::FileError::cannotCreate, "C:\\looks\\calm.qlb");
    EXPECT_EQ(cannotCreate.rfind("C:\\looks\\calm.qlb could not be created.", 0), 0u)
        << cannotCreate;
    EXPECT_EQ(fw::fileErrorText(fw::FileError::readFailed, "C:\\looks\\calm.qlb"),
              "An unexpected error occurred while accessing an unnamed file.");
}

}  // namespace
}  // namespace granulix
