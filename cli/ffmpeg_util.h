// Small helpers shared by the FFmpeg input and output code.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

#include <string>

#include "media_demuxer.h"

namespace granulix::cli {

inline std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Flags for every conversion: exact rounding, full chroma resolution.
constexpr int kScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

// Reads packets of one stream of `file` into `decoder` until it gives a
// frame. `draining` is the caller's: set once the file has no more packets
// and the decoder is being flushed. Returns 0 with a frame in `into`,
// AVERROR_EOF at the end of the stream, or the FFmpeg error, with `what`
// set to "read" or "decode". A packet the decoder finds invalid is skipped
// when `skipInvalid`, and an error otherwise.
int decodeNext(MediaDemuxer& file, int stream, AVCodecContext* decoder, AVPacket* packet,
               bool& draining, AVFrame* into, bool skipInvalid, const char*& what);

// Sends `frame` (nullptr: the end) to `encoder` and writes every packet it
// gives back into `stream` of `format`. A packet without a duration gets
// `duration` (in the encoder's time base) when that is above 0. Returns 0
// or the FFmpeg error.
int encodeAndWrite(AVCodecContext* encoder, const AVFrame* frame, AVPacket* packet,
                   AVFormatContext* format, AVStream* stream, int64_t duration = 0);

}  // namespace granulix::cli
