#include "ffmpeg_util.h"

namespace granulix::cli {

int decodeNext(MediaDemuxer& file, int stream, AVCodecContext* decoder, AVPacket* packet,
               bool& draining, AVFrame* into, bool skipInvalid, const char*& what) {
    what = "decode";
    for (;;) {
        int result = avcodec_receive_frame(decoder, into);
        if (result == 0 || result == AVERROR_EOF) return result;
        if (result != AVERROR(EAGAIN)) return result;
        if (draining) return AVERROR_EOF;
        result = file.read(stream, packet);
        if (result == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (result < 0) {
            what = "read";
            return result;
        }
        result = avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        if (result == AVERROR_INVALIDDATA && skipInvalid) continue;
        if (result < 0 && result != AVERROR(EAGAIN)) return result;
    }
}

int encodeAndWrite(AVCodecContext* encoder, const AVFrame* frame, AVPacket* packet,
                   AVFormatContext* format, AVStream* stream, int64_t duration) {
    int result = avcodec_send_frame(encoder, frame);
    if (result < 0) return result;
    for (;;) {
        result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
        if (result < 0) return result;
        if (duration > 0 && packet->duration == 0) packet->duration = duration;
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        result = av_interleaved_write_frame(format, packet);
        if (result < 0) return result;
    }
}

}  // namespace granulix::cli
