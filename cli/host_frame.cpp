#include "host_frame.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "checked_size.h"
#include "cli_error.h"

namespace granulix::cli {

HostFrame::HostFrame(int32_t w, int32_t h) : width(w), height(h) {
    if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide) {
        throw CliError("a frame of " + std::to_string(w) + "x" + std::to_string(h) +
                       " pixels is not possible (1 to " + std::to_string(kMaxFrameSide) +
                       " pixels each way)");
    }
    stride = abi::hostRowBytes(uint64_t(w));
    const auto total = checkedProduct(SIZE_MAX, stride, uint64_t(h));
    if (!total) {
        throw CliError("a frame of " + std::to_string(w) + "x" + std::to_string(h) +
                       " pixels does not fit in memory");
    }
    bytes.assign(std::size_t(*total), 0);
}

}  // namespace granulix::cli
