// The sound stream of a video output: a SoundTrack encoded as AAC, or as
// Opus in WebM (as 32-bit float samples in NUT, the stream `granulix play`
// hands its player), and written into the output's container beside the
// pictures, kept no further ahead of them than the pictures written.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <string>

#include "audio_mix.h"

namespace granulix::cli {

class SoundEncoder {
public:
    // Adds the stream to `format`, before its header is written, and starts
    // `track` for the encoder. `target` names the output in messages.
    SoundEncoder(AVFormatContext& format, SoundTrack& track, const std::string& target);
    ~SoundEncoder();
    SoundEncoder(const SoundEncoder&) = delete;
    SoundEncoder& operator=(const SoundEncoder&) = delete;

    // Writes the sound up to `seconds` into the output.
    void writeUntil(double seconds);
    // Writes the rest of the sound and empties the encoder.
    void finish();

private:
    bool encodeNext();
    void send(const AVFrame* frame);
    [[noreturn]] void fail(int code) const;
    void release();

    AVFormatContext& format_;
    SoundTrack& track_;
    std::string target_;
    AVStream* stream_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t samples_ = 0;
    bool ended_ = false;
};

}  // namespace granulix::cli
