// Side-by-side work inside one render call.
//
// A render call can split some of its work into tasks that are independent
// of each other (rows of a conversion, stretches of elements to settle,
// bands of the output to draw). A TaskRunner runs such tasks on several
// threads and returns when all of them are done; the calling thread takes
// part. A job without a runner does everything on the calling thread, in
// order: the one-thread behaviour.
//
//   runTasks(job.tasks, parts, [&](int i) { convertRows(i, parts); });
#pragma once

#include <type_traits>

namespace granulix {

class TaskRunner {
public:
    virtual ~TaskRunner() = default;
    // How many tasks may run at once, the calling thread included.
    virtual int width() const = 0;
    // Calls task(context, i) once for every i in [0, count), in any order and
    // on any of its threads, and returns when every call has returned. The
    // tasks must not throw.
    virtual void run(int count, void (*task)(void* context, int i), void* context) = 0;
};

// How many tasks a runner takes at once; 1 without one.
inline int taskWidth(const TaskRunner* runner) { return runner ? runner->width() : 1; }

// Calls f(i) for every i in [0, count): on the runner's threads, or in
// order on this one when there is no runner or only one task.
template <class F>
void runTasks(TaskRunner* runner, int count, F&& f) {
    if (!runner || count < 2) {
        for (int i = 0; i < count; ++i) f(i);
        return;
    }
    using Body = std::remove_reference_t<F>;
    runner->run(
        count, [](void* context, int i) { (*static_cast<Body*>(context))(i); },
        const_cast<void*>(static_cast<const void*>(&f)));
}

}  // namespace granulix
