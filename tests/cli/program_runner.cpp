#include "program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

extern char** environ;

namespace granulix::testing {

namespace fs = std::filesystem;

// A pseudo-terminal: the program writes to `slavePath`, the test reads `master`.
struct Terminal {
    int master = -1, slave = -1;
    std::string slavePath;

    Terminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slavePath = ptsname(master);
        // Held open so that reading never finds the terminal without a writer.
        slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        if (slave < 0) throw std::runtime_error("cannot open " + slavePath);
    }
    ~Terminal() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Everything written so far.
    std::string drain() {
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
            text.append(buffer, std::size_t(n));
        return text;
    }
};

std::vector<std::string> granulixCommand(const std::vector<std::string>& args) {
    std::vector<std::string> words = {GRANULIX_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

std::vector<std::string> withRenameFault(const std::string& setting) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {std::string("LD_PRELOAD=") + RENAME_FAULTS, setting,
            // The preload comes before the sanitizer's runtime in sanitized builds.
            std::string("ASAN_OPTIONS=verify_asan_link_order=0") +
                (asan ? std::string(":") + asan : "")};
}

StartedProgram::StartedProgram(const std::vector<std::string>& command,
                               const std::vector<std::string>& environment, bool errorsOnTerminal)
    : name_(command.at(0)) {
    // Outputs go to files outside any scratch folder a test inspects.
    std::random_device seed;
    capture_ = fs::temp_directory_path() /
               ("granulix-capture-" + std::to_string(getpid()) + "-" + std::to_string(seed()));
    fs::create_directories(capture_);
    if (errorsOnTerminal) terminal_ = std::make_unique<Terminal>();
    const std::string outPath = (capture_ / "stdout").string();
    const std::string errPath = terminal_ ? terminal_->slavePath : (capture_ / "stderr").string();

    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> settings(environment);
    std::vector<char*> envp;
    for (std::string& e : settings) envp.push_back(e.data());
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
                                     terminal_ ? O_RDWR | O_NOCTTY : O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    // Signals as a shell starts a program in the foreground: none blocked,
    // none ignored, whatever the test runner inherited (nohup, say).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned =
        posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        std::error_code ignored;
        fs::remove_all(capture_, ignored);
        throw std::runtime_error("cannot start " + name_);
    }
}

StartedProgram::~StartedProgram() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int wstatus;
        while (waitpid(pid_, &wstatus, 0) < 0 && errno == EINTR) {
        }
    }
    std::error_code ignored;
    fs::remove_all(capture_, ignored);
}

ProgramRun StartedProgram::wait() {
    int wstatus = 0;
    while (waitpid(pid_, &wstatus, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("cannot wait for " + name_);
    }
    pid_ = -1;
    ProgramRun run;
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.output = readBytes((capture_ / "stdout").string());
    if (terminal_) {
        run.errors = terminal_->drain();
    } else {
        const std::vector<uint8_t> err = readBytes((capture_ / "stderr").string());
        run.errors.assign(err.begin(), err.end());
    }
    return run;
}

ProgramRun runGranulix(const std::vector<std::string>& args, bool errorsOnTerminal) {
    return StartedProgram(granulixCommand(args), {}, errorsOnTerminal).wait();
}

ProgramRun runGranulix(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment) {
    return StartedProgram(granulixCommand(args), environment).wait();
}

ProgramRun runProgram(const std::vector<std::string>& words, bool errorsOnTerminal) {
    return StartedProgram(words, {}, errorsOnTerminal).wait();
}

ScratchFolder::ScratchFolder() {
    std::random_device seed;
    path_ = fs::temp_directory_path() /
            ("granulix-cli-" + std::to_string(getpid()) + "-" + std::to_string(seed()));
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace granulix::testing
