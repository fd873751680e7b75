// One media file opened once and read by one reader per stream: a clip's
// pictures and its sound. A packet that is read for one stream while it
// belongs to another waits in that stream's queue until its reader asks,
// so a file that can be read only once (a pipe, a named FIFO) serves both.
//
// Use: open(), follow() each stream a reader will take, then read() the
// packets of one stream after another, all on one thread. A reader finds
// its stream with bestStream() and decodes it with a StreamDecoder.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace granulix::cli {

class MediaDemuxer {
public:
    MediaDemuxer() = default;
    ~MediaDemuxer();
    MediaDemuxer(const MediaDemuxer&) = delete;
    MediaDemuxer& operator=(const MediaDemuxer&) = delete;

    // Opens `path` and reads what its streams hold; 0 or FFmpeg's error.
    int open(const std::string& path);
    AVFormatContext* format() const { return format_; }

    // Packets of `stream` are kept for its reader from now on; those of
    // streams nobody follows are dropped as they are read.
    void follow(int stream);
    // The reader of `stream` needs no more: what waits for it is dropped,
    // and so is what comes.
    void unfollow(int stream);

    // The next packet of `stream`, a followed one, into `packet`: 0,
    // AVERROR_EOF at the end of the file, or FFmpeg's error. Throws
    // CliError when the other streams' packets read on the way would hold
    // more memory than a file whose streams are interleaved ever needs.
    int read(int stream, AVPacket* packet);
    // av_seek_frame(); what waited from before the seek is dropped.
    int seek(int stream, int64_t timestamp, int flags);

private:
    struct Follower {
        int stream;
        std::deque<AVPacket*> waiting;
    };
    Follower* followerOf(int stream);
    void dropWaiting(Follower& f);

    AVFormatContext* format_ = nullptr;
    std::string path_;
    std::vector<Follower> followers_;
    int64_t waitingBytes_ = 0;
};

// The stream of `type` FFmpeg picks as the file's main one: its index, or
// -1 when there is none. With `decoder`, only a stream FFmpeg can decode,
// and its decoder goes there.
int bestStream(AVFormatContext* format, AVMediaType type, const AVCodec** decoder = nullptr);

// A decoder for one stream of a file and the packet it is fed through,
// both freed with it.
struct StreamDecoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;

    StreamDecoder() = default;
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // Sets the decoder `codec` up for stream `stream` of `format` and opens
    // it on `threads` threads (0: as many as help); with `packetTimes` it
    // is told the time base of the packets, which sound decoders need to
    // count the samples they skip. Returns 0 or FFmpeg's error; throws
    // std::bad_alloc.
    int open(const AVFormatContext& format, int stream, const AVCodec& codec, int threads,
             bool packetTimes);
};

}  // namespace granulix::cli
