// A video file written by FFmpeg's encoders: one of the outputs openSink
// opens by name (media_output.h), with the sound of an edit beside its
// pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio_mix.h"
#include "clip_source.h"
#include "media_output.h"

namespace granulix::cli {

// Opens the video output `target`, whose name ends in `extension` (one of
// the video outputs' own); throws as openSink does.
std::unique_ptr<FrameSink> openVideoSink(const std::string& target, const std::string& extension,
                                         int32_t width, int32_t height, FrameRate rate, bool force,
                                         const VideoEncoding& encoding, SoundTrack* sound);

}  // namespace granulix::cli
