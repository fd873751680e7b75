// Where the frames of clip A and clip B come from: a file that FFmpeg reads
// (media_input.h) or a pattern generated in code (builtin_clips.h).
//
// Clips are read by time, in order, on one thread; the pictures chosen are
// drawn (converted, scaled, placed) by work that can run on other threads.
// Output frame i of a transition at R frames per
// second shows, from each clip, the picture on screen i / R seconds after
// the clip's first picture, whatever the clip's own frame rate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "host_frame.h"

namespace granulix::cli {

// Frames per second as a ratio, such as 30000/1001.
struct FrameRate {
    int num = 25;
    int den = 1;
    double value() const { return double(num) / double(den); }
    bool operator==(const FrameRate& o) const {
        return int64_t(num) * o.den == int64_t(o.num) * den;
    }
};

// How a clip's colours are to be read, as its file tags them; a video output
// carries clip A's tags. Unspecified where the file says nothing.
struct ColourTags {
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
};

// How a picture of another shape than the output frame is placed in it.
enum class FitMode {
    kPad,      // whole picture, shape kept, black bars where it does not reach
    kCrop,     // frame filled, shape kept, the picture's overhang cut off
    kStretch,  // frame filled, shape lost
};

using PictureTask = std::function<void(HostFrame& out)>;
// A picture as its decoder made it, shared by the work that reads it.
using DecodedPicture = std::shared_ptr<const AVFrame>;

class ClipSource {
public:
    virtual ~ClipSource() = default;
    // The picture shown at output frame `index` of a `rate` output, as work
    // that writes it into a frame, scaled and placed to that frame's size.
    // Calls come with indices that never decrease, from one thread; the work
    // may run later on any thread, beside other work of the same clip. A
    // clip that has run out holds its last picture. Both throw CliError when
    // the clip cannot be read, decoded or converted.
    virtual PictureTask pictureAt(int64_t index, FrameRate rate) = 0;
    // The decoded picture that pictureAt() gives for `index`, when drawing
    // it into a `width`x`height` frame would change only the form of its
    // colours: stored at that size, upright, nothing cut off or scaled.
    // None otherwise, and for clips that are not decoded. Same calling
    // rules as pictureAt(), whose calls it may share an index with.
    virtual DecodedPicture unchangedPictureAt(int64_t, FrameRate, int32_t /*width*/,
                                              int32_t /*height*/) {
        return nullptr;
    }
    // The clip's own frame rate; none for a still picture.
    virtual std::optional<FrameRate> rate() const = 0;
    // Whether the clip brings sound.
    virtual bool hasSound() const { return false; }
    // The colour tags of the clip's first picture.
    virtual ColourTags colourTags() const { return {}; }
    // Seconds the clip plays; none for one without an end.
    virtual std::optional<double> length() const { return std::nullopt; }
};

}  // namespace granulix::cli
