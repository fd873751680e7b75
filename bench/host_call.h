// The host's side of one render call, for the programs that time it: three
// 24-bit frames of random bytes with padded rows, the frame header and the
// request record, laid out as a host lays them out, at mid-transition over
// the whole frame.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "effect_settings.h"
#include "plugin_abi.h"
#include "render_call.h"

namespace granulix::bench {

// 1080 rows: 1920 x 1080; 2160 rows: 3840 x 2160.
inline int32_t widthFor(int32_t height) { return height * 16 / 9; }

struct HostCall {
    abi::FrameHeader header{};
    std::vector<uint8_t> a, b, out;
    EffectSettings settings;
    abi::RenderRequest request{};

    HostCall(int32_t rows, const EffectSettings& s) : settings(s) {
        const int32_t width = widthFor(rows);
        const size_t bytes = size_t(abi::hostRowBytes(uint64_t(width))) * size_t(rows);
        a.resize(bytes);
        b.resize(bytes);
        out.resize(bytes);
        std::mt19937 g(7);
        for (auto& p : a) p = static_cast<uint8_t>(g());
        for (auto& p : b) p = static_cast<uint8_t>(g());
        header = abi::hostFrameHeader(width, rows);
        request = abi::renderRequest(header, {a.data(), b.data(), out.data()}, 0.5f,
                                     reinterpret_cast<uint8_t*>(&settings));
    }
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;
};

}  // namespace granulix::bench
