// Runs the granulix program as a user would, and scratch folders for its
// files, for the command-line tests.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
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
// The same with NAME=VALUE words in `environment` added to the test's own.
ProgramRun runGranulix(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment);
// Runs any program, found on PATH, with its arguments in `words`.
ProgramRun runProgram(const std::vector<std::string>& words, bool errorsOnTerminal = false);
// The words that run the built granulix with `args`.
std::vector<std::string> granulixCommand(const std::vector<std::string>& args);

// The environment for a run with the rename fault preloaded (see
// rename_faults.cpp), `setting` being one of its NAME=VALUE words.
std::vector<std::string> withRenameFault(const std::string& setting);

struct Terminal;

// A program, found on PATH, started with its arguments in `words` and left
// running, for tests that act on it while it works; killed and collected
// if never waited for.
class StartedProgram {
public:
    explicit StartedProgram(const std::vector<std::string>& words,
                            const std::vector<std::string>& environment = {},
                            bool errorsOnTerminal = false);
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    pid_t pid() const { return pid_; }
    ProgramRun wait();

private:
    std::filesystem::path capture_;
    std::unique_ptr<Terminal> terminal_;
    std::string name_;
    pid_t pid_ = -1;
};

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
