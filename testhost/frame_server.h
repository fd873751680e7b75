// The host's side of preview frames: two clips served through the
// frame-fetch callback of a setup request, every call logged.
//
//   FrameServer server(Clip::generated(320, 240, 0), Clip::generated(320, 240, 1));
//   SetupRequest request{};
//   request.context = server.context();
//   request.fetch = FrameServer::fetch;
//   ... vxDLLApplyEffect(0, &request, 0) ...
//   server.calls();   // (track, context, position, operation) in order
//
// Plain C++ and no window system, so the native tests, the Windows tests and
// the Windows test host all serve frames the same way. Frames handed out by
// operation 4 stay valid until operation 3.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "plugin_abi.h"

namespace granulix::testhost {

// A clip of 24-bit frames of one size.
class Clip {
public:
    // A moving test picture; `look` 0 and 1 give two clearly different clips.
    static Clip generated(int32_t width, int32_t height, int look);
    // The same picture at every position, read from a 24- or 32-bit
    // uncompressed BMP file. Throws std::runtime_error with a reason.
    static Clip fromBmp(const std::string& path);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // A packed bitmap of the frame at a position: 40-byte header, then
    // bottom-up rows of 3 bytes per pixel padded to 4.
    std::vector<uint8_t> frameAt(int32_t position) const;

private:
    int32_t width_ = 0, height_ = 0;
    int look_ = 0;
    std::vector<uint8_t> still_;  // rows of a BMP clip; empty for generated ones
};

// Blue, green and red of a generated clip's pixel (x, y) at a position,
// packed as a work pixel (red in bits 16..23).
uint32_t generatedPixel(int look, int32_t x, int32_t y, int32_t position, int32_t width,
                        int32_t height);

struct FetchCall {
    int32_t track;
    uint32_t context;
    int32_t position;
    int32_t operation;
    bool operator==(const FetchCall& o) const {
        return track == o.track && context == o.context && position == o.position &&
               operation == o.operation;
    }
};

// How a server misbehaves on purpose, for tests of the module's guards.
struct Faults {
    bool refusePrepare = false;  // operation 2 answers 0
    bool nullFrameA = false;     // operation 4 answers null for track 0
    bool nullFrameB = false;     // ... for track 2
    uint16_t bitCountA = 24;     // bit count written into the headers
    uint16_t bitCountB = 24;
    bool zeroSizeA = false;        // width 0 in clip A's header
    bool negativeHeightB = false;  // height negated in clip B's header
};

class FrameServer {
public:
    FrameServer(Clip a, Clip b);
    ~FrameServer();
    FrameServer(const FrameServer&) = delete;
    FrameServer& operator=(const FrameServer&) = delete;

    uint32_t context() const { return context_; }
    static intptr_t GRANULIX_STDCALL fetch(int32_t track, uint32_t context, int32_t position,
                                           int32_t operation);

    const Clip& clipA() const { return a_; }
    const Clip& clipB() const { return b_; }
    void setFaults(const Faults& faults);

    // The calls so far, in order; safe to read from another thread.
    std::vector<FetchCall> calls() const;
    void clearCalls();
    // Frames handed out and not yet released by operation 3.
    std::size_t framesOutstanding() const;
    // Every call as one line of text, for a log.
    void setLog(void (*log)(const std::string& line)) { log_ = log; }

private:
    intptr_t answer(int32_t track, int32_t position, int32_t operation);

    Clip a_, b_;
    uint32_t context_;
    mutable std::mutex mutex_;
    Faults faults_;
    std::vector<FetchCall> calls_;
    std::vector<std::vector<uint8_t>> handedOut_;
    void (*log_)(const std::string&) = nullptr;
};

// Writes a packed 24-bit frame (header and rows) as a BMP file.
void writeBmp(const std::string& path, const std::vector<uint8_t>& packedFrame);

}  // namespace granulix::testhost
