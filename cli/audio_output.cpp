#include "audio_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

#include "cli_error.h"
#include "ffmpeg_util.h"

namespace granulix::cli {

namespace {

// `rate` when the encoder takes it (Opus takes a few rates only), else
// 48000 or the encoder's first.
int supportedRate(const AVCodec& codec, int rate) {
    if (!codec.supported_samplerates) return rate;
    for (const int* r = codec.supported_samplerates; *r; ++r) {
        if (*r == rate) return rate;
    }
    for (const int* r = codec.supported_samplerates; *r; ++r) {
        if (*r == 48000) return 48000;
    }
    return codec.supported_samplerates[0];
}

// Planar or packed float when the encoder takes it, else its first format.
AVSampleFormat sampleFormatFor(const AVCodec& codec) {
    if (!codec.sample_fmts) return AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT) return *f;
    }
    return codec.sample_fmts[0];
}

}  // namespace

SoundEncoder::SoundEncoder(AVFormatContext& format, SoundTrack& track, const std::string& target)
    : format_(format), track_(track), target_(target) {
    const bool webm = std::strcmp(format.oformat->name, "webm") == 0;
    // A stream for a player (NUT) carries the mix itself, with no coder's delay.
    const bool nut = std::strcmp(format.oformat->name, "nut") == 0;
    const char* encoderName = webm ? "libopus" : nut ? "pcm_f32le" : "aac";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec) {
        throw CliError("cannot write " + target_ + ": FFmpeg lacks the " + encoderName +
                       " encoder");
    }
    stream_ = avformat_new_stream(&format, nullptr);
    encoder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!stream_ || !encoder_ || !frame_ || !packet_) {
        release();
        throw std::bad_alloc();
    }
    try {
        encoder_->sample_rate = supportedRate(*codec, track.sampleRate());
        encoder_->sample_fmt = sampleFormatFor(*codec);
        encoder_->time_base = AVRational{1, encoder_->sample_rate};
        int result = av_channel_layout_copy(&encoder_->ch_layout, &track.layout());
        if (result < 0) fail(result);
        if (format.oformat->flags & AVFMT_GLOBALHEADER)
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        result = avcodec_open2(encoder_, codec, nullptr);
        if (result < 0) fail(result);
        result = avcodec_parameters_from_context(stream_->codecpar, encoder_);
        if (result < 0) fail(result);
        stream_->time_base = encoder_->time_base;
        const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
        track.start(encoder_->sample_fmt, anySize ? 0 : encoder_->frame_size,
                    encoder_->sample_rate);
    } catch (...) {
        release();
        throw;
    }
}

SoundEncoder::~SoundEncoder() { release(); }

void SoundEncoder::release() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&encoder_);
}

void SoundEncoder::writeUntil(double seconds) {
    while (!ended_ && double(samples_) < seconds * encoder_->sample_rate) {
        if (!encodeNext()) ended_ = true;
    }
}

void SoundEncoder::finish() {
    while (!ended_) {
        if (!encodeNext()) ended_ = true;
    }
    send(nullptr);
}

bool SoundEncoder::encodeNext() {
    if (!track_.next(frame_)) return false;
    frame_->pts = samples_;
    samples_ += frame_->nb_samples;
    send(frame_);
    av_frame_unref(frame_);
    return true;
}

void SoundEncoder::send(const AVFrame* frame) {
    const int result = encodeAndWrite(encoder_, frame, packet_, &format_, stream_);
    if (result < 0) fail(result);
}

void SoundEncoder::fail(int code) const {
    throw CliError("cannot write the sound of " + target_ + ": " + ffmpegError(code));
}

}  // namespace granulix::cli
