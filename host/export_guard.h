// The guard every export runs its body in: whatever the body throws
// (std::bad_alloc from the renderer's tables, or anything else) becomes the
// failure result 0 instead of unwinding into a host that knows nothing of
// C++ exceptions.
#pragma once

#include <cstdint>

namespace granulix::host {

template <typename Call>
int32_t guarded(Call&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return 0;
    }
}

}  // namespace granulix::host
