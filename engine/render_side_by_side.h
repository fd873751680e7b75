// A frame shared out among threads: SideBySide and its layout.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "checked_size.h"
#include "render_scratch.h"
#include "render_settler.h"
#include "render_traversal.h"
#include "task_runner.h"

namespace granulix::rendering {

// Storage from a memory resource for elements that are written before they
// are read: not cleared, unlike a vector's.
template <class T>
class UnclearedArray {
public:
    UnclearedArray(uint64_t count, std::pmr::memory_resource* memory) : memory_(memory) {
        static_assert(std::is_trivially_default_constructible_v<T>);
        const std::optional<uint64_t> bytes = checkedProduct(SIZE_MAX, count, sizeof(T));
        if (!bytes) throw std::bad_alloc();
        bytes_ = static_cast<size_t>(*bytes);
        data_ = static_cast<T*>(memory_->allocate(bytes_, alignof(T)));
    }
    ~UnclearedArray() { memory_->deallocate(data_, bytes_, alignof(T)); }
    UnclearedArray(const UnclearedArray&) = delete;
    UnclearedArray& operator=(const UnclearedArray&) = delete;
    T* data() const { return data_; }

private:
    std::pmr::memory_resource* memory_;
    size_t bytes_;
    T* data_;
};

// How a frame shared out among threads is laid out. Drawing order decides
// which element a pixel shows at last, so the work goes in two passes:
// 1. stretches of rows are settled side by side. One thread takes them from
//    the front of the visiting order and draws them straight away; the
//    others take them from the back and keep their draws by the band of
//    output rows they write to, first in the thread's staging area, then
//    moved to one store where every (stretch, band) pair is a segment;
// 2. each band is drawn on its own by replaying its kept segments in
//    stretch order: every pixel is written in the order of one thread's
//    traversal, and the bands never share a pixel.
// Stretches are small enough that a thread's staging stays in its cache.
struct SideBySidePlan {
    uint32_t bands = 0, stretches = 0, rowsPerStretch = 0;
    uint64_t stageRecords = 0;  // a thread's staging, per band: the elements of a stretch, and one
    uint64_t storeRecords = 0;  // every kept draw, at most
};

constexpr uint64_t kStageBytes = 256 * 1024;  // a thread's staging for all bands

inline SideBySidePlan planSideBySide(const FrameValues& f, int32_t height, int parts,
                                     uint64_t drawBytes) {
    SideBySidePlan p;
    const uint64_t H = static_cast<uint64_t>(height), n = f.columns, rows = f.rows;
    p.bands = static_cast<uint32_t>(std::min<uint64_t>(H, static_cast<uint64_t>(parts)));
    const uint64_t perStretch = std::max<uint64_t>(1, kStageBytes / (p.bands * drawBytes));
    const uint64_t fewest = (rows + 4 * static_cast<uint64_t>(parts) - 1) /
                            (4 * static_cast<uint64_t>(parts));  // stretches enough to share
    p.rowsPerStretch = static_cast<uint32_t>(
        std::max<uint64_t>(1, std::min(perStretch / std::max<uint64_t>(n, 1), fewest)));
    p.stretches = static_cast<uint32_t>((rows + p.rowsPerStretch - 1) / p.rowsPerStretch);
    // One to spare: with a few bands a draw is also written past a full band.
    p.stageRecords = uint64_t{p.rowsPerStretch} * n + 1;
    // A pixel writes to one band; a cell h rows high to at most
    // (h - 1) / (the fewest rows of a band) + 2 of them.
    const uint64_t fewestRows = H / p.bands;
    const uint64_t bandsACell =
        f.perPixel ? 1 : std::min<uint64_t>(p.bands, (uint64_t(f.cellHeight) - 1) / fewestRows + 2);
    p.storeRecords = n * rows * bandsACell;
    return p;
}

// The traversal of a frame without late bindings shared out among threads
// (SideBySidePlan says how).
template <bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
class SideBySide {
public:
    using Settler = ElementSettler<DelayBytes, MoveNoise, Accel, Mode>;
    using Draw = typename Mode::Draw;

    SideBySide(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
               TaskRunner& tasks)
        : t_(t),
          samplers_(samplers),
          tasks_(tasks),
          parts_(tasks.width()),
          rowJump_(lcgJump(uint64_t(4) * t.grid.columns)),
          plan_(planSideBySide(*t.f, t.H, parts_, sizeof(Draw))),
          bands_(static_cast<uint32_t>(t.W), static_cast<uint32_t>(t.H), plan_.bands, t.memory),
          store_(plan_.storeRecords, t.memory),
          stages_(plan_.stageRecords * plan_.bands * static_cast<uint64_t>(parts_), t.memory),
          segments_(size_t{plan_.stretches} * plan_.bands, t.memory),
          fills_(size_t{plan_.bands} * static_cast<size_t>(parts_), t.memory),
          scratch_(size_t{kBindingCount} * t.grid.columns * static_cast<size_t>(parts_), t.memory),
          drawings_(t.memory) {
        drawings_.reserve(static_cast<size_t>(parts_));
        for (int i = 0; i < parts_; ++i) drawings_.emplace_back(t, t.grid.columns, true);
    }

    // The most that the constructor takes from its memory resource for a
    // frame of values `f` and H rows shared out among `parts`.
    static uint64_t workspaceBytes(const FrameValues& f, int32_t W, int32_t H, int parts) {
        const SideBySidePlan p = planSideBySide(f, H, parts, sizeof(Draw));
        const uint64_t n = f.columns, threads = static_cast<uint64_t>(parts);
        const uint64_t drawing =
            arrayBytes<uint32_t>(n + 3) + arrayBytes<typename Mode::Landing>(n);  // RowDrawing's
        return arrayBytes<typename BandMap::Block>(BandMap::blockCount(
                   static_cast<uint32_t>(W), static_cast<uint32_t>(H), p.bands)) +
               arrayBytes<Draw>(p.storeRecords) +
               arrayBytes<Draw>(p.stageRecords * p.bands * threads) +
               arrayBytes<Segment>(uint64_t{p.stretches} * p.bands) +
               arrayBytes<uint32_t>(uint64_t{p.bands} * threads) +
               arrayBytes<double>(uint64_t{kBindingCount} * n * threads) +
               arrayBytes<RowDrawing<Settler, Mode>>(threads) + drawing * threads;
    }

    __attribute__((noinline)) void run() {
        runTasks(&tasks_, parts_, [this](int part) {
            if (part == 0) {
                drawFront();
            } else {
                settleStretches(part);
            }
        });
        firstKept_ = static_cast<uint32_t>(claims_.load());
        runTasks(&tasks_, static_cast<int>(plan_.bands),
                 [this](int b) { drawBand(static_cast<uint32_t>(b)); });
    }

private:
    struct Segment {
        uint64_t first;
        uint32_t count;
    };

    // Where a thread stages the draws of a stretch, by band. With a few
    // bands their counts stay in registers: each draw is written to every
    // band's staging and only its own band's count moves, which keeps a
    // chain of loads and stores on one count out of the loop.
    static constexpr uint32_t kFewBands = 4;
    struct FewBandStage {
        Draw* stage;
        uint64_t capacity;  // draws per band
        uint32_t bands;
        uint32_t counts[kFewBands] = {};

        void reset() { std::fill(counts, counts + kFewBands, 0u); }
        uint32_t count(uint32_t b) const { return counts[b]; }
        void operator()(uint32_t b, const Draw& d) {
            for (uint32_t i = 0; i < kFewBands; ++i) {
                if (i < bands) stage[i * capacity + counts[i]] = d;
                counts[i] += b == i;
            }
        }
    };
    struct ManyBandStage {
        Draw* stage;
        uint64_t capacity;
        uint32_t* counts;
        uint32_t bands;

        void reset() { std::fill(counts, counts + bands, 0u); }
        uint32_t count(uint32_t b) const { return counts[b]; }
        void operator()(uint32_t b, const Draw& d) { stage[b * capacity + counts[b]++] = d; }
    };

    void settleStretches(int part) {
        const uint32_t B = plan_.bands;
        Draw* const stage = stages_.data() + plan_.stageRecords * B * static_cast<uint64_t>(part);
        if (B <= kFewBands) {
            settleStretches(part, FewBandStage{stage, plan_.stageRecords, B});
        } else {
            uint32_t* const counts = fills_.data() + size_t{B} * static_cast<size_t>(part);
            settleStretches(part, ManyBandStage{stage, plan_.stageRecords, counts, B});
        }
    }

    // Calls f(j, state0) for the rows of elements of stretch i in visiting
    // order: the row j, and the state its draws follow.
    template <class F>
    void eachRow(uint32_t i, F&& f) const {
        const uint32_t n = t_.grid.columns, rows = t_.grid.rows;
        uint32_t m = i * plan_.rowsPerStretch;
        const uint32_t mEnd = std::min(rows, m + plan_.rowsPerStretch);
        for (uint32_t state0 = rowState(m, n); m < mEnd; ++m, state0 = rowJump_(state0)) {
            f(t_.rowsReversed ? rows - 1 - m : m, state0);
        }
    }

    // Claims the next stretch from the front, or from the back: false when
    // none is left. The front's stretches all come before the back's.
    bool claim(bool front, uint32_t& i) {
        uint64_t c = claims_.load(std::memory_order_relaxed);
        for (;;) {
            const uint32_t fronts = static_cast<uint32_t>(c),
                           backs = static_cast<uint32_t>(c >> 32);
            if (uint64_t{fronts} + backs >= plan_.stretches) return false;
            if (claims_.compare_exchange_weak(c, front ? c + 1 : c + (uint64_t{1} << 32))) {
                i = front ? fronts : plan_.stretches - 1 - backs;
                return true;
            }
        }
    }

    // The stretches from the front are drawn straight away, as on one
    // thread: they come before every stretch the other threads keep, and
    // nothing else draws until they are done.
    void drawFront() {
        Settler settle(t_, samplers_, scratch_.data());
        RowDrawing<Settler, Mode>& drawing = drawings_[0];
        const bool fused = Mode::kFusable && t_.plan->fused;
        for (uint32_t i; claim(true, i);) {
            eachRow(i, [&](uint32_t j, uint32_t state0) {
                settle.startRow(j);
                drawRow(settle, drawing, t_, fused, j, state0);
            });
        }
    }

    // The other threads settle stretches from the back and keep their draws.
    template <class Stage>
    void settleStretches(int part, Stage keep) {
        const uint32_t n = t_.grid.columns, B = plan_.bands;
        Settler settle(t_, samplers_,
                       scratch_.data() + size_t{kBindingCount} * n * static_cast<size_t>(part));
        RowDrawing<Settler, Mode>& drawing = drawings_[static_cast<size_t>(part)];
        for (uint32_t i; claim(false, i);) {
            keep.reset();
            eachRow(i, [&](uint32_t j, uint32_t state0) {
                settle.startRow(j);
                settle.read(j, 0, n);
                const uint32_t count = drawing.settle(settle, 0, n, state0);
                for (uint32_t k = 0; k < count; ++k) {
                    const Pending<Mode> p = drawing[k];
                    settle.mode.keep(t_.columns[p.k], p.landing, bands_, keep);
                }
            });
            uint64_t total = 0;
            for (uint32_t b = 0; b < B; ++b) total += keep.count(b);
            uint64_t at = storeTop_.fetch_add(total);
            for (uint32_t b = 0; b < B; ++b) {
                segments_[size_t{i} * B + b] = {at, keep.count(b)};
                std::memcpy(store_.data() + at, keep.stage + b * plan_.stageRecords,
                            keep.count(b) * sizeof(Draw));
                at += keep.count(b);
            }
        }
    }

    void drawBand(uint32_t b) {
        Mode mode(t_);
        mode.keepTo(bands_.rows(b));
        for (uint32_t i = firstKept_; i < plan_.stretches; ++i) {
            const Segment s = segments_[size_t{i} * plan_.bands + b];
            const Draw* d = store_.data() + s.first;
            for (uint32_t k = 0; k < s.count; ++k) mode.replay(d[k]);
        }
    }

    const Traversal& t_;
    const ElementSampler (&samplers_)[kBindingCount];
    TaskRunner& tasks_;
    const int parts_;
    const LcgJump rowJump_;  // from one row's draws to the next's
    const SideBySidePlan plan_;
    const BandMap bands_;
    const UnclearedArray<Draw> store_;
    const UnclearedArray<Draw> stages_;
    std::pmr::vector<Segment> segments_;
    std::pmr::vector<uint32_t> fills_;  // each thread's staged draws, by band
    std::pmr::vector<double> scratch_;  // each thread's row of binding values
    std::pmr::vector<RowDrawing<Settler, Mode>> drawings_;
    std::atomic<uint64_t> claims_{0};  // stretches taken: from the front, and (<< 32) the back
    uint32_t firstKept_ = 0;           // the first stretch taken from the back
    std::atomic<uint64_t> storeTop_{0};
};

// The frame of `t`, shared out among `tasks`.
template <bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
void shareOut(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
              TaskRunner& tasks) {
    SideBySide<DelayBytes, MoveNoise, Accel, Mode>(t, samplers, tasks).run();
}

}  // namespace granulix::rendering
