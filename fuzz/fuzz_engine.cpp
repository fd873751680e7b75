// The engine on its own: the source value function with arbitrary
// arguments, and the renderer on small frames with an arbitrary settings
// block, duration and position.
//
// A source value lies in 0..255 and is a whole number for the byte kinds;
// the byte kinds read images of exactly width x height words, the ramps no
// image at all (null), over any frame size a work frame can have. A render
// leaves clip A and clip B alone and fills the output with nothing but clip
// B's own pixel or one of clip A's at every position.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "fuzz_inputs.h"
#include "render_job.h"
#include "renderer.h"
#include "source_map.h"

namespace {

using namespace granulix;
using fuzz::check;

void checkSourceValue(const fuzz::EngineInput& in, const uint8_t* noise, size_t noiseSize) {
    const bool ramp = in.kind >= kDiag1 && in.kind <= kBlack;
    uint32_t width, height;
    std::vector<uint32_t> image1, image2;
    if (ramp) {
        width = 1 + in.width % 0x7FFFFFFFu;
        height = 1 + in.height % 0x7FFFFFFFu;
    } else {
        width = 1 + in.width % 64;
        height = 1 + in.height % 64;
        image1.resize(size_t(width) * height);
        image2.resize(size_t(width) * height);
        fuzz::fillNoise(reinterpret_cast<uint8_t*>(image1.data()), image1.size() * 4, noise,
                        noiseSize);
        fuzz::fillNoise(reinterpret_cast<uint8_t*>(image2.data()), image2.size() * 4, nullptr, 0);
    }
    const double v =
        sourceValue(in.x, in.y, width, height, in.kind, in.repeatX, in.repeatY, in.oddX, in.oddY,
                    in.invert, ramp ? nullptr : image1.data(), ramp ? nullptr : image2.data());
    check(v >= 0.0 && v <= 255.0, "a source value lies in 0..255");
    if (!ramp) check(v == std::floor(v), "a byte kind gives a whole number");
}

void checkRender(const fuzz::EngineInput& in, const uint8_t* noise, size_t noiseSize) {
    const int32_t w = 1 + in.frameWidth % 32, h = 1 + in.frameHeight % 32;
    const size_t n = size_t(w) * size_t(h);
    std::vector<uint32_t> a(n), b(n), out(n, 0xDEADBEEF);
    fuzz::fillNoise(reinterpret_cast<uint8_t*>(a.data()), n * 4, noise, noiseSize);
    for (size_t i = 0; i < n; ++i) b[i] = uint32_t(i * 2654435761u);
    const std::vector<uint32_t> aBefore = a, bBefore = b;

    EffectSettings settings;
    std::memcpy(&settings, in.settings, kSettingsSize);
    render(
        workFramesJob(in.duration, in.position, w, h, {a.data(), b.data(), out.data()}, settings));

    check(a == aBefore && b == bBefore, "the clips are only read");
    check(std::memcmp(&settings, in.settings, kSettingsSize) == 0, "the settings are only read");
    const std::unordered_set<uint32_t> fromA(a.begin(), a.end());
    for (size_t i = 0; i < n; ++i) {
        check(out[i] == b[i] || fromA.count(out[i]) != 0,
              "every output pixel is clip B's own or one of clip A's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* noise;
    size_t noiseSize;
    const auto in = fuzz::readRecord<fuzz::EngineInput>(data, size, &noise, &noiseSize);
    checkSourceValue(in, noise, noiseSize);
    checkRender(in, noise, noiseSize);
    return 0;
}
