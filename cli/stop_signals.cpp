#include "stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "output_files.h"

namespace granulix::cli {

namespace {

// Long enough for a render loop to notice the flag after its current frame.
constexpr std::time_t kGraceSeconds = 5;

std::atomic<int> gStopSignal{0};

// The signals ignored when the program started, read once before it
// changes any disposition.
const sigset_t& ignoredAtStart() {
    static const sigset_t ignored = [] {
        sigset_t set;
        sigemptyset(&set);
        for (int s = 1; s < NSIG; ++s) {
            struct sigaction current;
            if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
                sigaddset(&set, s);
            }
        }
        return set;
    }();
    return ignored;
}

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    auto take = [&](int s) {
        // Blocked for sigwait, an ignored signal would be delivered after all.
        if (!sigismember(&ignoredAtStart(), s)) sigaddset(&set, s);
    };
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
                  SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT}) {
        take(s);
    }
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) take(s);
    return set;
}

void watch(sigset_t set, std::atomic<bool>* stop) {
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    gStopSignal = signal;
    *stop = true;
    const timespec grace{kGraceSeconds, 0};
    while (sigtimedwait(&set, nullptr, &grace) < 0 && errno == EINTR) {
    }
    removeTemporariesNow();
    reportStop();
    std::fflush(stderr);
    _exit(128 + signal);
}

}  // namespace

void watchStopSignals(std::atomic<bool>& stop) {
    ignoredAtStart();
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(watch, set, &stop).detach();
}

sigset_t signalsForChildDefaults() {
    sigset_t set;
    sigfillset(&set);
    for (int s = 1; s < NSIG; ++s) {
        if (sigismember(&ignoredAtStart(), s)) sigdelset(&set, s);
    }
    return set;
}

int stopSignal() { return gStopSignal; }

void reportStop() {
    static std::atomic<bool> reported{false};
    if (stopSignal() != 0 && !reported.exchange(true)) {
        std::fprintf(stderr, "granulix: interrupted (%s)\n", strsignal(stopSignal()));
    }
}

}  // namespace granulix::cli
