#include "media_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "audio_output.h"
#include "cli_error.h"
#include "ffmpeg_util.h"
#include "media_input.h"
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

// The codecs --codec names and the encoders that make them, best first,
// each with the pixel format and options it starts from.
struct EncoderRow {
    const char* codec;
    const char* encoder;
    const char* pixelFormat;
    std::vector<std::pair<const char*, const char*>> defaults;
    // The stream cannot say its YUV pixels use the full range: they are
    // written in the limited one.
    bool limitedRangeOnly = false;
};

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

const char* containerOf(const std::string& extension) {
    for (const auto& [ext, name] : kContainers) {
        if (extension == ext) return name;
    }
    return "mp4";
}

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

struct EncoderChoice {
    const EncoderRow& row;
    const AVCodec& codec;
    AVPixelFormat pixelFormat;
};

EncoderChoice chooseEncoding(const std::string& target, const std::string& extension,
                             const VideoEncoding& encoding) {
    const EncoderRow& row = chooseEncoder(target, extension, encoding.codec);
    const AVCodec& codec = *avcodec_find_encoder_by_name(row.encoder);
    return {row, codec,
            pixelFormatFor(codec, row.encoder,
                           encoding.pixelFormat.empty() ? row.pixelFormat : encoding.pixelFormat)};
}

// A pixel format with the way its colours are coded, as libswscale takes
// them: the matrix's coefficients and whether the range is full.
struct ColourForm {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    const int* matrix = nullptr;
    int fullRange = 0;
};

bool hasRange(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB);
}

bool hasMatrix(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return hasRange(format) && d->nb_components >= 3;
}

bool sameMatrix(const int* a, const int* b) { return std::memcmp(a, b, 4 * sizeof(int)) == 0; }

// How a decoded picture's colours are read: an untagged matrix as
// libswscale's default, as the clips' own conversion reads it; RGB in
// full range.
ColourForm formOf(const AVFrame& f) {
    const AVPixelFormat format = AVPixelFormat(f.format);
    const bool fullFormat = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                            format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
                            format == AV_PIX_FMT_YUVJ411P;
    return {format,
            sws_getCoefficients(f.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT
                                                                      : int(f.colorspace)),
            !hasRange(format) || fullFormat || f.color_range == AVCOL_RANGE_JPEG};
}

// Whether pictures of form `a` are pictures of form `b`, byte for byte.
bool sameForm(const ColourForm& a, const ColourForm& b) {
    return a.format == b.format && (!hasRange(a.format) || a.fullRange == b.fullRange) &&
           (!hasMatrix(a.format) || sameMatrix(a.matrix, b.matrix));
}

// The last line of `lines` that holds `mark`, from after the mark, without
// a closing full stop; empty when none does.
std::string lastLine(const std::string& lines, const std::string& mark) {
    std::string found;
    std::size_t start = 0;
    while (start < lines.size()) {
        const std::size_t end = std::min(lines.find('\n', start), lines.size());
        const std::string line = lines.substr(start, end - start);
        const std::size_t at = line.find(mark);
        if (at != std::string::npos && line.size() > at + mark.size()) {
            found = line.substr(at + mark.size());
        }
        start = end + 1;
    }
    while (!found.empty() && (found.back() == '.' || found.back() == '\r' || found.back() == ' '))
        found.pop_back();
    return found;
}

// What is printed straight onto standard error while one of these lives is
// kept off the terminal, for take(): encoders such as x264 and x265 print
// their own lines there, besides what they hand FFmpeg's log. Without a
// memory file the text goes where it always did.
class StandardErrorCapture {
public:
    StandardErrorCapture() {
        std::fflush(stderr);
        file_ = memfd_create("granulix-encoder-lines", MFD_CLOEXEC);
        if (file_ < 0) return;
        saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (saved_ < 0 || dup2(file_, STDERR_FILENO) < 0) take();
    }
    ~StandardErrorCapture() { take(); }
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    // Gives standard error back; returns the first 64 KiB printed meanwhile.
    std::string take() {
        std::string text;
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
            text.resize(65536);
            const ssize_t got = pread(file_, text.data(), text.size(), 0);
            text.resize(got > 0 ? std::size_t(got) : 0);
        }
        if (file_ >= 0) close(file_);
        file_ = -1;
        return text;
    }

private:
    int file_ = -1, saved_ = -1;
};

// A conversion into the encoder's pixel format at the frame's size, kept
// while the pictures keep their form; used by one thread at a time.
struct EncoderScaler {
    SwsContext* context = nullptr;
    ColourForm from;
    EncoderScaler() = default;
    ~EncoderScaler() { sws_freeContext(context); }
    EncoderScaler(const EncoderScaler&) = delete;
    EncoderScaler& operator=(const EncoderScaler&) = delete;
};

class VideoSink : public FrameSink {
public:
    VideoSink(const std::string& target, const std::string& extension, int32_t width,
              int32_t height, FrameRate rate, bool force, const VideoEncoding& encoding,
              SoundTrack* sound)
        : target_(target),
          file_(target, force),
          temporary_(file_.path()),
          sound_(sound),
          rate_(rate) {
        try {
            open(extension, width, height, rate, encoding);
        } catch (...) {
            release();
            throw;
        }
    }
    ~VideoSink() override { release(); }

    PreparedFrame prepare(const HostFrame& frame) const override {
        // Reading upwards from the top line turns bottom-up rows into a picture.
        const uint8_t* source[4] = {frame.lineFromTop(0), nullptr, nullptr, nullptr};
        const int sourceStride[4] = {-int(frame.stride), 0, 0, 0};
        return {{}, convert(source, sourceStride, hostForm())};
    }

    // A picture of the frame's size is taken: as it is when it has the
    // encoder's form, else converted once, unless that would need a change
    // of colour matrix, which libswscale does not make between YUV forms.
    std::optional<PreparedFrame> preparePicture(const AVFrame& f) const override {
        if (f.width != width_ || f.height != height_) return std::nullopt;
        const ColourForm from = formOf(f);
        if (sameForm(from, encoderForm_) && f.buf[0] && f.nb_extended_buf == 0) {
            return PreparedFrame{{}, shareBuffers(f)};
        }
        if (hasMatrix(from.format) && hasMatrix(encoderForm_.format) &&
            !sameMatrix(from.matrix, encoderForm_.matrix)) {
            return std::nullopt;
        }
        if (!sws_isSupportedInput(from.format)) return std::nullopt;
        return PreparedFrame{{}, convert(f.data, f.linesize, from)};
    }

    void write(const HostFrame& frame, PreparedFrame&& prepared) override {
        const std::shared_ptr<AVFrame> picture =
            prepared.picture ? std::move(prepared.picture) : prepare(frame).picture;
        picture->pts = nextPts_++;
        // Some encoders (ProRes) write the colours of each picture, not the stream's.
        picture->color_range = encoder_->color_range;
        picture->color_primaries = encoder_->color_primaries;
        picture->color_trc = encoder_->color_trc;
        picture->colorspace = encoder_->colorspace;
        send(picture.get());
        if (soundEncoder_) soundEncoder_->writeUntil(double(nextPts_) * rate_.den / rate_.num);
    }

    void finish() override {
        send(nullptr);
        if (soundEncoder_) soundEncoder_->finish();
        int result = av_write_trailer(format_);
        if (result < 0) fail(result);
        finalSize_ = avio_size(format_->pb);
        result = avio_closep(&format_->pb);
        if (result < 0) fail(result);
        file_.commit();
    }

    int64_t bytesWritten() const override {
        return format_ && format_->pb ? avio_tell(format_->pb) : finalSize_;
    }

private:
    void open(const std::string& extension, int32_t width, int32_t height, FrameRate frameRate,
              const VideoEncoding& encoding) {
        const EncoderChoice choice = chooseEncoding(target_, extension, encoding);
        const EncoderRow& row = choice.row;
        const AVCodec* codec = &choice.codec;
        encoderName_ = row.encoder;
        int result = avformat_alloc_output_context2(&format_, nullptr, containerOf(extension),
                                                    temporary_.c_str());
        if (result < 0) fail(result);
        stream_ = avformat_new_stream(format_, nullptr);
        encoder_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        if (!stream_ || !encoder_ || !packet_) throw std::bad_alloc();

        const AVRational rate{frameRate.num, frameRate.den};
        encoder_->width = width;
        encoder_->height = height;
        encoder_->time_base = av_inv_q(rate);
        encoder_->framerate = rate;
        stream_->avg_frame_rate = rate;
        encoder_->pix_fmt = choice.pixelFormat;
        tagColours(encoding.colour, row.limitedRangeOnly);
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) {
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        for (const auto& [key, value] : row.defaults) setOption(key, value);
        if (!encoding.crf.empty()) setNamedOption("--crf", "crf", encoding.crf);
        if (!encoding.preset.empty()) setNamedOption("--preset", "preset", encoding.preset);
        for (const auto& [key, value] : encoding.options) {
            // x265 speaks for itself on standard error unless told otherwise.
            const bool quietX265 =
                key == "x265-params" && value.find("log-level") == std::string::npos;
            setNamedOption("--encoder-option", key, quietX265 ? "log-level=error:" + value : value);
        }
        takeLoggedErrors();
        takeLoggedWarnings();
        StandardErrorCapture printed;
        result = avcodec_open2(encoder_, codec, nullptr);
        const std::string printedLines = printed.take();
        const bool asked = !encoding.codec.empty() || !encoding.crf.empty() ||
                           !encoding.preset.empty() || !encoding.pixelFormat.empty() ||
                           !encoding.options.empty();
        if (result < 0) {
            // The encoder's own line says more than FFmpeg's about it.
            std::string reason = lastLine(printedLines, "[error]: ");
            if (reason.empty()) reason = lastLine(takeLoggedErrors(), "");
            throw CliError("cannot write " + target_ + ": the " + encoderName_ +
                               " encoder refuses its settings (" +
                               (reason.empty() ? ffmpegError(result) : reason) + ")",
                           asked ? kExitUsage : kExitFailure);
        }
        refuseUnparsedParameters(encoding);
        result = avcodec_parameters_from_context(stream_->codecpar, encoder_);
        if (result < 0) fail(result);
        stream_->time_base = encoder_->time_base;

        width_ = width;
        height_ = height;
        encoderForm_ = {encoder_->pix_fmt, sws_getCoefficients(int(encoder_->colorspace)),
                        encoder_->color_range == AVCOL_RANGE_JPEG};
        // The conversion of rendered frames is made now, so that one the
        // encoder's format cannot take fails before any frame is rendered.
        auto first = std::make_unique<EncoderScaler>();
        scalerFor(*first, hostForm());
        giveBack(std::move(first));

        if (sound_) soundEncoder_ = std::make_unique<SoundEncoder>(*format_, *sound_, target_);

        result = avio_open(&format_->pb, temporary_.c_str(), AVIO_FLAG_WRITE);
        if (result < 0) fail(result);
        AVDictionary* options = nullptr;
        if (extension == ".mp4" || extension == ".mov")
            av_dict_set(&options, "movflags", "+faststart", 0);
        result = avformat_write_header(format_, &options);
        av_dict_free(&options);
        if (result < 0) fail(result);
    }

    // Clip A's tags where it has them; BT.709 with limited range otherwise,
    // and always for an encoder that cannot say otherwise. Pictures stored
    // as RGB have no matrix and use the full range.
    void tagColours(const ColourTags& colour, bool limitedRangeOnly) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(encoder_->pix_fmt);
        const bool rgb = d && (d->flags & AV_PIX_FMT_FLAG_RGB);
        encoder_->color_primaries =
            colour.primaries == AVCOL_PRI_UNSPECIFIED ? AVCOL_PRI_BT709 : colour.primaries;
        encoder_->color_trc =
            colour.transfer == AVCOL_TRC_UNSPECIFIED ? AVCOL_TRC_BT709 : colour.transfer;
        if (rgb) {
            encoder_->colorspace = AVCOL_SPC_RGB;
            encoder_->color_range = AVCOL_RANGE_JPEG;
            return;
        }
        // The matrices the conversion knows; another would be tagged but not used.
        const bool matrixKnown =
            colour.matrix == AVCOL_SPC_BT709 || colour.matrix == AVCOL_SPC_FCC ||
            colour.matrix == AVCOL_SPC_BT470BG || colour.matrix == AVCOL_SPC_SMPTE170M ||
            colour.matrix == AVCOL_SPC_SMPTE240M || colour.matrix == AVCOL_SPC_BT2020_NCL;
        encoder_->colorspace = matrixKnown ? colour.matrix : AVCOL_SPC_BT709;
        encoder_->color_range = colour.range == AVCOL_RANGE_JPEG && !limitedRangeOnly
                                    ? AVCOL_RANGE_JPEG
                                    : AVCOL_RANGE_MPEG;
    }

    static ColourForm hostForm() {
        return {AV_PIX_FMT_BGR24, sws_getCoefficients(SWS_CS_DEFAULT), 1};
    }

    // Makes `scaler` convert pictures of form `from`.
    void scalerFor(EncoderScaler& scaler, const ColourForm& from) const {
        if (scaler.context && scaler.from.format == from.format &&
            scaler.from.matrix == from.matrix && scaler.from.fullRange == from.fullRange) {
            return;
        }
        sws_freeContext(scaler.context);
        scaler.context =
            sws_getContext(width_, height_, from.format, width_, height_, encoderForm_.format,
                           kScaleFlags, nullptr, nullptr, nullptr);
        if (!scaler.context) throw CliError("cannot write " + target_ + ": no colour conversion");
        scaler.from = from;
        int* inverse;
        int* table;
        int sourceRange, destRange, brightness, contrast, saturation;
        if ((hasRange(from.format) || hasRange(encoderForm_.format)) &&
            sws_getColorspaceDetails(scaler.context, &inverse, &sourceRange, &table, &destRange,
                                     &brightness, &contrast, &saturation) >= 0) {
            sws_setColorspaceDetails(scaler.context, from.matrix, from.fullRange,
                                     encoderForm_.matrix, encoderForm_.fullRange, brightness,
                                     contrast, saturation);
        }
    }

    // A new picture in the encoder's format, converted from `data`.
    std::shared_ptr<AVFrame> convert(const uint8_t* const data[], const int stride[],
                                     const ColourForm& from) const {
        std::shared_ptr<AVFrame> picture = newPicture();
        std::unique_ptr<EncoderScaler> scaler = takeScaler();
        scalerFor(*scaler, from);
        sws_scale(scaler->context, data, stride, 0, height_, picture->data, picture->linesize);
        giveBack(std::move(scaler));
        return picture;
    }

    std::shared_ptr<AVFrame> newPicture() const {
        std::shared_ptr<AVFrame> picture(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
        if (!picture) throw std::bad_alloc();
        picture->format = encoderForm_.format;
        picture->width = width_;
        picture->height = height_;
        const int result = av_frame_get_buffer(picture.get(), 0);
        if (result < 0) fail(result);
        return picture;
    }

    // A picture that shares `f`'s pixels and nothing else: none of its frame
    // type, side data or timing reaches the encoder.
    std::shared_ptr<AVFrame> shareBuffers(const AVFrame& f) const {
        std::shared_ptr<AVFrame> picture(av_frame_alloc(), [](AVFrame* p) { av_frame_free(&p); });
        if (!picture) throw std::bad_alloc();
        picture->format = f.format;
        picture->width = f.width;
        picture->height = f.height;
        for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
            if (f.buf[i] && !(picture->buf[i] = av_buffer_ref(f.buf[i]))) throw std::bad_alloc();
            picture->data[i] = f.data[i];
            picture->linesize[i] = f.linesize[i];
        }
        return picture;
    }

    std::unique_ptr<EncoderScaler> takeScaler() const {
        std::lock_guard lock(scalersMutex_);
        if (idleScalers_.empty()) return std::make_unique<EncoderScaler>();
        std::unique_ptr<EncoderScaler> scaler = std::move(idleScalers_.back());
        idleScalers_.pop_back();
        return scaler;
    }
    void giveBack(std::unique_ptr<EncoderScaler> scaler) const {
        std::lock_guard lock(scalersMutex_);
        idleScalers_.push_back(std::move(scaler));
    }

    void setOption(const std::string& key, const std::string& value) {
        av_opt_set(encoder_, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
    }

    // Sets an option the user asked for through `option`; refuses one the
    // encoder lacks or a value it does not take.
    void setNamedOption(const std::string& option, const std::string& key,
                        const std::string& value) {
        const std::string given = option == "--encoder-option" ? key + "=" + value : value;
        if (!av_opt_find(encoder_, key.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN)) {
            throw usageError(option + " " + given + ": the " + encoderName_ + " encoder has no " +
                             (option == "--encoder-option" ? "option " + key : option.substr(2)));
        }
        const int result = av_opt_set(encoder_, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
        if (result < 0) {
            throw usageError(option + " " + given + ": the " + encoderName_ +
                             " encoder refuses it (" + ffmpegError(result) + ")");
        }
    }

    // The encoders that take a list of their own parameters (x264-params,
    // x265-params) only warn about one they cannot use, and go on without it.
    void refuseUnparsedParameters(const VideoEncoding& encoding) const {
        const std::string warnings = takeLoggedWarnings();
        std::string reason;
        for (const char* start : {"Error parsing option", "Unknown option", "Invalid value for"}) {
            const std::size_t at = warnings.find(start);
            if (at != std::string::npos) {
                reason = lastLine(warnings.substr(at, warnings.find('\n', at) - at), "");
                break;
            }
        }
        if (reason.empty()) return;
        std::string given = "--encoder-option";
        for (const auto& [key, value] : encoding.options) {
            if (key.size() > 7 && key.compare(key.size() - 7, 7, "-params") == 0) {
                given += " " + key + "=" + value;
                break;
            }
        }
        throw usageError(given + ": the " + encoderName_ + " encoder cannot use it (" + reason +
                         ")");
    }

    // Every picture lasts one frame. Without a duration on each packet, MP4
    // and MOV end the track where the last packet in decoding order starts,
    // which cuts the last picture off.
    void send(const AVFrame* frame) {
        const int result = encodeAndWrite(encoder_, frame, packet_, format_, stream_, 1);
        if (result < 0) fail(result);
    }

    [[noreturn]] void fail(int code) const {
        throw CliError("cannot write " + target_ + ": " + ffmpegError(code));
    }

    void release() {
        soundEncoder_.reset();
        idleScalers_.clear();
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
    int32_t width_ = 0, height_ = 0;
    ColourForm encoderForm_;
    mutable std::mutex scalersMutex_;
    mutable std::vector<std::unique_ptr<EncoderScaler>> idleScalers_;  // not in use by a worker
    int64_t nextPts_ = 0;
    int64_t finalSize_ = -1;
    std::string encoderName_;
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
    return std::make_unique<VideoSink>(target, ext, width, height, rate, force, encoding, sound);
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
