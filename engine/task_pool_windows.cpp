// The shared runner on Windows: the tasks of a call are lent to the
// system's thread pool through one work object per call, and the call waits
// until every callback has returned before it does. The module owns no
// thread, so none can outlive it, and nothing starts while the loader lock
// is held. The thread-pool functions are looked up at run time: on a system
// without them every call runs on its caller's thread.
#define WIN32_LEAN_AND_MEAN
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#elif _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include <atomic>
#include <memory>

#include "task_pool.h"

namespace granulix {
namespace {

struct PoolFunctions {
    decltype(&::CreateThreadpoolWork) create = nullptr;
    decltype(&::SubmitThreadpoolWork) submit = nullptr;
    decltype(&::WaitForThreadpoolWorkCallbacks) wait = nullptr;
    decltype(&::CloseThreadpoolWork) close = nullptr;

    bool load() {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        if (!kernel) return false;
        create = reinterpret_cast<decltype(create)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CreateThreadpoolWork")));
        submit = reinterpret_cast<decltype(submit)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SubmitThreadpoolWork")));
        wait = reinterpret_cast<decltype(wait)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "WaitForThreadpoolWorkCallbacks")));
        close = reinterpret_cast<decltype(close)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CloseThreadpoolWork")));
        return create && submit && wait && close;
    }
};

class SystemPool final : public TaskRunner {
public:
    SystemPool(int width, const PoolFunctions& f) : width_(width), f_(f) {}

    int width() const override { return width_; }

    void run(int count, void (*task)(void*, int), void* context) override {
        Batch batch{task, context, count};
        PTP_WORK work = f_.create(&SystemPool::callback, &batch, nullptr);
        if (work) {
            const int helpers = (count < width_ ? count : width_) - 1;
            for (int i = 0; i < helpers; ++i) f_.submit(work);
        }
        batch.drain();
        if (work) {
            // Callbacks not yet started find nothing left: cancel them, and
            // wait for the ones that are running.
            f_.wait(work, TRUE);
            f_.close(work);
        }
    }

private:
    struct Batch {
        void (*task)(void*, int);
        void* context;
        int count;
        std::atomic<int> next{0};

        void drain() {
            for (int i = next++; i < count; i = next++) task(context, i);
        }
    };

    static void CALLBACK callback(PTP_CALLBACK_INSTANCE, void* batch, PTP_WORK) {
        static_cast<Batch*>(batch)->drain();
    }

    const int width_;
    const PoolFunctions f_;
};

int processors() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

// GRANULIX_THREADS from the process environment, or nullptr.
const char* threadsSetting(char (&buffer)[16]) {
    const DWORD n = GetEnvironmentVariableA("GRANULIX_THREADS", buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? buffer : nullptr;
}

}  // namespace

TaskRunner* sharedTaskPool() {
    static const std::unique_ptr<TaskRunner> pool = [] {
        char buffer[16];
        const int width = threadsWanted(threadsSetting(buffer), processors());
        return width < 2 ? nullptr : newTaskPool(width);
    }();
    return pool.get();
}

std::unique_ptr<TaskRunner> newTaskPool(int width) {
    PoolFunctions f;
    if (!f.load()) return nullptr;
    return std::make_unique<SystemPool>(width, f);
}

}  // namespace granulix
