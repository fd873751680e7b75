#include "program_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

extern char** environ;

namespace granulix::testing {

namespace fs = std::filesystem;

namespace {

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
        for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
        return text;
    }
};

}  // namespace

ProgramRun runGranulix(const std::vector<std::string>& args, bool errorsOnTerminal) {
    std::vector<std::string> words = {GRANULIX_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    return runProgram(words, errorsOnTerminal);
}

ProgramRun runProgram(const std::vector<std::string>& command, bool errorsOnTerminal) {
    // Outputs go to files outside any scratch folder a test inspects.
    ScratchFolder capture;
    const std::string outPath = capture / "stdout";
    std::unique_ptr<Terminal> terminal;
    if (errorsOnTerminal) terminal = std::make_unique<Terminal>();
    const std::string errPath = terminal ? terminal->slavePath : capture / "stderr";

    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
                                     terminal ? O_RDWR | O_NOCTTY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + words[0]);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("cannot wait for " + words[0]);
    }
    ProgramRun run;
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    run.output = readBytes(outPath);
    if (terminal) {
        run.errors = terminal->drain();
    } else {
        const std::vector<uint8_t> err = readBytes(errPath);
        run.errors.assign(err.begin(), err.end());
    }
    return run;
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
