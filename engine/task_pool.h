// The threads that render calls share.
//
// sharedTaskPool() is the runner that the render path hands to its jobs. It
// is as wide as the machine has processors, or as the environment variable
// GRANULIX_THREADS says (a whole number from 1 to 64); at 1 there is no
// pool at all and every call runs on its caller's thread alone.
//
// The threads come into being on the first call that needs them (never
// while a module is being loaded) and are reused by every later call.
// Nothing of ours runs on them between calls: on Windows they are the
// system's thread pool, which the module only lends work to for the length
// of a call; elsewhere they are threads of our own that wait on a condition
// between calls and are joined when the library or program is unloaded.
#pragma once

#include <memory>

#include "task_runner.h"

namespace granulix {

constexpr int kMaxThreads = 64;

// The shared runner, or nullptr when calls are to run on one thread.
TaskRunner* sharedTaskPool();

// A runner of `width` (2 to kMaxThreads) of its own, made as the shared one
// is; nullptr where the system has no thread pool.
std::unique_ptr<TaskRunner> newTaskPool(int width);

// The width asked for by a GRANULIX_THREADS value (nullptr: unset), given
// the machine's processors: the value when it is a whole number from 1 to
// kMaxThreads, the processors (at most kMaxThreads) otherwise.
int threadsWanted(const char* setting, int processors);

}  // namespace granulix
