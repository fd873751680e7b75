// How the fuzz targets read their input bytes, shared with fuzz_seeds.cpp,
// which writes the committed seed corpora in the same layouts.
//
// Each target that needs structured values reads one packed record from the
// front of its input (zero-filled when the input is shorter) and takes the
// bytes after it as pixel noise. A record field holds the raw value the
// module receives from outside; where a target has to fold a value (to keep
// frames within its memory cap) it says so.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "effect_settings.h"

namespace granulix::fuzz {

// Reads a record from the front of the input; the rest is `tail`.
template <typename Record>
Record readRecord(const uint8_t* data, size_t size, const uint8_t** tail, size_t* tailSize) {
    Record r;
    std::memset(&r, 0, sizeof r);
    const size_t n = std::min(size, sizeof r);
    if (n) std::memcpy(&r, data, n);
    *tail = data + n;
    *tailSize = size - n;
    return r;
}

// Fills `out` from the noise bytes, repeating them; a fixed pattern when
// there are none.
inline void fillNoise(uint8_t* out, size_t count, const uint8_t* noise, size_t noiseSize) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = noiseSize ? uint8_t(noise[i % noiseSize] + i / noiseSize) : uint8_t(i * 37 + 11);
    }
}

// A failed property of a target: prints it and stops, so that libFuzzer keeps
// the input that showed it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

#pragma pack(push, 1)

// fuzz_render_entry: one vxDLLApplyEffect render call.
struct RenderEntryInput {
    int32_t kind;   // 0 becomes 1: kind 0 takes a setup record
    int32_t width;  // the frame header's fields
    int32_t height;
    uint16_t bitCount;
    float progress;
    int32_t regionX, regionY, regionWidth, regionHeight;
    int32_t fieldMode;
    uint8_t flags;  // see kRender* below
    uint8_t settings[kSettingsSize];
};
enum : uint8_t {
    kRenderNoSettings = 1,     // a null settings pointer
    kRenderOutputIsClipB = 2,  // the output rows are clip B's own rows
};

// fuzz_settings_file: the input is the file itself; no record.

// fuzz_preview_hook: what the fake host answers.
struct FakeFrame {
    uint8_t present;  // 0: operation 4 returns null
    uint16_t bitCount;
    int32_t width, height;
    uint8_t extraPadding;  // the host's rows are this many words (mod 4) longer
};
struct PreviewInput {
    uint8_t wholeCall;            // odd: a whole setup call; even: the hook on a small job
    uint8_t prepareResult;        // answer to operation 2 (0: no frames)
    uint8_t jobWidth, jobHeight;  // the small job's size, 1 + value % 64
    int32_t frameCount;
    uint32_t baseUnits;
    int32_t dialogAnswer;
    uint8_t hookCalls;  // preview fetches the dialog makes, value % 4
    uint32_t positions[3];
    FakeFrame clipA, clipB;
    uint8_t settings[kSettingsSize];
};

// fuzz_engine: one source value and one render of small frames.
struct EngineInput {
    uint32_t x, y;
    uint32_t width, height;  // ramps: 1 .. 2^31 - 1; byte kinds: 1 + value % 64
    uint32_t kind, repeatX, repeatY;
    int32_t oddX, oddY, invert;
    uint8_t frameWidth, frameHeight;  // the render: 1 + value % 32
    uint32_t duration, position;
    uint8_t settings[kSettingsSize];
};

// fuzz_frei0r: parameter sets on one plug-in instance, then one frame.
struct Frei0rSet {
    int8_t index;  // the parameter; out-of-range indices included
    double value;  // any bits: NaN, infinities, far outside 0..1
};
struct Frei0rInput {
    uint8_t width, height;  // the instance's frame size: value % 40, 0 included
    uint8_t file;           // value % 3: no file, a missing one, the tail as a file
    uint8_t setCount;       // value % 9 sets, after the file
    Frei0rSet sets[8];
};

#pragma pack(pop)

// fuzz_command_line: NUL-separated words; the first chooses the command.

}  // namespace granulix::fuzz
