// The common Open and Save dialogs, and the framework's way of telling the
// user that a file could not be written or read.
//
//   fw::FileDialog dialog(fw::FileDialog::Kind::save, "Pictures (*.bmp)|*.bmp|", "bmp");
//   if (std::optional<std::string> path = dialog.doModal()) save(*path);
//
// The filter lists "description|pattern|" pairs. A name typed without an
// extension gets the default extension; the read-only box is hidden and the
// Save dialog asks before it lets the user pick an existing file. Without an
// owner the dialog is modal over the active window.
//
// The dialogs themselves are reached through a chooser per kind,
// GetOpenFileNameA and GetSaveFileNameA, which a test may replace to look
// at the request and answer it without showing anything.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <optional>
#include <string>

namespace granulix::fw {

// Shows a common file dialog for the request; TRUE when a file was chosen.
using FileChooser = BOOL(WINAPI*)(OPENFILENAMEA* request);

class FileDialog {
public:
    enum class Kind { open, save };

    FileDialog(Kind kind, std::string filter, std::string defaultExtension);
    FileDialog(const FileDialog&) = delete;
    FileDialog& operator=(const FileDialog&) = delete;

    // The chosen path, or nothing when the user cancelled (or the dialog
    // could not be shown).
    std::optional<std::string> doModal(HWND owner = nullptr) const;

    // Replaces the chooser of a kind; null puts the system's back.
    static void setChooser(Kind kind, FileChooser chooser);

private:
    Kind kind_;
    std::string filter_;  // in the API's form: NUL-separated, ending in two NULs
    std::string defaultExtension_;
};

// "a|b|c|d|" as the common dialogs want it: "a\0b\0c\0d\0\0".
std::string commonDialogFilter(const std::string& filter);

// Why a file could not be written or read.
enum class FileError {
    cannotCreate,  // the file could not be created or could not replace the old one
    diskFull,      // fewer bytes were stored than asked
    readFailed,    // the operating system failed a read
};

// The user's text for a file error, naming the file; a read names no file
// ("an unnamed file"), as the platform's own reading side does.
std::string fileErrorText(FileError error, const std::string& path);
// Shows it in a message box owned by `owner`, with the stop icon.
void reportFileError(HWND owner, FileError error, const std::string& path);

}  // namespace granulix::fw
