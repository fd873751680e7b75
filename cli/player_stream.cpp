#include "player_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "audio_output.h"
#include "cli_error.h"
#include "ffmpeg_util.h"
#include "output_files.h"

namespace granulix::cli {

namespace {

constexpr int kBufferBytes = 1 << 16;

class PlayerStream : public FrameSink {
public:
    PlayerStream(int fd, const std::string& what, int32_t width, int32_t height, FrameRate rate,
                 SoundTrack& sound)
        : fd_(fd), what_(what), row_(std::size_t(width) * 3), height_(height), rate_(rate) {
        try {
            open(width, height, sound);
        } catch (...) {
            release();
            throw;
        }
    }
    ~PlayerStream() override { release(); }
    PlayerStream(const PlayerStream&) = delete;
    PlayerStream& operator=(const PlayerStream&) = delete;

    void write(const HostFrame& frame, PreparedFrame&&) override {
        int result = av_new_packet(packet_, int(row_ * std::size_t(height_)));
        if (result < 0) fail(result);
        for (int32_t line = 0; line < height_; ++line) {
            std::memcpy(packet_->data + row_ * std::size_t(line), frame.lineFromTop(line), row_);
        }
        packet_->pts = packet_->dts = nextPts_++;
        packet_->duration = 1;
        packet_->flags |= AV_PKT_FLAG_KEY;
        packet_->stream_index = stream_->index;
        av_packet_rescale_ts(packet_, AVRational{rate_.den, rate_.num}, stream_->time_base);
        result = av_interleaved_write_frame(format_, packet_);
        if (result < 0) fail(result);
        sound_->writeUntil(double(nextPts_) * rate_.den / rate_.num);
    }

    void finish() override {
        sound_->finish();
        int result = av_write_trailer(format_);
        if (result < 0) fail(result);
        avio_flush(format_->pb);
        if (format_->pb->error < 0) fail(format_->pb->error);
    }

    int64_t bytesWritten() const override { return written_; }

private:
    void open(int32_t width, int32_t height, SoundTrack& sound) {
        int result =
            avformat_alloc_output_context2(&format_, nullptr, kPlayerStreamFormat, nullptr);
        if (result < 0) fail(result);
        stream_ = avformat_new_stream(format_, nullptr);
        packet_ = av_packet_alloc();
        if (!stream_ || !packet_) throw std::bad_alloc();
        AVCodecParameters& video = *stream_->codecpar;
        video.codec_type = AVMEDIA_TYPE_VIDEO;
        video.codec_id = AV_CODEC_ID_RAWVIDEO;
        video.codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_BGR24);
        video.format = AV_PIX_FMT_BGR24;
        video.width = width;
        video.height = height;
        video.sample_aspect_ratio = AVRational{1, 1};
        stream_->time_base = AVRational{rate_.den, rate_.num};
        stream_->avg_frame_rate = stream_->r_frame_rate = AVRational{rate_.num, rate_.den};
        sound_ = std::make_unique<SoundEncoder>(*format_, sound, "the stream " + what_);

        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
        if (!buffer) throw std::bad_alloc();
        format_->pb = avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr, writeOut, nullptr);
        if (!format_->pb) {
            av_free(buffer);
            throw std::bad_alloc();
        }
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        result = avformat_write_header(format_, nullptr);
        if (result < 0) fail(result);
    }

#if LIBAVFORMAT_VERSION_MAJOR >= 61
    static int writeOut(void* opaque, const uint8_t* data, int size) {
#else
    static int writeOut(void* opaque, uint8_t* data, int size) {
#endif
        auto* self = static_cast<PlayerStream*>(opaque);
        int left = size;
        while (left > 0) {
            const ssize_t n = ::write(self->fd_, data, std::size_t(left));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return AVERROR(errno);
            data += n;
            left -= int(n);
        }
        self->written_ += size;
        return size;
    }

    [[noreturn]] void fail(int code) const {
        throw CliError("cannot write " + what_ + ": " + ffmpegError(code));
    }

    void release() {
        sound_.reset();
        av_packet_free(&packet_);
        if (format_) {
            if (format_->pb) {
                av_freep(&format_->pb->buffer);
                avio_context_free(&format_->pb);
            }
            avformat_free_context(format_);
            format_ = nullptr;
        }
    }

    int fd_;
    std::string what_;
    std::size_t row_;
    int32_t height_;
    FrameRate rate_;
    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::unique_ptr<SoundEncoder> sound_;
    int64_t nextPts_ = 0;
    int64_t written_ = 0;
};

}  // namespace

std::unique_ptr<FrameSink> openPlayerStream(int fd, const std::string& what, int32_t width,
                                            int32_t height, FrameRate rate, SoundTrack& sound) {
    return std::make_unique<PlayerStream>(fd, what, width, height, rate, sound);
}

}  // namespace granulix::cli
