// Size arithmetic that refuses what does not fit, for every place that turns
// a width, a height and bytes per pixel into the size of a block.
//
//   if (auto bytes = checkedProduct(SIZE_MAX, 4, width, height)) allocate(*bytes);
//   else refuse();
//
// Factors are taken as unsigned 64-bit values (a negative int converted to
// one is huge and so refused); the product is refused as soon as a partial
// product would exceed the limit, so nothing wraps on the way.
#pragma once

#include <cstdint>
#include <optional>

namespace granulix {

// Whether a * b is at most limit.
constexpr bool productFits(uint64_t a, uint64_t b, uint64_t limit = UINT64_MAX) {
    return b == 0 || a <= limit / b;
}

// Whether a + b is at most limit.
constexpr bool sumFits(uint64_t a, uint64_t b, uint64_t limit = UINT64_MAX) {
    return a <= limit && b <= limit - a;
}

// The product of the factors when it is at most limit, else nothing.
template <class... Factors>
constexpr std::optional<uint64_t> checkedProduct(uint64_t limit, uint64_t first, Factors... rest) {
    const uint64_t factors[] = {first, uint64_t(rest)...};
    uint64_t product = 1;
    for (const uint64_t factor : factors) {
        if (!productFits(product, factor, limit)) return std::nullopt;
        product *= factor;
    }
    return product;
}

}  // namespace granulix
