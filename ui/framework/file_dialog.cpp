#include "file_dialog.h"

#include <utility>
#include <vector>

#include "application.h"

namespace granulix::fw {

namespace {

FileChooser openChooser = &GetOpenFileNameA;
FileChooser saveChooser = &GetSaveFileNameA;

// Longer than MAX_PATH, so that a deep path is not refused as too long.
constexpr DWORD kPathBufferSize = 4096;

}  // namespace

std::string commonDialogFilter(const std::string& filter) {
    std::string result = filter;
    for (char& c : result)
        if (c == '|') c = '\0';
    // The list ends with an empty string: two NULs in a row. c_str() adds
    // the last one.
    if (result.empty() || result.back() != '\0') result.push_back('\0');
    return result;
}

FileDialog::FileDialog(Kind kind, std::string filter, std::string defaultExtension)
    : kind_(kind),
      filter_(commonDialogFilter(filter)),
      defaultExtension_(std::move(defaultExtension)) {}

void FileDialog::setChooser(Kind kind, FileChooser chooser) {
    if (kind == Kind::open)
        openChooser = chooser ? chooser : &GetOpenFileNameA;
    else
        saveChooser = chooser ? chooser : &GetSaveFileNameA;
}

std::optional<std::string> FileDialog::doModal(HWND owner) const {
    std::vector<char> file(kPathBufferSize, '\0');  // no initial name
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner ? owner : GetActiveWindow();
    request.lpstrFilter = filter_.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = file.data();
    request.nMaxFile = DWORD(file.size());
    request.lpstrDefExt = defaultExtension_.empty() ? nullptr : defaultExtension_.c_str();
    // The host's working directory is not ours to change.
    request.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (kind_ == Kind::save) request.Flags |= OFN_OVERWRITEPROMPT;

    const FileChooser choose = kind_ == Kind::open ? openChooser : saveChooser;
    if (!choose(&request)) return std::nullopt;
    file.back() = '\0';
    std::string path(file.data());
    if (path.empty()) return std::nullopt;
    return path;
}

std::string fileErrorText(FileError error, const std::string& path) {
    switch (error) {
        case FileError::cannotCreate:
            return path +
                   " could not be created. The folder may not exist, or the file may be "
                   "read-only or in use.";
        case FileError::diskFull: return "Disk full while accessing " + path + ".";
        case FileError::readFailed:
            return "An unexpected error occurred while accessing an unnamed file.";
    }
    return "An unexpected error occurred while accessing " + path + ".";
}

void reportFileError(HWND owner, FileError error, const std::string& path) {
    messageBox(owner, fileErrorText(error, path), MB_OK | MB_ICONSTOP);
}

}  // namespace granulix::fw
