// vxDLLApplyEffect's render path with everything a host hands over chosen by
// the fuzzer: header (width, height, bit count), processing rectangle,
// progress, field mode and the 424-byte settings block.
//
// Frames are allocated at exactly the size their header promises, so a read
// or write past a row shows up under AddressSanitizer. What the call must
// leave alone is checked: clip A and clip B always, the output wherever it
// lies outside the clipped rectangle, and all of it when the result is 0.
// Frames above the memory cap are only offered when the module must refuse
// them unread (more pixels than a work frame can address); the frames
// behind such a header are a few bytes long.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_conversion.h"
#include "fuzz_inputs.h"
#include "plugin_abi.h"
#include "render_call.h"

extern "C" int32_t vxDLLApplyEffect(int32_t kind, void* record, int32_t fieldMode);

namespace {

using namespace granulix;
using fuzz::check;

constexpr uint64_t kFrameCap = 48 * 1024;  // bytes of one host frame

// [begin, end) of a range of `count` items from `start`, inside 0..extent-1.
void clipped(uint32_t start, uint32_t count, int32_t extent, uint64_t& begin, uint64_t& end) {
    const uint64_t limit = extent > 0 ? uint64_t(extent) : 0;
    begin = std::min<uint64_t>(start, limit);
    end = std::min<uint64_t>(uint64_t(start) + count, limit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* noise;
    size_t noiseSize;
    const auto in = fuzz::readRecord<fuzz::RenderEntryInput>(data, size, &noise, &noiseSize);

    const bool positive = in.width > 0 && in.height > 0;
    const uint64_t stride = positive ? abi::hostRowBytes(uint64_t(in.width)) : 0;
    const uint64_t frameBytes = positive ? stride * uint64_t(in.height) : 0;
    const bool mustRefuse = in.bitCount != 24 || !positive ||
                            host::workBlockBytes(in.width, in.height, in.fieldMode) == 0;
    const bool withinCap = frameBytes <= kFrameCap;
    // A frame the module would take but that does not fit the cap: not offered.
    if (!withinCap && !mustRefuse) return 0;
    const size_t allocated = withinCap && frameBytes > 0 ? size_t(frameBytes) : 16;

    std::vector<uint8_t> clipA(allocated), clipB(allocated), output(allocated);
    fuzz::fillNoise(clipA.data(), allocated, noise, noiseSize);
    fuzz::fillNoise(clipB.data(), allocated, noise + noiseSize / 2, noiseSize - noiseSize / 2);
    fuzz::fillNoise(output.data(), allocated, nullptr, 0);
    const bool inPlace = (in.flags & fuzz::kRenderOutputIsClipB) != 0;
    uint8_t* outRows = inPlace ? clipB.data() : output.data();
    const std::vector<uint8_t> clipABefore = clipA;
    const std::vector<uint8_t> clipBBefore = clipB;
    const std::vector<uint8_t> outBefore(outRows, outRows + allocated);

    const abi::FrameHeader header = abi::hostFrameHeader(in.width, in.height, in.bitCount);
    std::vector<uint8_t> settings(in.settings, in.settings + kSettingsSize);
    const std::vector<uint8_t> settingsBefore = settings;

    abi::RenderRequest request = abi::renderRequest(
        header, {clipA.data(), clipB.data(), outRows}, in.progress,
        (in.flags & fuzz::kRenderNoSettings) ? nullptr : settings.data(),
        abi::RenderRegion{in.regionX, in.regionY, in.regionWidth, in.regionHeight});
    // The unread stretches hold noise.
    std::memset(request.unread0, 0xEE, sizeof request.unread0);
    std::memset(request.unread16, 0xEE, sizeof request.unread16);
    std::memset(request.unread24, 0xEE, sizeof request.unread24);
    std::memset(request.unread72, 0xEE, sizeof request.unread72);

    const int32_t kind = in.kind == 0 ? 1 : in.kind;
    const int32_t result = vxDLLApplyEffect(kind, &request, in.fieldMode);

    check(result == 0 || result == 1, "the result is 0 or 1");
    check(clipA == clipABefore, "clip A is only read");
    check(settings == settingsBefore, "the settings block is only read");
    if (mustRefuse) check(result == 0, "a frame the module cannot take is refused");
    if (!mustRefuse) check(result == 1, "a 24-bit frame of usable size renders");
    if (!inPlace) check(clipB == clipBBefore, "clip B is only read");
    if (result == 0) {
        check(std::memcmp(outRows, outBefore.data(), allocated) == 0,
              "a refused call leaves the output untouched");
        return 0;
    }

    uint64_t x0, x1, y0, y1;
    clipped(uint32_t(in.regionX), uint32_t(in.regionWidth), in.width, x0, x1);
    clipped(uint32_t(in.regionY), uint32_t(in.regionHeight), in.height, y0, y1);
    for (uint64_t y = 0; y < uint64_t(in.height); ++y) {
        const bool rowInside = y >= y0 && y < y1;
        for (uint64_t i = 0; i < stride; ++i) {
            const bool inside = rowInside && i >= 3 * x0 && i < 3 * x1;
            const size_t at = size_t(y * stride + i);
            if (!inside && outRows[at] != outBefore[at]) {
                fuzz::fail("bytes outside the rectangle are never written");
            }
        }
    }
    return 0;
}
