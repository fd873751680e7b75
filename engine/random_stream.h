// The C runtime's linear congruential generator, which the transition
// reseeds with 1234 for every frame so that each element gets the same four
// random numbers in every frame of a transition.
#pragma once

#include <cstdint>

namespace granulix {

class RandomStream {
public:
    static constexpr uint32_t kMultiplier = 214013u;
    static constexpr uint32_t kIncrement = 2531011u;
    static constexpr uint32_t kSeed = 1234u;

    explicit RandomStream(uint32_t seed = kSeed) : state_(seed) {}

    // Next value in 0..32767.
    uint32_t next() {
        state_ = state_ * kMultiplier + kIncrement;
        return (state_ >> 16) & 32767u;
    }
    uint32_t state() const { return state_; }

private:
    uint32_t state_;
};

// Multiplier and increment of n steps at once: state_n = mul * state + add.
struct LcgJump {
    uint32_t mul;
    uint32_t add;

    constexpr uint32_t operator()(uint32_t state) const { return mul * state + add; }
};

// n steps of the generator as one affine map, by repeated squaring, so that a
// traversal can land on any element's draws without stepping to them.
constexpr LcgJump lcgJump(uint64_t steps) {
    LcgJump result{1u, 0u};
    LcgJump power{RandomStream::kMultiplier, RandomStream::kIncrement};  // 2^i steps
    for (; steps != 0; steps >>= 1) {
        // Powers of one map commute, so the order of composition is free.
        if (steps & 1u) result = {power.mul * result.mul, power.mul * result.add + power.add};
        power = {power.mul * power.mul, power.mul * power.add + power.add};
    }
    return result;
}

}  // namespace granulix
