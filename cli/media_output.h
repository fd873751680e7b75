// Where rendered frames go. The kind of output follows from its name:
//   .mp4 .mkv .mov   H.264 video        .webm   VP9 video
//   frame-%04d.png   one PNG per frame, numbered from 0
//   -                raw frames on standard output: 24-bit BGR, top line
//                    first, no padding (FFmpeg's pixel format "bgr24")
// Files are written under temporary names beside their targets and renamed
// only by finish() (see output_files.h for what replacing a file keeps);
// a sink destroyed before that removes what it wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_mix.h"
#include "clip_source.h"
#include "host_frame.h"

namespace granulix::cli {

class FrameSink {
public:
    virtual ~FrameSink() = default;

    // Work that may run on any thread before write(), such as compressing
    // a PNG; sinks without such work return an empty vector.
    virtual std::vector<uint8_t> prepare(const HostFrame&) const { return {}; }
    // Frames arrive in order, each with what prepare() made of it.
    virtual void write(const HostFrame& frame, std::vector<uint8_t>&& prepared) = 0;
    // Completes the output and gives it its name.
    virtual void finish() = 0;
};

// Throws a usage error for a name of no known kind, CliError when the
// output cannot be created or would replace a file it may not (`force`
// allows read-only ones). `frameCount` frames will be written. A video
// output gets a sound stream made of `sound` when one is given.
std::unique_ptr<FrameSink> openSink(const std::string& target, int32_t width, int32_t height,
                                    FrameRate rate, int frameCount, bool force,
                                    SoundTrack* sound = nullptr);

// Whether the output named `target` can carry sound.
bool outputTakesSound(const std::string& target);

// The frame size the output named `target` is written at: video outputs keep
// 4:2:0 colour, which needs even sizes, so an odd side is rounded down (and
// `changed` set). Throws a usage error for a size the output cannot hold.
void fitFrameToOutput(const std::string& target, int32_t& width, int32_t& height, bool& changed);

// Throws a usage error when a video output cannot keep time at `rate`.
void checkOutputRate(const std::string& target, FrameRate rate);

// A rate as a ratio of whole numbers: 29.97002997 becomes 30000/1001.
FrameRate frameRateOf(double framesPerSecond);

// Throws a usage error when a PNG picture of that size cannot be made.
void checkPngSize(const std::string& target, int64_t width, int64_t height);

// Whether `target` names a kind of output openSink knows.
void checkSinkName(const std::string& target);

// A PNG file image of the frame (8-bit RGB, top line first).
std::vector<uint8_t> encodePng(const HostFrame& frame);

}  // namespace granulix::cli
