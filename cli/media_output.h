// Where rendered frames go. The kind of output follows from its name:
//   .mp4 .mkv .mov   H.264 video        .webm   VP9 video
//                    (or another encoder chosen with VideoEncoding)
//   frame-%04d.png   one PNG per frame, numbered from 0
//   -                raw frames on standard output: 24-bit BGR, top line
//                    first, no padding (FFmpeg's pixel format "bgr24")
// Files are written under temporary names beside their targets and renamed
// only by finish() (see output_files.h for what replacing a file keeps);
// a sink destroyed before that removes what it wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio_mix.h"
#include "clip_source.h"
#include "host_frame.h"

namespace granulix::cli {

// How a video output is encoded. Empty texts keep the defaults: the codec
// its container takes by default, then that codec's own quality, speed and
// 4:2:0 pixel format. Colours unspecified in `colour` are written as BT.709
// with limited range.
struct VideoEncoding {
    std::string codec;        // h264, h265, vp9, av1, prores, ffv1
    std::string crf;          // the encoder's constant-quality level
    std::string preset;       // the encoder's speed preset
    std::string pixelFormat;  // FFmpeg's name: yuv420p, yuv422p10le, ...
    std::vector<std::pair<std::string, std::string>> options;  // passed to the encoder
    ColourTags colour;                                         // clip A's
};

// The --codec names a video output takes, for help texts: "h264, h265, ...".
std::string codecNames();

// Throws a usage error when `target` cannot take `encoding`: any encoding
// for an output that is no video, a codec its container cannot hold, a
// pixel format its encoder lacks; CliError when FFmpeg lacks the encoder.
void checkEncodingTarget(const std::string& target, const VideoEncoding& encoding);

// What a sink makes of a frame before it writes it: a file's bytes, or a
// picture in the encoder's pixel format.
struct PreparedFrame {
    std::vector<uint8_t> bytes;
    std::shared_ptr<AVFrame> picture;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;

    // Work that may run on any thread before write(), such as compressing
    // a PNG; sinks without such work return nothing.
    virtual PreparedFrame prepare(const HostFrame&) const { return {}; }
    // The same for a clip's decoded picture that is to be written as it is,
    // without being drawn into a host frame first; none when the sink only
    // takes host frames, or not this picture.
    virtual std::optional<PreparedFrame> preparePicture(const AVFrame&) const {
        return std::nullopt;
    }
    // Frames arrive in order, each with what prepare() or preparePicture()
    // made of it; after preparePicture(), `frame` is not looked at.
    virtual void write(const HostFrame& frame, PreparedFrame&& prepared) = 0;
    // Completes the output and gives it its name.
    virtual void finish() = 0;
    // Bytes written so far; -1 when not known.
    virtual int64_t bytesWritten() const { return -1; }
};

// Throws a usage error for a name of no known kind or an encoding the
// output cannot take, CliError when the output cannot be created or would
// replace a file it may not (`force` allows read-only ones). `frameCount`
// frames will be written. A video output gets a sound stream made of
// `sound` when one is given.
std::unique_ptr<FrameSink> openSink(const std::string& target, int32_t width, int32_t height,
                                    FrameRate rate, int frameCount, bool force,
                                    const VideoEncoding& encoding = {},
                                    SoundTrack* sound = nullptr);

// The files already under the names the output `target` writes or removes:
// the file itself, or every frame of a numbered pattern's sequence.
std::vector<std::string> existingOutputFiles(const std::string& target);

// Whether the output named `target` can carry sound.
bool outputTakesSound(const std::string& target);

// Raw frames, as the output "-" writes them, into the pipe or file `fd`;
// a failed write throws "cannot write `what`: REASON".
std::unique_ptr<FrameSink> openRawSink(int fd, const std::string& what, int32_t width,
                                       int32_t height);

// The frame size the output named `target` is written at: a video output
// whose pixel format halves the colour across or down (4:2:0, 4:2:2) needs
// an even size that way, so an odd side is rounded down (and `changed` set).
// Throws a usage error for a size the output cannot hold.
void fitFrameToOutput(const std::string& target, const VideoEncoding& encoding, int32_t& width,
                      int32_t& height, bool& changed);

// Throws a usage error when a video output cannot keep time at `rate`.
void checkOutputRate(const std::string& target, FrameRate rate);

// A rate as a ratio of whole numbers: 29.97002997 becomes 30000/1001. The
// divisor is at most kFinestRateDivisor; a rate below 1/kFinestRateDivisor
// comes out as 0/1.
constexpr int kFinestRateDivisor = 100000;
FrameRate frameRateOf(double framesPerSecond);

// Throws a usage error when a PNG picture of that size cannot be made.
void checkPngSize(const std::string& target, int64_t width, int64_t height);

// Whether `target` names a kind of output openSink knows.
void checkSinkName(const std::string& target);

// A PNG file image of the frame (8-bit RGB, top line first).
std::vector<uint8_t> encodePng(const HostFrame& frame);

}  // namespace granulix::cli
