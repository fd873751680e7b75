// The shared runner on systems with C++ threads of our own: width - 1
// workers that wait on one queue of batches; the caller of run() works on
// its own batch beside them.
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "task_pool.h"

namespace granulix {
namespace {

class ThreadPool final : public TaskRunner {
public:
    explicit ThreadPool(int width) : width_(width) {
        for (int i = 1; i < width; ++i) workers_.emplace_back([this] { work(); });
    }

    ~ThreadPool() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_) t.join();
    }

    int width() const override { return width_; }

    void run(int count, void (*task)(void*, int), void* context) override {
        Batch batch{task, context, count};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(&batch);
        }
        wake_.notify_all();
        // Tasks are few and coarse: each is taken under the lock.
        std::unique_lock<std::mutex> lock(mutex_);
        while (batch.next < count) runOne(batch, lock);
        finished_.wait(lock, [&] { return batch.done == count; });
    }

private:
    struct Batch {
        void (*task)(void*, int);
        void* context;
        int count;
        int next = 0;  // the next task to take
        int done = 0;  // tasks that have returned
    };

    // Takes the batch's next task and runs it with the lock released.
    void runOne(Batch& b, std::unique_lock<std::mutex>& lock) {
        const int i = b.next++;
        if (b.next == b.count) {
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (*it == &b) {
                    queue_.erase(it);
                    break;
                }
            }
        }
        lock.unlock();
        b.task(b.context, i);
        lock.lock();
        // The caller may return once the last task is done: b is not
        // touched after this.
        if (++b.done == b.count) finished_.notify_all();
    }

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            runOne(*queue_.front(), lock);
        }
    }

    const int width_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<Batch*> queue_;  // batches with tasks left to take
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

TaskRunner* sharedTaskPool() {
    static const int width = threadsWanted(std::getenv("GRANULIX_THREADS"),
                                           static_cast<int>(std::thread::hardware_concurrency()));
    if (width < 2) return nullptr;
    static ThreadPool pool(width);
    return &pool;
}

std::unique_ptr<TaskRunner> newTaskPool(int width) { return std::make_unique<ThreadPool>(width); }

}  // namespace granulix
