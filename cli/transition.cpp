#include "transition.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli_error.h"

namespace granulix::cli {

namespace {

struct Slot {
    HostFrame a, b, out;
    PictureTask pictureA, pictureB;  // drawn into a and b, or into out alone
    DecodedPicture unchanged;        // the one picture given, when it fills out as it is
    int index = 0;
    bool rendered = true;  // false: `out` shows the one picture given
    PreparedFrame prepared;
    bool done = false;
    std::exception_ptr failure;

    Slot(int32_t w, int32_t h) : a(w, h), b(w, h), out(w, h) {}
};

class RenderPool {
public:
    RenderPool(const Module& module, const TransitionPlan& plan, const FramePreparer& prepare,
               const PicturePreparer& preparePicture)
        : module_(module), plan_(plan), prepare_(prepare), preparePicture_(preparePicture) {
        for (int i = 0; i < plan.jobs; ++i) workers_.emplace_back([this] { work(); });
    }
    ~RenderPool() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            waiting_.clear();  // frames not yet begun are not wanted any more
        }
        queued_.notify_all();
        for (std::thread& t : workers_) t.join();
    }

    void submit(Slot* slot) {
        {
            std::lock_guard lock(mutex_);
            slot->done = false;
            slot->failure = nullptr;
            waiting_.push_back(slot);
        }
        queued_.notify_one();
    }

    void waitFor(Slot* slot) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [slot] { return slot->done; });
    }
    bool isDone(Slot* slot) {
        std::lock_guard lock(mutex_);
        return slot->done;
    }

private:
    void work() {
        for (;;) {
            Slot* slot;
            {
                std::unique_lock lock(mutex_);
                queued_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
                if (closing_) return;
                slot = waiting_.front();
                waiting_.pop_front();
            }
            try {
                std::optional<PreparedFrame> passed;
                if (slot->unchanged) passed = preparePicture_(*slot->unchanged);
                if (passed) {
                    slot->prepared = std::move(*passed);
                } else if (slot->rendered) {
                    slot->pictureA(slot->a);
                    slot->pictureB(slot->b);
                    if (module_.render(slot->a, slot->b, slot->out, plan_.progressOf(slot->index),
                                       plan_.fieldMode, plan_.region, plan_.settings) != 1) {
                        throw CliError("the module did not render frame " +
                                       std::to_string(slot->index) +
                                       " (vxDLLApplyEffect returned 0)");
                    }
                } else {
                    (slot->pictureA ? slot->pictureA : slot->pictureB)(slot->out);
                }
                if (!passed && prepare_) slot->prepared = prepare_(slot->out);
            } catch (...) {
                slot->failure = std::current_exception();
            }
            {
                std::lock_guard lock(mutex_);
                slot->done = true;
            }
            finished_.notify_all();
        }
    }

    const Module& module_;
    const TransitionPlan& plan_;
    const FramePreparer& prepare_;
    const PicturePreparer& preparePicture_;
    std::mutex mutex_;
    std::condition_variable queued_, finished_;
    std::deque<Slot*> waiting_;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

float frameProgress(int index, int frameCount) {
    return float(double(index) / double(frameCount - 1));
}

void renderTransition(const Module& module, ClipSource& clipA, ClipSource& clipB,
                      const TransitionPlan& plan, const FramePreparer& prepare,
                      const FrameConsumer& consume, ProgressMeter& progress,
                      const std::atomic<bool>& stop, const PicturePreparer& preparePicture) {
    // Enough frames in flight to keep every worker busy while the calling
    // thread reads the next pair and writes the oldest result.
    const std::size_t slotCount = std::size_t(plan.jobs) + 2;
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<Slot*> idle;
    std::deque<Slot*> inFlight;
    int delivered = 0;

    // Declared after the slots: its workers stop before the slots go.
    RenderPool pool(module, plan, prepare, preparePicture);

    auto deliverOldest = [&] {
        Slot* slot = inFlight.front();
        pool.waitFor(slot);
        inFlight.pop_front();
        if (slot->failure) std::rethrow_exception(slot->failure);
        slot->pictureA = slot->pictureB = nullptr;
        slot->unchanged = nullptr;
        consume(slot->index, slot->out, std::move(slot->prepared));
        slot->prepared = {};
        idle.push_back(slot);
        progress.update(++delivered);
    };

    for (int index : plan.frames) {
        if (stop) throw CliError("interrupted", 130);
        while (!inFlight.empty() && pool.isDone(inFlight.front())) deliverOldest();
        if (idle.empty()) {
            if (slots.size() < slotCount) {
                slots.push_back(std::make_unique<Slot>(plan.width, plan.height));
                idle.push_back(slots.back().get());
            } else {
                deliverOldest();
            }
        }
        Slot* slot = idle.back();
        idle.pop_back();
        slot->rendered = index >= plan.transitionStart && index < plan.transitionEnd;
        slot->pictureA = index < plan.transitionEnd ? clipA.pictureAt(index, plan.rate) : nullptr;
        slot->pictureB = index >= plan.transitionStart
                             ? clipB.pictureAt(int64_t(index) - plan.transitionStart, plan.rate)
                             : nullptr;
        if (!slot->rendered && preparePicture) {
            slot->unchanged =
                slot->pictureA ? clipA.unchangedPictureAt(index, plan.rate, plan.width, plan.height)
                               : clipB.unchangedPictureAt(int64_t(index) - plan.transitionStart,
                                                          plan.rate, plan.width, plan.height);
        }
        slot->index = index;
        inFlight.push_back(slot);
        pool.submit(slot);
    }
    while (!inFlight.empty()) {
        if (stop) throw CliError("interrupted", 130);
        deliverOldest();
    }
}

}  // namespace granulix::cli
