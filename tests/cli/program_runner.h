// Runs the granulix program as a user would, and scratch folders for its
// files, for the command-line tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace granulix::testing {

struct ProgramRun {
    int status = -1;              // exit status; -1 when it did not exit normally
    std::vector<uint8_t> output;  // everything written to standard output
    std::string errors;           // everything written to standard error
};

// Runs the built granulix with `args`; standard input is empty. With
// `errorsOnTerminal` standard error is a terminal of its own (a
// pseudo-terminal, which writes each "\n" as "\r\n"), as at a user's shell.
ProgramRun runGranulix(const std::vector<std::string>& args, bool errorsOnTerminal = false);
// Runs any program, found on PATH, with its arguments in `words`.
ProgramRun runProgram(const std::vector<std::string>& words, bool errorsOnTerminal = false);

// A fresh empty folder, removed again with the object.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // Names of everything in the folder, hidden files included, sorted.
    std::vector<std::string> names() const;

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace granulix::testing
