// An edit with its sound as one stream for a player that reads a pipe, as
// `granulix play` hands it to ffplay: NUT, the frames as raw 24-bit BGR, top
// line first (what the output "-" writes), and the sound as 32-bit float
// samples, interleaved so that the player can start at once.
//
//   Player reads `-f nut -`; openPlayerStream(fd, "to ffplay", w, h, rate, sound)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio_mix.h"
#include "clip_source.h"
#include "media_output.h"

namespace granulix::cli {

// FFmpeg's name of the stream's container, for a player's -f.
constexpr const char* kPlayerStreamFormat = "nut";

// Frames of `width` x `height` at `rate` and the sound of `sound`, written
// into the pipe or file `fd`; a failed write throws "cannot write `what`:
// REASON".
std::unique_ptr<FrameSink> openPlayerStream(int fd, const std::string& what, int32_t width,
                                            int32_t height, FrameRate rate, SoundTrack& sound);

}  // namespace granulix::cli
