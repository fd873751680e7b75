#include "media_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "cli_error.h"
#include "ffmpeg_util.h"
#include "output_files.h"
#include "video_encoding.h"
#include "video_sink.h"

namespace granulix::cli {

namespace fs = std::filesystem;

namespace {

// One numbered name per frame from a pattern with a single %d, %4d or %04d
// in its file name; "%%" stands for a percent sign.
class FramePattern {
public:
    explicit FramePattern(const std::string& pattern) : pattern_(pattern) {
        const std::string file = fs::path(pattern).filename().string();
        int conversions = 0;
        std::string* literal = &prefix_;
        for (std::size_t i = 0; i < file.size(); ++i) {
            if (file[i] != '%') {
                *literal += file[i];
                continue;
            }
            if (i + 1 < file.size() && file[i + 1] == '%') {
                *literal += '%';
                ++i;
                continue;
            }
            std::size_t j = i + 1;
            while (j < file.size() && std::isdigit(static_cast<unsigned char>(file[j]))) ++j;
            if (j >= file.size() || file[j] != 'd' || j - i > 4) conversions = 99;
            ++conversions;
            literal = &suffix_;
            i = j;
        }
        if (conversions != 1 ||
            fs::path(pattern).parent_path().string().find('%') != std::string::npos) {
            throw usageError(
                "an image sequence needs one frame number such as %04d in its file name: " +
                pattern);
        }
    }

    // The names in the pattern's folder that it makes for a frame number of
    // `from` or more and that hold a file or a link: frames of an older
    // sequence. A folder that cannot be read has none.
    std::vector<std::string> existingFrom(int from) const {
        std::vector<std::string> names;
        std::error_code error;
        for (fs::directory_iterator entry(directory(), error), end; !error && entry != end;
             entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            const fs::file_type type = entry->symlink_status(error).type();
            if (error || (type != fs::file_type::regular && type != fs::file_type::symlink)) {
                error.clear();
                continue;
            }
            const std::optional<int> index = indexOf(name);
            if (index && *index >= from) names.push_back(name);
        }
        return names;
    }

    std::string fileName(int index) const {
        const std::string file = fs::path(pattern_).filename().string();
        char name[4096];
        const int n = std::snprintf(name, sizeof name, file.c_str(), index);
        if (n < 0 || std::size_t(n) >= sizeof name)
            throw usageError("frame name too long: " + pattern_);
        return name;
    }
    fs::path directory() const {
        const fs::path dir = fs::path(pattern_).parent_path();
        return dir.empty() ? fs::path(".") : dir;
    }

private:
    // The frame number `name` is made for, if any.
    std::optional<int> indexOf(const std::string& name) const {
        if (name.size() <= prefix_.size() + suffix_.size() || name.rfind(prefix_, 0) != 0 ||
            name.compare(name.size() - suffix_.size(), suffix_.size(), suffix_) != 0) {
            return std::nullopt;
        }
        const std::string digits =
            name.substr(prefix_.size(), name.size() - prefix_.size() - suffix_.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        const int index = std::stoi(digits);
        if (fileName(index) != name) return std::nullopt;
        return index;
    }

    std::string pattern_;
    std::string prefix_, suffix_;  // the file name around the number, as written
};

class RawSink : public FrameSink {
public:
    RawSink(int fd, const std::string& what, int32_t width, int32_t height)
        : fd_(fd), what_(what), row_(std::size_t(width) * 3), height_(height) {
        if (isatty(fd)) {
            throw usageError(
                "raw frames are not for a terminal: redirect standard output or pipe it");
        }
        buffer_.resize(row_ * std::size_t(height));
    }
    void write(const HostFrame& frame, PreparedFrame&&) override {
        for (int32_t line = 0; line < height_; ++line) {
            std::memcpy(buffer_.data() + row_ * std::size_t(line), frame.lineFromTop(line), row_);
        }
        writeAll(fd_, buffer_.data(), buffer_.size(), what_);
        written_ += int64_t(buffer_.size());
    }
    void finish() override {}
    int64_t bytesWritten() const override { return written_; }

private:
    int fd_;
    std::string what_;
    std::size_t row_;
    int32_t height_;
    std::vector<uint8_t> buffer_;
    int64_t written_ = 0;
};

class PngSequenceSink : public FrameSink {
public:
    PngSequenceSink(const std::string& pattern, int frameCount, bool force)
        : pattern_(pattern), force_(force) {
        // What can be seen now is refused before any frame is rendered.
        for (int i = 0; i < frameCount; ++i) {
            checkReplaceable(pattern_.directory() / pattern_.fileName(i), force);
        }
        // The frames of a longer old sequence beyond this one's go with it.
        const std::vector<std::string> older = pattern_.existingFrom(frameCount);
        for (const std::string& name : older) {
            if (!fs::is_symlink(pattern_.directory() / name)) {
                checkReplaceable(pattern_.directory() / name, force);
            }
        }
        staging_.emplace(pattern_.directory(), pattern);
        staging_->removeOnPublish(older);
    }
    PreparedFrame prepare(const HostFrame& frame) const override {
        return {encodePng(frame), nullptr};
    }
    void write(const HostFrame& frame, PreparedFrame&& prepared) override {
        const std::vector<uint8_t> png =
            prepared.bytes.empty() ? encodePng(frame) : std::move(prepared.bytes);
        staging_->write(pattern_.fileName(count_++), png);
        written_ += int64_t(png.size());
    }
    void finish() override { staging_->publish(force_); }
    int64_t bytesWritten() const override { return written_; }

private:
    FramePattern pattern_;
    bool force_;
    std::optional<StagingFolder> staging_;
    int count_ = 0;
    int64_t written_ = 0;
};

}  // namespace

void checkPngSize(const std::string& target, int64_t width, int64_t height) {
    if (width > INT32_MAX || height > INT32_MAX ||
        av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0) {
        throw usageError(
            "a picture of " + sizeText(width, height) + " is too large for " + target +
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
                                    FrameRate rate, int frameCount, bool force,
                                    const VideoEncoding& encoding, SoundTrack* sound) {
    checkSinkName(target);
    checkEncodingTarget(target, encoding);
    if (target == "-") return openRawSink(STDOUT_FILENO, "to standard output", width, height);
    const std::string ext = lowerExtension(target);
    if (ext == ".png") return std::make_unique<PngSequenceSink>(target, frameCount, force);
    return openVideoSink(target, ext, width, height, rate, force, encoding, sound);
}

std::vector<std::string> existingOutputFiles(const std::string& target) {
    if (target == "-") return {};
    if (lowerExtension(target) != ".png") return {target};
    const FramePattern pattern(target);
    std::vector<std::string> files;
    for (const std::string& name : pattern.existingFrom(0)) {
        files.push_back((fs::path(target).parent_path() / name).string());
    }
    return files;
}

std::unique_ptr<FrameSink> openRawSink(int fd, const std::string& what, int32_t width,
                                       int32_t height) {
    return std::make_unique<RawSink>(fd, what, width, height);
}

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
