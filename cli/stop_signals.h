// Stopping cleanly on a signal. Every signal whose default would end the
// program and that can be caught goes to one thread of its own (SIGPIPE
// stays ignored: a closed pipe is a write error with a message). The first
// such signal sets the stop flag that long commands poll; they then remove
// their temporaries on the way out, and the program exits with status
// 128 + the signal's number (130 for Ctrl-C). Should the program not have
// ended within a short grace period, or a second signal come, the stop
// thread removes the registered temporaries itself and ends it at once.
// Signals raised by a fault of the program (SIGSEGV, SIGABRT, ...) keep
// their default action. A signal that was ignored when the program started
// (SIGHUP under nohup, SIGINT and SIGQUIT in a shell's background job) stays
// ignored, here and in the programs it starts.
#pragma once

#include <signal.h>

#include <atomic>

namespace granulix::cli {

// Call first in main, before any other thread exists: the signals are
// blocked in every thread made afterwards.
void watchStopSignals(std::atomic<bool>& stop);

// The signals a program started from this one should take with their
// default action: every one but those ignored when this one started.
sigset_t signalsForChildDefaults();

// The first stop signal received, 0 while none has come.
int stopSignal();

// Says on standard error which signal stopped the program; only the first
// call says anything, whichever thread makes it.
void reportStop();

}  // namespace granulix::cli
