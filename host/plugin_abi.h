// The records that cross the boundary between a host and the Granulix module,
// and the module's three exports. This one header serves the module and every
// host (the command-line host, the Windows test host, the tests).
//
// Exports (C calling convention, 32-bit results, 1 = success, 0 = failure;
// nothing is thrown across them, nothing is kept between calls):
//   vxDLLGetEffInfo(info)            fills an EffectInfo in the host's memory and
//                                    returns 1; NULL writes nothing and still returns 1
//   vxDLLGetDefault(settings)        writes the defaults into the host's 424-byte
//                                    block (its reserved bytes kept) and returns 1;
//                                    NULL returns 0
//   vxDLLApplyEffect(kind, rec, fm)  kind != 0: renders one frame from a RenderRequest,
//                                    1 when the output rows were written, 0 when
//                                    nothing was (bad record, not 24 bits per pixel,
//                                    no memory); kind == 0: runs the setup dialog on
//                                    a SetupRequest, 1 when the host's settings were
//                                    replaced. A NULL record returns 0.
// The host owns every frame, the settings block and the EffectInfo memory; the
// module's work memory lives only for the length of one call.
//
// Layouts are pinned for 32-bit pointers, as the shipping module sees them.
// In 64-bit builds the field order and the size of every unread stretch stay,
// pointers and window handles take 8 bytes with natural alignment, and the
// frame-fetch callback returns a pointer-sized value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // keep std::min and std::max usable wherever this header goes
#endif
#include <windows.h>
#define GRANULIX_CDECL __cdecl
#define GRANULIX_STDCALL __stdcall
#else
#define GRANULIX_CDECL
#define GRANULIX_STDCALL
#endif

namespace granulix::abi {

// What vxDLLGetEffInfo writes; at least 268 bytes, packed.
struct EffectInfo {
    char category[45];      // "F/X"
    char name[20];          // "Granulix"
    char description[131];  // "Va dissipates and reveal Vb."
    // The numbers from offset 196 on, except settingsSize, are constants the
    // host reads to learn how to treat the effect. What each one selects is
    // the host's business and is not recorded anywhere we have: the module
    // never reads them back and derives nothing from them, so the only rule
    // is to write exactly these values on every call, in every build.
    int32_t value196;          // host constant, always 1
    int32_t value200;          // host constant, always 0
    int32_t value204;          // host constant, always 0
    int32_t value208;          // host constant, always 0
    int32_t value212;          // host constant, always 0x300 (768)
    int32_t value216;          // host constant, always 0
    int32_t value220;          // host constant, always 0
    uint8_t untouched224[24];  // the host's own bytes, left as they are
    int32_t value248;          // host constant, always 0
    uint8_t untouched252[8];   // the host's own bytes, left as they are
    int32_t settingsSize;      // 424: the bytes the host keeps per settings block
    int32_t value264;          // host constant, always 40
};
static_assert(sizeof(EffectInfo) == 268);
static_assert(offsetof(EffectInfo, category) == 0);
static_assert(offsetof(EffectInfo, name) == 45);
static_assert(offsetof(EffectInfo, description) == 65);
static_assert(offsetof(EffectInfo, value196) == 196);
static_assert(offsetof(EffectInfo, value200) == 200);
static_assert(offsetof(EffectInfo, value204) == 204);
static_assert(offsetof(EffectInfo, value208) == 208);
static_assert(offsetof(EffectInfo, value212) == 212);
static_assert(offsetof(EffectInfo, value216) == 216);
static_assert(offsetof(EffectInfo, value220) == 220);
static_assert(offsetof(EffectInfo, untouched224) == 224);
static_assert(offsetof(EffectInfo, value248) == 248);
static_assert(offsetof(EffectInfo, untouched252) == 252);
static_assert(offsetof(EffectInfo, settingsSize) == 260);
static_assert(offsetof(EffectInfo, value264) == 264);

// The header of a device-independent bitmap, as the platform lays it out
// (BITMAPINFOHEADER). Only width, height and bitCount are read.
struct FrameHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
static_assert(sizeof(FrameHeader) == 40);
static_assert(offsetof(FrameHeader, size) == 0);
static_assert(offsetof(FrameHeader, width) == 4);
static_assert(offsetof(FrameHeader, height) == 8);
static_assert(offsetof(FrameHeader, planes) == 12);
static_assert(offsetof(FrameHeader, bitCount) == 14);
static_assert(offsetof(FrameHeader, compression) == 16);
static_assert(offsetof(FrameHeader, sizeImage) == 20);
static_assert(offsetof(FrameHeader, xPelsPerMeter) == 24);
static_assert(offsetof(FrameHeader, yPelsPerMeter) == 28);
static_assert(offsetof(FrameHeader, clrUsed) == 32);
static_assert(offsetof(FrameHeader, clrImportant) == 36);
#if defined(_WIN32)
// The platform's own header has the same layout, in 32-bit and 64-bit builds.
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biSize) == offsetof(FrameHeader, size));
static_assert(offsetof(BITMAPINFOHEADER, biWidth) == offsetof(FrameHeader, width));
static_assert(offsetof(BITMAPINFOHEADER, biHeight) == offsetof(FrameHeader, height));
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == offsetof(FrameHeader, planes));
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == offsetof(FrameHeader, bitCount));
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == offsetof(FrameHeader, compression));
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == offsetof(FrameHeader, sizeImage));
static_assert(offsetof(BITMAPINFOHEADER, biXPelsPerMeter) == offsetof(FrameHeader, xPelsPerMeter));
static_assert(offsetof(BITMAPINFOHEADER, biYPelsPerMeter) == offsetof(FrameHeader, yPelsPerMeter));
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == offsetof(FrameHeader, clrUsed));
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == offsetof(FrameHeader, clrImportant));
static_assert(sizeof(HWND) == sizeof(void*));
#endif

// vxDLLApplyEffect with a non-zero kind: one frame to render. The three
// frames share one header: 24 bits per pixel, rows padded to 4 bytes,
// bottom-up.
struct RenderRequest {
    uint8_t unread0[4];
    uint8_t* output;
    const FrameHeader* header;
    const uint8_t* clipA;  // "Va"
    uint8_t unread16[4];
    const uint8_t* clipB;  // "Vb"
    uint8_t unread24[28];
    float progress;   // 0.0 .. 1.0
    int32_t regionX;  // processing rectangle, in memory row order
    int32_t regionY;
    int32_t regionWidth;
    int32_t regionHeight;
    uint8_t unread72[4];
    uint8_t* settings;  // the host's 424-byte block, or null
};

// The frame-fetch callback a host lends during setup: (track, context,
// position, operation). Operation 2 asks whether frames can be had, 4 fetches
// a packed 24-bit bitmap (header, then rows at offset 40) of track 0 (clip A)
// or 2 (clip B), 3 releases what 4 returned.
using FrameFetch = intptr_t(GRANULIX_STDCALL*)(int32_t track, uint32_t context, int32_t position,
                                               int32_t operation);

// vxDLLApplyEffect with kind 0: run the setup dialog.
struct SetupRequest {
#if defined(_WIN32)
    HWND owner;
#else
    void* owner;
#endif
    uint8_t unread4[4];
    int32_t frameCount;  // length of the transition in frames
    uint32_t context;    // handed back to fetch unchanged
    FrameFetch fetch;
    uint8_t* settings;  // the host's 424-byte block to edit
};

enum : int32_t { kFetchPrepare = 2, kFetchRelease = 3, kFetchFrame = 4 };
enum : int32_t { kTrackClipA = 0, kTrackClipB = 2 };

// The unread stretches keep their byte size whatever the pointer size.
static_assert(sizeof(RenderRequest::unread0) == 4 && sizeof(RenderRequest::unread16) == 4 &&
              sizeof(RenderRequest::unread24) == 28 && sizeof(RenderRequest::unread72) == 4 &&
              sizeof(SetupRequest::unread4) == 4);
static_assert(sizeof(RenderRequest::progress) == 4 && sizeof(SetupRequest::context) == 4);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(RenderRequest, unread0) == 0);
static_assert(offsetof(RenderRequest, output) == 4);
static_assert(offsetof(RenderRequest, header) == 8);
static_assert(offsetof(RenderRequest, clipA) == 12);
static_assert(offsetof(RenderRequest, unread16) == 16);
static_assert(offsetof(RenderRequest, clipB) == 20);
static_assert(offsetof(RenderRequest, unread24) == 24);
static_assert(offsetof(RenderRequest, progress) == 52);
static_assert(offsetof(RenderRequest, regionX) == 56);
static_assert(offsetof(RenderRequest, regionY) == 60);
static_assert(offsetof(RenderRequest, regionWidth) == 64);
static_assert(offsetof(RenderRequest, regionHeight) == 68);
static_assert(offsetof(RenderRequest, unread72) == 72);
static_assert(offsetof(RenderRequest, settings) == 76);
static_assert(sizeof(RenderRequest) == 80);
static_assert(offsetof(SetupRequest, owner) == 0);
static_assert(offsetof(SetupRequest, unread4) == 4);
static_assert(offsetof(SetupRequest, frameCount) == 8);
static_assert(offsetof(SetupRequest, context) == 12);
static_assert(offsetof(SetupRequest, fetch) == 16);
static_assert(offsetof(SetupRequest, settings) == 20);
static_assert(sizeof(SetupRequest) == 24);
#if defined(_WIN32)
// On 32-bit x86 the callee of the callback removes its four arguments.
static_assert(!std::is_same_v<FrameFetch, intptr_t(__cdecl*)(int32_t, uint32_t, int32_t, int32_t)>);
#endif
#else
static_assert(offsetof(RenderRequest, unread0) == 0);
static_assert(offsetof(RenderRequest, output) == 8);
static_assert(offsetof(RenderRequest, header) == 16);
static_assert(offsetof(RenderRequest, clipA) == 24);
static_assert(offsetof(RenderRequest, unread16) == 32);
static_assert(offsetof(RenderRequest, clipB) == 40);
static_assert(offsetof(RenderRequest, unread24) == 48);
static_assert(offsetof(RenderRequest, progress) == 76);
static_assert(offsetof(RenderRequest, regionX) == 80);
static_assert(offsetof(RenderRequest, regionY) == 84);
static_assert(offsetof(RenderRequest, regionWidth) == 88);
static_assert(offsetof(RenderRequest, regionHeight) == 92);
static_assert(offsetof(RenderRequest, unread72) == 96);
static_assert(offsetof(RenderRequest, settings) == 104);
static_assert(sizeof(RenderRequest) == 112);
static_assert(offsetof(SetupRequest, owner) == 0);
static_assert(offsetof(SetupRequest, unread4) == 8);
static_assert(offsetof(SetupRequest, frameCount) == 12);
static_assert(offsetof(SetupRequest, context) == 16);
static_assert(offsetof(SetupRequest, fetch) == 24);
static_assert(offsetof(SetupRequest, settings) == 32);
static_assert(sizeof(SetupRequest) == 40);
#endif

// Signatures of the exports, for hosts that look them up by name.
using GetEffInfoFn = int32_t(GRANULIX_CDECL*)(EffectInfo* info);
using GetDefaultFn = int32_t(GRANULIX_CDECL*)(uint8_t* settings);
using ApplyEffectFn = int32_t(GRANULIX_CDECL*)(int32_t kind, void* record, int32_t fieldMode);

// Bytes in one row of a 24-bit host frame: 3 per pixel, padded to 4.
constexpr uint64_t hostRowBytes(uint64_t width) { return (3 * width + 3) & ~uint64_t{3}; }

}  // namespace granulix::abi
