#include "media_demuxer.h"

#include <algorithm>
#include <new>

#include "cli_error.h"

namespace granulix::cli {

namespace {

// A well interleaved file keeps the packets of one moment within a second
// or so of each other; this is room for several seconds of raw 4K video.
constexpr int64_t kMaxWaitingBytes = int64_t(512) << 20;

}  // namespace

MediaDemuxer::~MediaDemuxer() {
    for (Follower& f : followers_) dropWaiting(f);
    avformat_close_input(&format_);
}

int MediaDemuxer::open(const std::string& path) {
    path_ = path;
    const int result = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    return result < 0 ? result : avformat_find_stream_info(format_, nullptr);
}

MediaDemuxer::Follower* MediaDemuxer::followerOf(int stream) {
    for (Follower& f : followers_) {
        if (f.stream == stream) return &f;
    }
    return nullptr;
}

void MediaDemuxer::dropWaiting(Follower& f) {
    for (AVPacket* p : f.waiting) {
        waitingBytes_ -= p->size;
        av_packet_free(&p);
    }
    f.waiting.clear();
}

void MediaDemuxer::follow(int stream) {
    if (!followerOf(stream)) followers_.push_back({stream, {}});
}

void MediaDemuxer::unfollow(int stream) {
    const auto f = std::find_if(followers_.begin(), followers_.end(),
                                [stream](const Follower& g) { return g.stream == stream; });
    if (f == followers_.end()) return;
    dropWaiting(*f);
    followers_.erase(f);
}

int MediaDemuxer::read(int stream, AVPacket* packet) {
    Follower* own = followerOf(stream);
    if (own && !own->waiting.empty()) {
        AVPacket* first = own->waiting.front();
        own->waiting.pop_front();
        waitingBytes_ -= first->size;
        av_packet_move_ref(packet, first);
        av_packet_free(&first);
        return 0;
    }
    for (;;) {
        const int result = av_read_frame(format_, packet);
        if (result < 0 || packet->stream_index == stream) return result;
        Follower* other = followerOf(packet->stream_index);
        if (!other) {
            av_packet_unref(packet);
            continue;
        }
        if (waitingBytes_ + packet->size > kMaxWaitingBytes) {
            av_packet_unref(packet);
            throw CliError("cannot read the pictures and the sound of " + path_ +
                           " side by side: one of them lies more than " +
                           std::to_string(kMaxWaitingBytes >> 20) +
                           " MB ahead of the other in the file");
        }
        AVPacket* kept = av_packet_alloc();
        if (!kept) {
            av_packet_unref(packet);
            throw std::bad_alloc();
        }
        av_packet_move_ref(kept, packet);
        other->waiting.push_back(kept);
        waitingBytes_ += kept->size;
    }
}

int bestStream(AVFormatContext* format, AVMediaType type, const AVCodec** decoder) {
    const int stream = av_find_best_stream(format, type, -1, -1, decoder, 0);
    return stream < 0 || (decoder && !*decoder) ? -1 : stream;
}

StreamDecoder::~StreamDecoder() {
    av_packet_free(&packet);
    avcodec_free_context(&context);
}

int StreamDecoder::open(const AVFormatContext& format, int stream, const AVCodec& codec,
                        int threads, bool packetTimes) {
    context = avcodec_alloc_context3(&codec);
    packet = av_packet_alloc();
    if (!context || !packet) throw std::bad_alloc();
    const AVStream& s = *format.streams[stream];
    const int result = avcodec_parameters_to_context(context, s.codecpar);
    if (result < 0) return result;
    context->thread_count = threads;
    if (packetTimes) context->pkt_timebase = s.time_base;
    return avcodec_open2(context, &codec, nullptr);
}

int MediaDemuxer::seek(int stream, int64_t timestamp, int flags) {
    const int result = av_seek_frame(format_, stream, timestamp, flags);
    if (result >= 0) {
        for (Follower& f : followers_) dropWaiting(f);
    }
    return result;
}

}  // namespace granulix::cli
