#include "media_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "audio_output.h"
#include "cli_error.h"
#include "ffmpeg_util.h"
#include "output_files.h"

namespace granulix::cli {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// One numbered name per frame from a pattern with a single %d, %4d or %04d
// in its file name; "%%" stands for a percent sign.
class FramePattern {
public:
    explicit FramePattern(const std::string& pattern) : pattern_(pattern) {
        const std::string file = fs::path(pattern).filename().string();
        int conversions = 0;
        for (std::size_t i = 0; i < file.size(); ++i) {
            if (file[i] != '%') continue;
            if (i + 1 < file.size() && file[i + 1] == '%') {
                ++i;
                continue;
            }
            std::size_t j = i + 1;
            while (j < file.size() && std::isdigit(static_cast<unsigned char>(file[j]))) ++j;
            if (j >= file.size() || file[j] != 'd' || j - i > 4) conversions = 99;
            ++conversions;
            i = j;
        }
        if (conversions != 1 || fs::path(pattern).parent_path().string().find('%') != std::string::npos) {
            throw usageError("an image sequence needs one frame number such as %04d in its file name: " +
                             pattern);
        }
    }

    std::string fileName(int index) const {
        const std::string file = fs::path(pattern_).filename().string();
        char name[4096];
        const int n = std::snprintf(name, sizeof name, file.c_str(), index);
        if (n < 0 || std::size_t(n) >= sizeof name) throw usageError("frame name too long: " + pattern_);
        return name;
    }
    fs::path directory() const {
        const fs::path dir = fs::path(pattern_).parent_path();
        return dir.empty() ? fs::path(".") : dir;
    }

private:
    std::string pattern_;
};

class RawSink : public FrameSink {
public:
    RawSink(int32_t width, int32_t height) : row_(std::size_t(width) * 3), height_(height) {
        if (isatty(STDOUT_FILENO)) {
            throw usageError("raw frames are not for a terminal: redirect standard output or pipe it");
        }
        buffer_.resize(row_ * std::size_t(height));
    }
    void write(const HostFrame& frame, std::vector<uint8_t>&&) override {
        for (int32_t line = 0; line < height_; ++line) {
            std::memcpy(buffer_.data() + row_ * std::size_t(line), frame.lineFromTop(line), row_);
        }
        writeAll(STDOUT_FILENO, buffer_.data(), buffer_.size(), "to standard output");
    }
    void finish() override {}

private:
    std::size_t row_;
    int32_t height_;
    std::vector<uint8_t> buffer_;
};

class PngSequenceSink : public FrameSink {
public:
    PngSequenceSink(const std::string& pattern, int frameCount, bool force)
        : pattern_(pattern), force_(force) {
        // What can be seen now is refused before any frame is rendered.
        for (int i = 0; i < frameCount; ++i) {
            checkReplaceable(pattern_.directory() / pattern_.fileName(i), force);
        }
        staging_.emplace(pattern_.directory(), pattern);
    }
    std::vector<uint8_t> prepare(const HostFrame& frame) const override { return encodePng(frame); }
    void write(const HostFrame&, std::vector<uint8_t>&& png) override {
        staging_->write(pattern_.fileName(count_++), png);
    }
    void finish() override { staging_->publish(force_); }

private:
    FramePattern pattern_;
    bool force_;
    std::optional<StagingFolder> staging_;
    int count_ = 0;
};

class VideoSink : public FrameSink {
public:
    VideoSink(const std::string& target, const std::string& extension, int32_t width,
              int32_t height, FrameRate rate, bool force, SoundTrack* sound)
        : target_(target), file_(target, force), temporary_(file_.path()), sound_(sound), rate_(rate) {
        try {
            open(extension, width, height, rate);
        } catch (...) {
            release();
            throw;
        }
    }
    ~VideoSink() override { release(); }

    void write(const HostFrame& frame, std::vector<uint8_t>&&) override {
        int result = av_frame_make_writable(picture_);
        if (result < 0) fail(result);
        // Reading upwards from the top line turns bottom-up rows into a picture.
        const uint8_t* source[4] = {frame.lineFromTop(0), nullptr, nullptr, nullptr};
        const int sourceStride[4] = {-int(frame.stride), 0, 0, 0};
        sws_scale(scaler_, source, sourceStride, 0, frame.height, picture_->data, picture_->linesize);
        picture_->pts = nextPts_++;
        send(picture_);
        if (soundEncoder_) soundEncoder_->writeUntil(double(nextPts_) * rate_.den / rate_.num);
    }

    void finish() override {
        send(nullptr);
        if (soundEncoder_) soundEncoder_->finish();
        int result = av_write_trailer(format_);
        if (result < 0) fail(result);
        result = avio_closep(&format_->pb);
        if (result < 0) fail(result);
        file_.commit();
    }

private:
    void open(const std::string& extension, int32_t width, int32_t height, FrameRate frameRate) {
        const bool vp9 = extension == ".webm";
        const char* container = vp9 ? "webm" : extension == ".mkv" ? "matroska"
                                             : extension == ".mov" ? "mov" : "mp4";
        const char* encoderName = vp9 ? "libvpx-vp9" : "libx264";
        int result = avformat_alloc_output_context2(&format_, nullptr, container, temporary_.c_str());
        if (result < 0) fail(result);
        const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
        if (!codec) throw CliError(std::string("cannot write ") + target_ + ": FFmpeg lacks the " +
                                   encoderName + " encoder");
        stream_ = avformat_new_stream(format_, nullptr);
        encoder_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        picture_ = av_frame_alloc();
        if (!stream_ || !encoder_ || !packet_ || !picture_) throw std::bad_alloc();

        const AVRational rate{frameRate.num, frameRate.den};
        encoder_->width = width;
        encoder_->height = height;
        encoder_->time_base = av_inv_q(rate);
        encoder_->framerate = rate;
        stream_->avg_frame_rate = rate;
        encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder_->colorspace = AVCOL_SPC_BT709;
        encoder_->color_primaries = AVCOL_PRI_BT709;
        encoder_->color_trc = AVCOL_TRC_BT709;
        encoder_->color_range = AVCOL_RANGE_MPEG;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (vp9) {
            encoder_->bit_rate = 0;
            av_opt_set(encoder_->priv_data, "crf", "30", 0);
            av_opt_set(encoder_->priv_data, "deadline", "good", 0);
            av_opt_set(encoder_->priv_data, "cpu-used", "4", 0);
            av_opt_set(encoder_->priv_data, "row-mt", "1", 0);
        } else {
            av_opt_set(encoder_->priv_data, "crf", "18", 0);
            av_opt_set(encoder_->priv_data, "preset", "medium", 0);
        }
        result = avcodec_open2(encoder_, codec, nullptr);
        if (result < 0) fail(result);
        result = avcodec_parameters_from_context(stream_->codecpar, encoder_);
        if (result < 0) fail(result);
        stream_->time_base = encoder_->time_base;

        picture_->format = encoder_->pix_fmt;
        picture_->width = width;
        picture_->height = height;
        result = av_frame_get_buffer(picture_, 0);
        if (result < 0) fail(result);

        scaler_ = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, encoder_->pix_fmt,
                                 kScaleFlags, nullptr, nullptr, nullptr);
        if (!scaler_) throw CliError("cannot write " + target_ + ": no colour conversion");
        int* inverse;
        int* table;
        int sourceRange, destRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(scaler_, &inverse, &sourceRange, &table, &destRange,
                                     &brightness, &contrast, &saturation) >= 0) {
            sws_setColorspaceDetails(scaler_, inverse, 1, sws_getCoefficients(SWS_CS_ITU709), 0,
                                     brightness, contrast, saturation);
        }

        if (sound_) soundEncoder_ = std::make_unique<SoundEncoder>(*format_, *sound_, target_);

        result = avio_open(&format_->pb, temporary_.c_str(), AVIO_FLAG_WRITE);
        if (result < 0) fail(result);
        AVDictionary* options = nullptr;
        if (!vp9 && extension != ".mkv") av_dict_set(&options, "movflags", "+faststart", 0);
        result = avformat_write_header(format_, &options);
        av_dict_free(&options);
        if (result < 0) fail(result);
    }

    void send(const AVFrame* frame) {
        int result = avcodec_send_frame(encoder_, frame);
        if (result < 0) fail(result);
        for (;;) {
            result = avcodec_receive_packet(encoder_, packet_);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
            if (result < 0) fail(result);
            // Every picture lasts one frame. Without a duration on each packet,
            // MP4 and MOV end the track where the last packet in decoding
            // order starts, which cuts the last picture off.
            if (packet_->duration == 0) packet_->duration = 1;
            av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            result = av_interleaved_write_frame(format_, packet_);
            if (result < 0) fail(result);
        }
    }

    [[noreturn]] void fail(int code) const {
        throw CliError("cannot write " + target_ + ": " + ffmpegError(code));
    }

    void release() {
        soundEncoder_.reset();
        sws_freeContext(scaler_);
        scaler_ = nullptr;
        av_frame_free(&picture_);
        av_packet_free(&packet_);
        avcodec_free_context(&encoder_);
        if (format_) {
            if (format_->pb) avio_closep(&format_->pb);
            avformat_free_context(format_);
            format_ = nullptr;
        }
    }

    std::string target_;
    PendingFile file_;
    std::string temporary_;
    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int64_t nextPts_ = 0;
    SoundTrack* sound_;
    FrameRate rate_;
    std::unique_ptr<SoundEncoder> soundEncoder_;
};

bool isVideoExtension(const std::string& ext) {
    return ext == ".mp4" || ext == ".mkv" || ext == ".mov" || ext == ".webm";
}

bool isVideoTarget(const std::string& target) {
    return target != "-" && isVideoExtension(lowerExtension(target));
}

std::string sizeText(int64_t width, int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// Slowest rate a video output takes: one frame an hour. MP4 and MOV keep
// the offsets between decoding and showing a picture in 32 bits of their
// clock, which far slower rates overflow partway through the file.
constexpr FrameRate kSlowestVideoRate{1, 3600};

}  // namespace

void fitFrameToOutput(const std::string& target, int32_t& width, int32_t& height, bool& changed) {
    changed = false;
    if (!isVideoTarget(target)) {
        if (target != "-") checkPngSize(target, width, height);
        return;
    }
    const int32_t evenWidth = std::max(2, width & ~1), evenHeight = std::max(2, height & ~1);
    changed = evenWidth != width || evenHeight != height;
    if (av_image_check_size(unsigned(evenWidth), unsigned(evenHeight), 0, nullptr) < 0) {
        throw usageError("a frame of " + sizeText(evenWidth, evenHeight) + " is too large for " + target +
                         ": FFmpeg's encoders take frames of up to about 268 million pixels with margins, "
                         "such as 16000x16000; choose a smaller --size");
    }
    width = evenWidth;
    height = evenHeight;
}

void checkOutputRate(const std::string& target, FrameRate rate) {
    if (!isVideoTarget(target)) return;
    if (int64_t(rate.num) * kSlowestVideoRate.den < int64_t(kSlowestVideoRate.num) * rate.den) {
        throw usageError("a video output needs at least one frame an hour (--fps 1/3600), not " +
                         std::to_string(rate.num) + "/" + std::to_string(rate.den) + " frames per second");
    }
}

FrameRate frameRateOf(double framesPerSecond) {
    const AVRational q = av_d2q(framesPerSecond, 100000);
    return {q.num, q.den};
}

void checkPngSize(const std::string& target, int64_t width, int64_t height) {
    if (width > INT32_MAX || height > INT32_MAX ||
        av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0) {
        throw usageError("a picture of " + sizeText(width, height) + " is too large for " + target +
                         ": FFmpeg's PNG encoder takes up to about 268 million pixels with margins, "
                         "such as 16000x16000");
    }
}

void checkSinkName(const std::string& target) {
    if (target == "-") return;
    const std::string ext = lowerExtension(target);
    if (isVideoExtension(ext)) return;
    if (ext == ".png") {
        FramePattern pattern(target);
        return;
    }
    throw usageError("cannot tell what to write from the name " + target +
                     ": use .mp4, .mkv, .mov, .webm, a pattern such as frame-%04d.png, or -");
}

std::unique_ptr<FrameSink> openSink(const std::string& target, int32_t width, int32_t height,
                                    FrameRate rate, int frameCount, bool force, SoundTrack* sound) {
    checkSinkName(target);
    if (target == "-") return std::make_unique<RawSink>(width, height);
    const std::string ext = lowerExtension(target);
    if (ext == ".png") return std::make_unique<PngSequenceSink>(target, frameCount, force);
    return std::make_unique<VideoSink>(target, ext, width, height, rate, force, sound);
}

bool outputTakesSound(const std::string& target) { return isVideoTarget(target); }

std::vector<uint8_t> encodePng(const HostFrame& frame) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) throw CliError("FFmpeg lacks the PNG encoder");
    AVCodecContext* encoder = avcodec_alloc_context3(codec);
    AVFrame* picture = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::vector<uint8_t> bytes;
    int result = 0;
    if (!encoder || !picture || !packet) {
        result = AVERROR(ENOMEM);
    } else {
        encoder->width = frame.width;
        encoder->height = frame.height;
        encoder->pix_fmt = AV_PIX_FMT_RGB24;
        encoder->time_base = AVRational{1, 25};
        picture->format = AV_PIX_FMT_RGB24;
        picture->width = frame.width;
        picture->height = frame.height;
        result = avcodec_open2(encoder, codec, nullptr);
        if (result >= 0) result = av_frame_get_buffer(picture, 0);
    }
    if (result >= 0) {
        for (int32_t line = 0; line < frame.height; ++line) {
            const uint8_t* from = frame.lineFromTop(line);
            uint8_t* to = picture->data[0] + std::ptrdiff_t(picture->linesize[0]) * line;
            for (int32_t x = 0; x < frame.width; ++x, from += 3, to += 3) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        }
        result = avcodec_send_frame(encoder, picture);
        if (result >= 0) result = avcodec_send_frame(encoder, nullptr);
        while (result >= 0) {
            result = avcodec_receive_packet(encoder, packet);
            if (result >= 0) {
                bytes.insert(bytes.end(), packet->data, packet->data + packet->size);
                av_packet_unref(packet);
            }
        }
        if (result == AVERROR_EOF) result = 0;
    }
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&encoder);
    if (result < 0) throw CliError("cannot make a PNG picture: " + ffmpegError(result));
    return bytes;
}

}  // namespace granulix::cli
