// The tests' side of the host boundary: the built module loaded by file name
// from the test program's folder, its exports found by name, and the records
// a host hands over, written byte by byte at their documented offsets rather
// than through the module's own structs.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "module_loader.h"
#include "plugin_abi.h"

namespace granulix::testing {

// The module, loaded once per test program. A module that cannot be loaded
// ends the program with a message.
const ModuleLibrary& module();

// A 24-bit host frame with random pixels, random row padding and random
// guard bytes before and after it, so that a stray write anywhere shows.
struct HostFrame {
    static constexpr size_t kGuard = 64;
    int32_t width, height;
    size_t stride;  // 3 bytes a pixel, rounded up to a multiple of 4
    std::vector<uint8_t> storage;

    HostFrame(int32_t w, int32_t h, uint32_t seed)
        : width(w),
          height(h),
          stride((3 * size_t(w) + 3) / 4 * 4),
          storage(2 * kGuard + stride * size_t(h)) {
        std::mt19937 gen(seed);
        for (auto& byte : storage) byte = static_cast<uint8_t>(gen());
    }
    uint8_t* rows() { return storage.data() + kGuard; }
    const uint8_t* rows() const { return storage.data() + kGuard; }
    uint8_t* pixel(size_t x, size_t y) { return rows() + y * stride + 3 * x; }
    const uint8_t* pixel(size_t x, size_t y) const { return rows() + y * stride + 3 * x; }
};

// The 40 bytes of a BITMAPINFOHEADER with the fields the module reads.
std::vector<uint8_t> frameHeader(int32_t width, int32_t height, uint16_t bitCount);

// A render request as a host lays it out for this build's pointer size.
struct RenderRecord {
    void* output = nullptr;
    const void* header = nullptr;
    const void* clipA = nullptr;
    const void* clipB = nullptr;
    float progress = 0.0f;
    int32_t regionX = 0, regionY = 0, regionWidth = 0, regionHeight = 0;
    const void* settings = nullptr;

    // The record's bytes; the stretches the module does not read hold noise.
    std::vector<uint8_t> encode() const;
};

// A setup request, likewise.
struct SetupRecord {
    void* owner = nullptr;
    int32_t frameCount = 0;
    uint32_t context = 0;
    abi::FrameFetch fetch = nullptr;
    void* settings = nullptr;

    std::vector<uint8_t> encode() const;
};

// Stores a value at a byte offset.
template <typename T>
void put(std::vector<uint8_t>& bytes, size_t offset, const T& value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// A frame set ready for the module: three frames of one size, one header.
struct HostFrames {
    HostFrame a, b, out;
    std::vector<uint8_t> header;

    HostFrames(int32_t w, int32_t h, uint32_t seed, uint16_t bitCount = 24)
        : a(w, h, seed),
          b(w, h, seed + 1),
          out(w, h, seed + 2),
          header(frameHeader(w, h, bitCount)) {}

    // A request over the whole frame with the given progress and settings.
    RenderRecord request(float progress, const void* settings = nullptr) {
        RenderRecord r;
        r.output = out.rows();
        r.header = header.data();
        r.clipA = a.rows();
        r.clipB = b.rows();
        r.progress = progress;
        r.regionWidth = a.width;
        r.regionHeight = a.height;
        r.settings = settings;
        return r;
    }
};

// Calls vxDLLApplyEffect with a render record.
int32_t applyRender(const RenderRecord& record, int32_t fieldMode, int32_t kind = 1);

}  // namespace granulix::testing
