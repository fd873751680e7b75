#include "module_host.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace granulix::testing {
namespace {

// Offsets of the render and setup requests, written out independently of
// the module's structs so that a fault in those shows up here.
struct RenderOffsets {
    size_t output, header, clipA, clipB, progress, regionX, regionY, regionWidth, regionHeight,
        settings, size;
};
struct SetupOffsets {
    size_t owner, frameCount, context, fetch, settings, size;
};

constexpr bool kWide = sizeof(void*) == 8;
constexpr RenderOffsets kRender = kWide ? RenderOffsets{8, 16, 24, 40, 76, 80, 84, 88, 92, 104, 112}
                                        : RenderOffsets{4, 8, 12, 20, 52, 56, 60, 64, 68, 76, 80};
constexpr SetupOffsets kSetup =
    kWide ? SetupOffsets{0, 12, 16, 24, 32, 40} : SetupOffsets{0, 8, 12, 16, 20, 24};

std::vector<uint8_t> noise(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0xA5 ^ (i * 29));
    return bytes;
}

}  // namespace

const ModuleLibrary& module() {
    // Loaded for the whole program and never unloaded.
    static const ModuleLibrary* loaded = [] {
        try {
            return new ModuleLibrary(programFolder() + GRANULIX_MODULE_FILE);
        } catch (const ModuleLoadError& e) {
            // Every module test would call into a module that is not there.
            std::fprintf(stderr, "%s\n", e.what());
            std::abort();
        }
    }();
    return *loaded;
}

std::vector<uint8_t> frameHeader(int32_t width, int32_t height, uint16_t bitCount) {
    std::vector<uint8_t> h(40, 0);
    put(h, 0, uint32_t{40});
    put(h, 4, width);
    put(h, 8, height);
    put(h, 12, uint16_t{1});
    put(h, 14, bitCount);
    return h;
}

std::vector<uint8_t> RenderRecord::encode() const {
    std::vector<uint8_t> r = noise(kRender.size);
    put(r, kRender.output, output);
    put(r, kRender.header, header);
    put(r, kRender.clipA, clipA);
    put(r, kRender.clipB, clipB);
    put(r, kRender.progress, progress);
    put(r, kRender.regionX, regionX);
    put(r, kRender.regionY, regionY);
    put(r, kRender.regionWidth, regionWidth);
    put(r, kRender.regionHeight, regionHeight);
    put(r, kRender.settings, settings);
    return r;
}

std::vector<uint8_t> SetupRecord::encode() const {
    std::vector<uint8_t> r = noise(kSetup.size);
    put(r, kSetup.owner, owner);
    put(r, kSetup.frameCount, frameCount);
    put(r, kSetup.context, context);
    put(r, kSetup.fetch, fetch);
    put(r, kSetup.settings, settings);
    return r;
}

int32_t applyRender(const RenderRecord& record, int32_t fieldMode, int32_t kind) {
    std::vector<uint8_t> bytes = record.encode();
    return module().applyEffect(kind, bytes.data(), fieldMode);
}

}  // namespace granulix::testing
