#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "edit_plan.h"
#include "media_output.h"
#include "output_files.h"
#include "player_stream.h"
#include "progress_meter.h"
#include "stop_signals.h"
#include "transition.h"
#include "transition_setup.h"

namespace granulix::cli {

namespace {

// Where `program` is found on PATH; empty when it is not.
std::string findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

std::string shellQuoted(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789-_./:=+,") == std::string::npos) {
        return word;
    }
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// ffplay reading the raw frames of a plan from its standard input, or
// with `sound` the stream of openPlayerStream, which says all that itself.
std::vector<std::string> playerCommand(const TransitionPlan& plan, const std::string& title,
                                       bool sound) {
    std::vector<std::string> words = {"ffplay", "-hide_banner",  "-loglevel",
                                      "error",  "-window_title", title};
    if (sound) {
        words.insert(words.end(), {"-f", kPlayerStreamFormat, "-"});
        return words;
    }
    words.insert(words.end(),
                 {"-f", "rawvideo", "-pixel_format", "bgr24", "-video_size",
                  std::to_string(plan.width) + "x" + std::to_string(plan.height), "-framerate",
                  std::to_string(plan.rate.num) + "/" + std::to_string(plan.rate.den), "-"});
    return words;
}

// A player started with its standard input on a pipe; killed and collected
// if not waited for.
class Player {
public:
    Player(const std::string& program, const std::vector<std::string>& words) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw CliError("cannot start ffplay: " + systemErrorText(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
        // The player takes signals as a program started from the shell does:
        // none blocked, none ignored but those ignored when granulix started.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        const sigset_t defaults = signalsForChildDefaults();
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::vector<char*> argv;
        for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        const int result =
            posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[0]);
        if (result != 0) {
            close(fds[1]);
            pid_ = -1;
            throw CliError("cannot start " + program + ": " + systemErrorText(result));
        }
        input_ = fds[1];
    }
    ~Player() {
        closeInput();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    int input() const { return input_; }
    void closeInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }
    // Whether the player ends within a moment, as it does when its window
    // has been closed.
    bool ended() {
        for (int tries = 0; pid_ > 0 && tries < 50; ++tries) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return pid_ <= 0;
    }
    // Waits for the player to end; throws CliError when it failed.
    void wait() {
        closeInput();
        while (pid_ > 0 && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        checkStatus();
    }
    // Throws CliError unless the player that ended exited with status 0.
    void checkStatus() const {
        if (!WIFEXITED(status_) || WEXITSTATUS(status_) != 0) {
            throw CliError("ffplay failed" +
                           (WIFEXITED(status_)
                                ? " with exit status " + std::to_string(WEXITSTATUS(status_))
                                : std::string()));
        }
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int status_ = 0;
};

}  // namespace

int playCommand(const std::vector<std::string>& args) {
    const std::vector<OptionRule> options = playOptions();
    const CommandLine line("play", args, options);
    if (line.helpWanted()) {
        const std::string help = commandHelp(
            "usage: granulix play [A B] [options]\n\n" + clipsHelp() +
                "The transition is shown in a window by FFmpeg's ffplay, given the frames as\n"
                "they are rendered with their size and rate; q or Esc closes it. With --offset\n"
                "and --duration it plays the whole edit, as render writes it, with its sound.\n",
            options);
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    const std::optional<FrameRate> askedRate = askedRateOf(line);
    const auto start = std::chrono::steady_clock::now();
    const std::string player = findOnPath("ffplay");
    if (player.empty() && !line.has("--dry-run")) {
        throw CliError(
            "granulix play shows the transition with FFmpeg's ffplay, which is not installed "
            "(on Debian: apt-get install ffmpeg); granulix render -o - | ffplay ... does the same");
    }
    const std::optional<Edit> edit = editOf(line);
    const bool soundKept = edit && !line.has("--no-audio");
    Transition t = prepareTransition(line, "play", askedRate, soundKept, nullptr);
    TransitionPlan& plan = t.plan;
    std::unique_ptr<SoundTrack> sound;
    if (edit) sound = planEditWithSound(line, t, *edit, soundKept);
    for (int i = 0; i < plan.frameCount; ++i) plan.frames.push_back(i);
    const auto& inputs = line.arguments();
    const std::vector<std::string> words = playerCommand(
        plan, inputs.empty() ? "granulix" : "granulix: " + inputs[0] + " to " + inputs[1],
        sound != nullptr);
    if (line.has("--dry-run")) {
        std::string text;
        for (const std::string& w : words) text += (text.empty() ? "" : " ") + shellQuoted(w);
        std::puts(text.c_str());
        return kExitOk;
    }

    Player shown(player, words);
    std::unique_ptr<FrameSink> sink =
        sound ? openPlayerStream(shown.input(), "to ffplay", plan.width, plan.height, plan.rate,
                                 *sound)
              : openRawSink(shown.input(), "to ffplay", plan.width, plan.height);
    ProgressMeter progress(plan.frameCount, !t.quiet, start);
    FrameSink& out = *sink;
    try {
        renderTransition(
            *t.module, *t.clipA, *t.clipB, plan, nullptr,
            [&out](int, const HostFrame& frame, PreparedFrame&&) { out.write(frame, {}); },
            progress, gStopRequested);
        out.finish();
    } catch (const CliError&) {
        // Closing the window before the end is no failure.
        shown.closeInput();
        if (gStopRequested || !shown.ended()) throw;
        shown.checkStatus();
        return kExitOk;
    }
    report(t.quiet, "ffplay", plan.frameCount, plan, progress.finish());
    shown.wait();
    return kExitOk;
}

}  // namespace granulix::cli
