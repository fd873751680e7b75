#include "video_sink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
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
#include <mutex>
#include <optional>
#include <vector>

#include "audio_output.h"
#include "cli_error.h"
#include "ffmpeg_util.h"
#include "media_input.h"
#include "output_files.h"
#include "video_encoding.h"

namespace granulix::cli {

namespace {

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

}  // namespace

std::unique_ptr<FrameSink> openVideoSink(const std::string& target, const std::string& extension,
                                         int32_t width, int32_t height, FrameRate rate, bool force,
                                         const VideoEncoding& encoding, SoundTrack* sound) {
    return std::make_unique<VideoSink>(target, extension, width, height, rate, force, encoding,
                                       sound);
}

}  // namespace granulix::cli
