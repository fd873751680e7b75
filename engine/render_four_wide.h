// Four elements side by side: the AVX2 helpers of the element settler and
// the modes (wide_vectors.h says where they are built and when they run).
#pragma once

#include <cstdint>

#include "random_stream.h"
#include "render_traversal.h"
#include "wide_vectors.h"

#if GRANULIX_WIDE

namespace granulix::rendering {

// The four 64-bit lane masks of a comparison as four 32-bit ones.
GRANULIX_AVX2 inline __m128i wordMask(__m256d mask) {
    const __m128 low = _mm_castpd_ps(_mm256_castpd256_pd128(mask));
    const __m128 high = _mm_castpd_ps(_mm256_extractf128_pd(mask, 1));
    return _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
}

// The jumps from the state before element k's draws to draw `n` of
// elements k..k+3, pre-shifted by 8 as in randomByte.
struct FourJumps {
    alignas(16) uint32_t mul[4];
    alignas(16) uint32_t add[4];
};
constexpr FourJumps fourJumps(unsigned n) {
    FourJumps j{};
    for (unsigned lane = 0; lane < 4; ++lane) {
        j.mul[lane] = lcgJump(4 * lane + n).mul << 8;
        j.add[lane] = lcgJump(4 * lane + n).add << 8;
    }
    return j;
}

// Draw `N` of elements k..k+3, AND 255: randomByte on each lane.
template <unsigned N>
GRANULIX_AVX2 inline __m128i fourBytes(__m128i state) {
    static constexpr FourJumps j = fourJumps(N);
    const __m128i mul = _mm_load_si128(reinterpret_cast<const __m128i*>(j.mul));
    const __m128i add = _mm_load_si128(reinterpret_cast<const __m128i*>(j.add));
    return _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi32(state, mul), add), 24);
}
constexpr LcgJump kFourElements = lcgJump(16);

// table[index[i]] of lanes 0..3.
GRANULIX_AVX2 inline __m256d pick(const double* table, __m128i index) {
    alignas(16) uint32_t i[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
    return _mm256_set_pd(table[i[3]], table[i[2]], table[i[1]], table[i[0]]);
}

// For each set of four lanes (bit i: lane i), the byte shuffle that moves
// the 32-bit lanes in the set to the front, in order, and their count.
struct LanePack {
    uint8_t shuffle[16][16];
    uint8_t count[16];
};
constexpr LanePack makeLanePack() {
    LanePack p{};
    for (int set = 0; set < 16; ++set) {
        int n = 0;
        for (int lane = 0; lane < 4; ++lane) {
            if (!((set >> lane) & 1)) continue;
            for (int b = 0; b < 4; ++b) {
                p.shuffle[set][4 * n + b] = static_cast<uint8_t>(4 * lane + b);
            }
            ++n;
        }
        for (int b = 4 * n; b < 16; ++b) p.shuffle[set][b] = 0x80;
        p.count[set] = static_cast<uint8_t>(n);
    }
    return p;
}
constexpr LanePack kLanePack = makeLanePack();

// table[c[i].key[b]] of the elements c[0..3].
GRANULIX_AVX2 inline __m256d pickByKey(const double* table, const Traversal::Column* c, int b) {
    const __m256d low = _mm256_blend_pd(_mm256_broadcast_sd(table + c[0].key[b]),
                                        _mm256_broadcast_sd(table + c[1].key[b]), 0b1010);
    const __m256d high = _mm256_blend_pd(_mm256_broadcast_sd(table + c[2].key[b]),
                                         _mm256_broadcast_sd(table + c[3].key[b]), 0b1000);
    return _mm256_blend_pd(low, high, 0b1100);
}

// The speeds that movement terms and draws `r` pick, as the scalar settling
// does: table[int(term + (r - 128) x noiseMove + bias)].
GRANULIX_AVX2 inline __m256d pickSpeed(const double* table, __m256d term, __m128i r,
                                       double noiseMove, double bias) {
    const __m256d noise = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(r, _mm_set1_epi32(128))),
                                        _mm256_set1_pd(noiseMove));
    const __m256d index = _mm256_add_pd(_mm256_add_pd(term, noise), _mm256_set1_pd(bias));
    return pick(table, _mm256_cvttpd_epi32(index));
}

}  // namespace granulix::rendering

#endif  // GRANULIX_WIDE
