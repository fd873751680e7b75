#include "media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "cli_error.h"
#include "ffmpeg_util.h"

namespace granulix::cli {

struct VideoFileClip::State {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* current = nullptr;  // the picture next() hands out (held at the end)
    AVFrame* ahead = nullptr;    // the one after it, decoded in advance
    bool haveAhead = false;
    bool draining = false;       // the demuxer is done; the decoder is being flushed
    int stream = -1;
    SwsContext* scaler = nullptr;

    struct Conversion {
        int width, height, format, space, range, outWidth, outHeight;
        bool operator==(const Conversion& o) const {
            return width == o.width && height == o.height && format == o.format &&
                   space == o.space && range == o.range && outWidth == o.outWidth &&
                   outHeight == o.outHeight;
        }
    };
    Conversion conversion{};

    ~State() {
        sws_freeContext(scaler);
        av_frame_free(&ahead);
        av_frame_free(&current);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    // YUV pictures carry their colour matrix and range; RGB ones need neither.
    void useColourTags(const AVFrame& f) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f.format));
        if (!d || (d->flags & AV_PIX_FMT_FLAG_RGB) || d->nb_components < 3) return;
        int* inverse;
        int* table;
        int sourceRange, destRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(scaler, &inverse, &sourceRange, &table, &destRange,
                                     &brightness, &contrast, &saturation) < 0) {
            return;
        }
        const int matrix = f.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(f.colorspace);
        if (f.color_range == AVCOL_RANGE_JPEG) sourceRange = 1;
        sws_setColorspaceDetails(scaler, sws_getCoefficients(matrix), sourceRange, table,
                                 destRange, brightness, contrast, saturation);
    }

    [[noreturn]] void fail(const std::string& what, int code) const {
        throw CliError("cannot " + what + " " + path + ": " + ffmpegError(code));
    }

    // Decodes the next picture of the stream into `into`; false at the end.
    bool decode(AVFrame* into) {
        for (;;) {
            int result = avcodec_receive_frame(decoder, into);
            if (result == 0) return true;
            if (result == AVERROR_EOF) return false;
            if (result != AVERROR(EAGAIN)) fail("decode", result);
            if (draining) return false;
            result = av_read_frame(format, packet);
            if (result == AVERROR_EOF) {
                draining = true;
                avcodec_send_packet(decoder, nullptr);
                continue;
            }
            if (result < 0) fail("read", result);
            if (packet->stream_index == stream) {
                result = avcodec_send_packet(decoder, packet);
                av_packet_unref(packet);
                if (result < 0 && result != AVERROR(EAGAIN)) fail("decode", result);
            } else {
                av_packet_unref(packet);
            }
        }
    }

    void advance() {
        if (!haveAhead) return;  // the clip has ended: hold the last picture
        av_frame_unref(current);
        av_frame_move_ref(current, ahead);
        haveAhead = decode(ahead);
    }

    void convert(HostFrame& out) {
        const AVFrame* f = current;
        const Conversion wanted{f->width, f->height, f->format, f->colorspace, f->color_range,
                                out.width, out.height};
        if (!scaler || !(wanted == conversion)) {
            sws_freeContext(scaler);
            scaler = sws_getContext(f->width, f->height, AVPixelFormat(f->format), out.width,
                                    out.height, AV_PIX_FMT_BGR24, kScaleFlags, nullptr, nullptr,
                                    nullptr);
            if (!scaler) {
                const char* name = av_get_pix_fmt_name(AVPixelFormat(f->format));
                throw CliError("cannot convert the pictures of " + path + " (pixel format " +
                               (name ? name : "unknown") + ")");
            }
            useColourTags(*f);
            conversion = wanted;
        }
        // Writing upwards from the top line turns the picture into bottom-up rows.
        uint8_t* destination[4] = {out.lineFromTop(0), nullptr, nullptr, nullptr};
        const int destinationStride[4] = {-int(out.stride), 0, 0, 0};
        sws_scale(scaler, f->data, f->linesize, 0, f->height, destination, destinationStride);
    }
};

VideoFileClip::VideoFileClip(const std::string& path) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = path;
    int result = avformat_open_input(&s.format, path.c_str(), nullptr, nullptr);
    if (result < 0) s.fail("read", result);
    result = avformat_find_stream_info(s.format, nullptr);
    if (result < 0) s.fail("read", result);
    const AVCodec* codec = nullptr;
    s.stream = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (s.stream < 0 || !codec) throw CliError("no picture to decode in " + path);
    s.decoder = avcodec_alloc_context3(codec);
    if (!s.decoder) throw std::bad_alloc();
    result = avcodec_parameters_to_context(s.decoder, s.format->streams[s.stream]->codecpar);
    if (result < 0) s.fail("decode", result);
    s.decoder->thread_count = 0;
    result = avcodec_open2(s.decoder, codec, nullptr);
    if (result < 0) s.fail("decode", result);
    s.packet = av_packet_alloc();
    s.current = av_frame_alloc();
    s.ahead = av_frame_alloc();
    if (!s.packet || !s.current || !s.ahead) throw std::bad_alloc();
    s.haveAhead = s.decode(s.ahead);
    if (!s.haveAhead) throw CliError("no picture to decode in " + path);
    if (s.ahead->width < 1 || s.ahead->height < 1) throw CliError("no picture to decode in " + path);
}

VideoFileClip::~VideoFileClip() = default;

int32_t VideoFileClip::width() const {
    return state_->haveAhead ? state_->ahead->width : state_->current->width;
}

int32_t VideoFileClip::height() const {
    return state_->haveAhead ? state_->ahead->height : state_->current->height;
}

void VideoFileClip::next(HostFrame& out) {
    state_->advance();
    state_->convert(out);
}

void VideoFileClip::skip() { state_->advance(); }

void silenceFfmpegLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace granulix::cli
