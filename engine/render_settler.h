// The element settler and the traversal of a frame on one thread.
//
// ElementSettler works out where each element of a row goes (in place,
// displaced, or nowhere), specialised on the flags of the frame's plan;
// RowDrawing keeps a settled row's landing elements in visiting order;
// traverseRows walks the rows of a frame and draws them through a mode
// (render_modes.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "random_stream.h"
#include "render_four_wide.h"
#include "render_modes.h"
#include "render_traversal.h"

namespace granulix::rendering {

// One binding as the traversal reads it in one cell row.
struct BindingRow {
    const ElementSampler* sampler;
    double* scratch;  // the row's values when they have to be read
    const double* base = nullptr;

    void read(uint32_t j, uint32_t begin, uint32_t end) {
        base = sampler->gatherRow(j, scratch, begin, end);
    }
};

// Draw `n` of the element whose draws start after `state`, AND 255: the
// generator's bits 16..23 moved to the top of the word by a jump whose
// multiplier and increment are pre-shifted by 8, so one shift extracts them.
template <unsigned N>
inline uint32_t randomByte(uint32_t state) {
    constexpr LcgJump j = lcgJump(N);
    return (state * (j.mul << 8) + (j.add << 8)) >> 24;
}
constexpr LcgJump kElement = lcgJump(4);

// The generator's state before the draws of element k of visiting row m.
inline uint32_t rowState(uint32_t m, uint32_t n) {
    return lcgJump(uint64_t(4) * n * m)(RandomStream::kSeed);
}

// Where each element of a cell row goes, one row at a time: the element
// waits in place, moves to a landing, or is gone. Each element takes four
// draws of the stream, so the draws of element n follow state 4n, which
// each row reaches by a jump. Specialised per frame:
// - DelayBytes: the delay binding is a byte kind, read as its element is
//   settled rather than gathered into a row first;
// - MoveNoise: with a noise weight of 0 the movement samplers hold the speed
//   of each source value (the noise term is a zero and cannot move an index),
//   and draws 3 and 4 are not needed;
// - Accel: with no gravity and no wind the term a x t x t is a zero (or NaN
//   along with t): leaving it out changes at most the sign of a zero
//   displacement, which neither truncation nor subtraction from a coordinate
//   can see, and a displacement that is not finite stays so.
// One settler serves one thread; `scratch` holds kBindingCount rows of
// values.
template <bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
class ElementSettler {
public:
    using Landing = typename Mode::Landing;

    ElementSettler(const Traversal& t, const ElementSampler (&samplers)[kBindingCount],
                   double* scratch)
        : mode(t),
          columns(t.columns.data()),
          T_(t.f->time),
          D_(t.f->delayScale),
          S_(t.f->speedScale),
          g_(t.f->gravityAcceleration),
          w_(t.f->windAcceleration),
          rowBias_(t.rowBias),
          colBias_(t.colBias),
          f_(*t.f),
          r_(t.byRandom),
          speedY_(t.speedY),
          speedX_(t.speedX),
          delaySampler_(samplers[kDelay]),
          delay_{&samplers[kDelay], scratch},
          moveY_{&samplers[kMovingY], scratch + t.grid.columns},
          moveX_{&samplers[kMovingX], scratch + 2 * size_t{t.grid.columns}} {}

    void startRow(uint32_t j) {
        mode.startRow(j);
        if constexpr (DelayBytes) delayBytes_ = delaySampler_.byteRow(j);
    }

    // Reads the bindings of elements [begin, end) of cell row j.
    void read(uint32_t j, uint32_t begin, uint32_t end) {
        if constexpr (!DelayBytes) delay_.read(j, begin, end);
        moveY_.read(j, begin, end);
        moveX_.read(j, begin, end);
    }

    // Element k of the row, whose draws follow state s.
    Landing operator()(uint32_t k, uint32_t s) const {
        const Traversal::Column& c = columns[k];
        const double d = DelayBytes ? delayBytes_.at(k) : delay_.base[c.key[kDelay]];
        const double start = D_ * (d + r_.startNoise[randomByte<1>(s)]);
        if (!(T_ > start)) return mode.waiting(c);
        const double age = T_ - start;
        if (!(r_.life[randomByte<2>(s)] >= age)) return Mode::nowhere();
        const double time = S_ * age;
        // The speeds themselves, or with noise the terms that pick them.
        double vy = moveY_.base[c.key[kMovingY]], vx = moveX_.base[c.key[kMovingX]];
        if (MoveNoise) {
            vy = speedY_[static_cast<int>(vy + r_.moveNoise[randomByte<3>(s)] + rowBias_)];
            vx = speedX_[static_cast<int>(vx + r_.moveNoise[randomByte<4>(s)] + colBias_)];
        }
        if (Accel) {
            return mode.moving(c, vy * time + g_ * time * time, vx * time + w_ * time * time);
        }
        return mode.moving(c, vy * time, vx * time);
    }

#if GRANULIX_WIDE
    // The landings of elements [begin, end) into land[k], four side by side
    // while four are left: on every lane the double operations of
    // operator() in its order, with the values of Traversal::byRandom
    // computed as they were tabulated. Those that land are appended to
    // kept[count..], four words written at a time: kept has three to spare
    // beyond the row. Returns the first element not settled; `state` then
    // precedes its draws.
    GRANULIX_AVX2 uint32_t settleFours(uint32_t begin, uint32_t end, uint32_t& state, Landing* land,
                                       uint32_t* kept, uint32_t& count) const {
        const Mode local = this->mode;  // a copy that the stores to `land` cannot alias
        const double* const delay = delay_.base;
        const double* const moveY = moveY_.base;
        const double* const moveX = moveX_.base;
        const __m256d T = _mm256_set1_pd(T_), D = _mm256_set1_pd(D_), S = _mm256_set1_pd(S_);
        const __m256d noiseDelay = _mm256_set1_pd(f_.noiseDelay);
        const __m256d lifeSpread = _mm256_set1_pd(f_.lifeSpread);
        const __m256d lifeBase = _mm256_set1_pd(f_.lifeBase);
        const __m256d inv255 = _mm256_set1_pd(kInv255), g = _mm256_set1_pd(g_),
                      w = _mm256_set1_pd(w_);
        uint32_t k = begin, next = state, listed = count;  // kept local: no store in the chain
        for (; end - k >= 4; k += 4, next = kFourElements(next)) {
            const Traversal::Column* col = columns + k;
            const __m128i s = _mm_set1_epi32(static_cast<int32_t>(next));
            const __m256d d = DelayBytes
                                  ? _mm256_set_pd(delayBytes_.at(k + 3), delayBytes_.at(k + 2),
                                                  delayBytes_.at(k + 1), delayBytes_.at(k))
                                  : pickByKey(delay, col, kDelay);
            const __m256d r1 = _mm256_cvtepi32_pd(fourBytes<1>(s));
            const __m256d start = _mm256_mul_pd(D, _mm256_add_pd(d, _mm256_mul_pd(noiseDelay, r1)));
            const __m256d moves = _mm256_cmp_pd(T, start, _CMP_GT_OQ);
            const __m256d age = _mm256_sub_pd(T, start);
            const __m256d r2 = _mm256_cvtepi32_pd(fourBytes<2>(s));
            const __m256d life =
                _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(r2, lifeSpread), inv255), lifeBase);
            const __m256d alive = _mm256_cmp_pd(life, age, _CMP_GE_OQ);
            const __m256d time = _mm256_mul_pd(S, age);
            __m256d vy = pickByKey(moveY, col, kMovingY), vx = pickByKey(moveX, col, kMovingX);
            if constexpr (MoveNoise) {
                // The indices do not depend on the element's time: whether
                // it moves or not, they stay inside the speed tables.
                vy = pickSpeed(speedY_, vy, fourBytes<3>(s), f_.noiseMove, rowBias_);
                vx = pickSpeed(speedX_, vx, fourBytes<4>(s), f_.noiseMove, colBias_);
            }
            __m256d dy = _mm256_mul_pd(vy, time), dx = _mm256_mul_pd(vx, time);
            if constexpr (Accel) {
                dy = _mm256_add_pd(dy, _mm256_mul_pd(_mm256_mul_pd(g, time), time));
                dx = _mm256_add_pd(dx, _mm256_mul_pd(_mm256_mul_pd(w, time), time));
            }
            const int lands = local.landFour(col, moves, alive, dy, dx, land + k);
            const __m128i ks =
                _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(k)), _mm_setr_epi32(0, 1, 2, 3));
            const __m128i pack =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanePack.shuffle[lands]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(kept + listed), _mm_shuffle_epi8(ks, pack));
            listed += kLanePack.count[lands];
        }
        state = next;
        count = listed;
        return k;
    }
#endif

    Mode mode;
    const Traversal::Column* const columns;

private:
    const double T_, D_, S_, g_, w_, rowBias_, colBias_;
    const FrameValues& f_;
    const Traversal::ByRandom& r_;
    const double* const speedY_;
    const double* const speedX_;
    const ElementSampler& delaySampler_;
    BindingRow delay_, moveY_, moveX_;
    ElementSampler::ByteRow delayBytes_{};
};

// A row's element that lands in the frame, as RowDrawing hands it out.
template <class Mode>
struct Pending {
    uint32_t k;
    typename Mode::Landing landing;
};

// Settles a stretch of a row and keeps the elements that land, in visiting
// order. Which of them land follows the noise of the start times as often
// as not, so the list is filled without a branch on it.
template <class Settler, class Mode>
class RowDrawing {
public:
    RowDrawing(const Traversal& t, uint32_t n, bool needed)
        : columns_(t.columns.data()),
          kept_(needed ? n + 3 : 0, t.memory),
          landings_(needed ? n : 0, t.memory),
          fourWide_(t.plan->fourWide) {}

    // Settles elements [begin, end), the first of which draws after
    // `state`; returns how many of them land.
    uint32_t settle(Settler& settler, uint32_t begin, uint32_t end, uint32_t state) {
        typename Mode::Landing* land = landings_.data();
        uint32_t k = begin, count = 0;
#if GRANULIX_WIDE
        if (fourWide_) k = settler.settleFours(begin, end, state, land, kept_.data(), count);
#endif
        const uint32_t first = k;
        for (; k < end; ++k, state = kElement(state)) land[k] = settler(k, state);
        for (k = first; k < end; ++k) {
            kept_[count] = k;
            count += settler.mode.lands(columns_[k], land[k]);
        }
        return count;
    }

    Pending<Mode> operator[](uint32_t i) const {
        const uint32_t k = kept_[i];
        return {k, landings_[k]};
    }

private:
    const Traversal::Column* columns_;
    std::pmr::vector<uint32_t> kept_;  // three beyond the row for settleFours
    std::pmr::vector<typename Mode::Landing> landings_;
    bool fourWide_;
};

// One row j of a frame with late bindings. Settled ahead, an element has read
// the output before the elements of its row ahead of it were drawn. That
// holds until a draw touches a pixel row that late bindings read; from the
// element after such a draw the row is read and settled anew. The next
// stretch is twice the last one drawn, so even a row of touching draws costs
// at most twice the settling.
template <class Settler, class Mode>
void drawLateRow(Settler& settle, RowDrawing<Settler, Mode>& drawing, const Traversal& t,
                 const ElementSampler (&samplers)[kBindingCount], uint32_t j, uint32_t state0) {
    const uint32_t n = t.grid.columns;
    uint32_t readRows[kBindingCount];  // pixel rows of the output that they read
    int readCount = 0;
    for (const ElementSampler& b : samplers) {
        if (b.readsOutput()) readRows[readCount++] = b.imageRow(j);
    }
    uint32_t k = 0, stretch = n;
    while (k < n) {
        const uint32_t end = k + std::min(stretch, n - k);
        settle.read(j, k, end);
        const uint32_t count = drawing.settle(settle, k, end, lcgJump(uint64_t(4) * k)(state0));
        uint32_t next = end;
        for (uint32_t i = 0; i < count; ++i) {
            const Traversal::Column& c = t.columns[drawing[i].k];
            settle.mode.draw(c, drawing[i].landing);
            bool touched = false;
            for (int b = 0; b < readCount; ++b) {
                touched |= settle.mode.touches(c, drawing[i].landing, readRows[b]);
            }
            if (touched) {
                next = drawing[i].k + 1;
                stretch = 2 * (next - k);
                break;
            }
        }
        k = next;
    }
}

// Settles row j of elements, whose draws follow state0, and draws it: each
// element as it is settled (`fused`), or the row settled first and then the
// elements that land drawn in visiting order.
template <class Settler, class Mode>
__attribute__((always_inline)) inline void drawRow(Settler& settle,
                                                   RowDrawing<Settler, Mode>& drawing,
                                                   const Traversal& t, bool fused, uint32_t j,
                                                   uint32_t state0) {
    const uint32_t n = t.grid.columns;
    const Traversal::Column* columns = t.columns.data();
    settle.read(j, 0, n);
    if (fused) {
        uint32_t state = state0;
        for (uint32_t k = 0; k < n; ++k, state = kElement(state)) {
            settle.mode.draw(columns[k], settle(k, state));
        }
    } else {
        const uint32_t count = drawing.settle(settle, 0, n, state0);
        for (uint32_t i = 0; i < count; ++i) {
            settle.mode.draw(columns[drawing[i].k], drawing[i].landing);
        }
    }
}

// The rows of elements in visiting order on one thread, drawn as they are
// settled. Late: some binding is a byte kind of image 2, which reads the
// output as the elements visited before have left it (drawLateRow).
//
// Each specialisation is kept a function of its own: inlined into the
// dispatch (render_traversals.cpp), they ran measurably slower.
template <bool Late, bool DelayBytes, bool MoveNoise, bool Accel, class Mode>
__attribute__((noinline)) void traverseRows(const Traversal& t,
                                            const ElementSampler (&samplers)[kBindingCount]) {
    using Settler = ElementSettler<DelayBytes, MoveNoise, Accel, Mode>;
    const uint32_t n = t.grid.columns, rows = t.grid.rows;
    const LcgJump rowJump = lcgJump(uint64_t(4) * n);
    std::pmr::vector<double> scratch(kBindingCount * static_cast<size_t>(n), t.memory);
    Settler settle(t, samplers, scratch.data());
    const bool fused = Mode::kFusable && t.plan->fused;
    RowDrawing<Settler, Mode> drawing(t, n, Late || !fused);

    uint32_t state0 = RandomStream::kSeed;
    for (uint32_t m = 0; m < rows; ++m, state0 = rowJump(state0)) {
        const uint32_t j = t.rowsReversed ? rows - 1 - m : m;
        settle.startRow(j);
        if constexpr (Late) {
            drawLateRow(settle, drawing, t, samplers, j, state0);
        } else {
            drawRow(settle, drawing, t, fused, j, state0);
        }
    }
}
}  // namespace granulix::rendering
