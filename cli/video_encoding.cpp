#include "video_encoding.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "cli_error.h"

namespace granulix::cli {

namespace fs = std::filesystem;

namespace {

const std::vector<EncoderRow>& encoderRows() {
    static const std::vector<EncoderRow> rows = {
        {"h264", "libx264", "yuv420p", {{"crf", "18"}, {"preset", "medium"}}},
        {"h265",
         "libx265",
         "yuv420p",
         {{"crf", "20"}, {"preset", "medium"}, {"x265-params", "log-level=error"}}},
        {"vp9",
         "libvpx-vp9",
         "yuv420p",
         {{"b", "0"}, {"crf", "30"}, {"deadline", "good"}, {"cpu-used", "4"}, {"row-mt", "1"}}},
        {"av1",
         "libaom-av1",
         "yuv420p",
         {{"b", "0"}, {"crf", "30"}, {"cpu-used", "6"}, {"row-mt", "1"}}},
        {"av1", "libsvtav1", "yuv420p", {}},
        {"av1", "librav1e", "yuv420p", {}},
        // Intermediates: 10-bit 4:2:2 ProRes, and lossless FFV1 that keeps the rendered RGB.
        {"prores", "prores_ks", "yuv422p10le", {}, true},
        {"ffv1", "ffv1", "bgr0", {}},
    };
    return rows;
}

// The containers of the video outputs, by extension.
constexpr std::pair<const char*, const char*> kContainers[] = {
    {".mp4", "mp4"}, {".mkv", "matroska"}, {".mov", "mov"}, {".webm", "webm"}};

bool holds(const char* container, AVCodecID codec) {
    // FFmpeg's MOV writer lists VP9 and AV1 among its codecs but refuses
    // them when it writes the header: they belong in MP4.
    if (std::strcmp(container, "mov") == 0 &&
        (codec == AV_CODEC_ID_VP9 || codec == AV_CODEC_ID_AV1)) {
        return false;
    }
    const AVOutputFormat* format = av_guess_format(container, nullptr, nullptr);
    return format && avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) != 0;
}

// The row of the encoder that makes `codec` (empty: the container's own
// codec); throws a usage error when there is none or the container cannot
// hold what it makes.
const EncoderRow& chooseEncoder(const std::string& target, const std::string& extension,
                                const std::string& codec) {
    const std::string wanted = codec.empty()     ? (extension == ".webm" ? "vp9" : "h264")
                               : codec == "hevc" ? "h265"
                                                 : codec;
    bool known = false;
    for (const EncoderRow& row : encoderRows()) {
        if (wanted != row.codec) continue;
        known = true;
        const AVCodec* found = avcodec_find_encoder_by_name(row.encoder);
        if (!found) continue;
        if (!holds(containerOf(extension), found->id)) {
            std::string others;
            for (const auto& [ext, name] : kContainers) {
                if (holds(name, found->id)) others += std::string(others.empty() ? "" : ", ") + ext;
            }
            throw usageError("a " + extension + " file cannot hold " + wanted + " video" +
                             (others.empty() ? std::string() : "; use " + others) + " for " +
                             target);
        }
        return row;
    }
    if (!known) throw usageError("--codec must be one of " + codecNames() + ", not " + codec);
    throw CliError("cannot write " + target + ": this build of FFmpeg has no " + wanted +
                   " encoder");
}

// The format named `name`, when the encoder takes it.
AVPixelFormat pixelFormatFor(const AVCodec& codec, const char* encoderName,
                             const std::string& name) {
    const AVPixelFormat wanted = av_get_pix_fmt(name.c_str());
    if (wanted == AV_PIX_FMT_NONE)
        throw usageError("--pix-fmt: FFmpeg knows no pixel format " + name);
    if (!codec.pix_fmts) return wanted;
    std::string taken;
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == wanted) return wanted;
        taken += std::string(taken.empty() ? "" : ", ") + av_get_pix_fmt_name(*f);
    }
    throw usageError("--pix-fmt: the " + std::string(encoderName) + " encoder does not take " +
                     name + "; it takes " + taken);
}

// Slowest rate a video output takes: one frame an hour. MP4 and MOV keep
// the offsets between decoding and showing a picture in 32 bits of their
// clock, which far slower rates overflow partway through the file.
constexpr FrameRate kSlowestVideoRate{1, 3600};

}  // namespace

const char* containerOf(const std::string& extension) {
    for (const auto& [ext, name] : kContainers) {
        if (extension == ext) return name;
    }
    return "mp4";
}

EncoderChoice chooseEncoding(const std::string& target, const std::string& extension,
                             const VideoEncoding& encoding) {
    const EncoderRow& row = chooseEncoder(target, extension, encoding.codec);
    const AVCodec& codec = *avcodec_find_encoder_by_name(row.encoder);
    return {row, codec,
            pixelFormatFor(codec, row.encoder,
                           encoding.pixelFormat.empty() ? row.pixelFormat : encoding.pixelFormat)};
}

std::string lowerExtension(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool isVideoExtension(const std::string& ext) {
    return ext == ".mp4" || ext == ".mkv" || ext == ".mov" || ext == ".webm";
}

bool isVideoTarget(const std::string& target) {
    return target != "-" && isVideoExtension(lowerExtension(target));
}

std::string sizeText(int64_t width, int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

void fitFrameToOutput(const std::string& target, const VideoEncoding& encoding, int32_t& width,
                      int32_t& height, bool& changed) {
    changed = false;
    if (!isVideoTarget(target)) {
        if (target != "-") checkPngSize(target, width, height);
        return;
    }
    const AVPixFmtDescriptor* d =
        av_pix_fmt_desc_get(chooseEncoding(target, lowerExtension(target), encoding).pixelFormat);
    const bool halfWidth = d && d->log2_chroma_w > 0, halfHeight = d && d->log2_chroma_h > 0;
    const int32_t evenWidth = halfWidth ? std::max(2, width & ~1) : width;
    const int32_t evenHeight = halfHeight ? std::max(2, height & ~1) : height;
    changed = evenWidth != width || evenHeight != height;
    if (av_image_check_size(unsigned(evenWidth), unsigned(evenHeight), 0, nullptr) < 0) {
        throw usageError(
            "a frame of " + sizeText(evenWidth, evenHeight) + " is too large for " + target +
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
                         std::to_string(rate.num) + "/" + std::to_string(rate.den) +
                         " frames per second");
    }
}

FrameRate frameRateOf(double framesPerSecond) {
    const AVRational q = av_d2q(framesPerSecond, kFinestRateDivisor);
    return {q.num, q.den};
}

std::string codecNames() {
    std::string names;
    for (const EncoderRow& row : encoderRows()) {
        if (names.find(row.codec) == std::string::npos) {
            names += std::string(names.empty() ? "" : ", ") + row.codec;
        }
    }
    return names;
}

void checkEncodingTarget(const std::string& target, const VideoEncoding& encoding) {
    if (isVideoTarget(target)) {
        chooseEncoding(target, lowerExtension(target), encoding);
        return;
    }
    const char* asked = !encoding.codec.empty()         ? "--codec"
                        : !encoding.crf.empty()         ? "--crf"
                        : !encoding.preset.empty()      ? "--preset"
                        : !encoding.pixelFormat.empty() ? "--pix-fmt"
                        : !encoding.options.empty()     ? "--encoder-option"
                                                        : nullptr;
    if (asked) {
        throw usageError(std::string(asked) +
                         " is for video outputs (.mp4, .mkv, .mov, .webm), not " +
                         (target == "-" ? std::string("raw frames") : target));
    }
}

bool outputTakesSound(const std::string& target) { return isVideoTarget(target); }

}  // namespace granulix::cli
