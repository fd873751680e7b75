#include "media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

#include "cli_error.h"
#include "ffmpeg_util.h"
#include "picture_fit.h"

namespace granulix::cli {

namespace {

std::mutex gLogMutex;
std::string gLoggedErrors;    // since they were last taken, the newest kept
std::string gLoggedWarnings;  // the same for warnings

extern "C" void keepErrors(void*, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::lock_guard lock(gLogMutex);
    std::string& kept = level > AV_LOG_ERROR ? gLoggedWarnings : gLoggedErrors;
    if (kept.size() > 4096) kept.erase(0, 2048);
    kept += line;
}

// The clockwise turn, 0, 90, 180 or 270 degrees, that shows the stream's
// pictures upright, from the display matrix a phone writes.
int clockwiseTurnOf(const AVStream& stream) {
    const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix) return 0;
    const double counterClockwise =
        av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (!std::isfinite(counterClockwise)) return 0;
    const long quarter = std::lround(-counterClockwise / 90.0);
    return int(((quarter % 4) + 4) % 4) * 90;
}

// Tags a YUV picture whose file says nothing of its colours as players
// read it: the BT.601 matrix below 720 lines, BT.709 from 720 up, and the
// range of its pixel format (limited unless a "J" format). The picture is
// then converted, passed on and its output tagged by the same reading.
void assumeUntaggedColours(AVFrame& f) {
    const AVPixelFormat format = AVPixelFormat(f.format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || (d->flags & AV_PIX_FMT_FLAG_RGB) || d->nb_components < 3) return;
    if (f.colorspace == AVCOL_SPC_UNSPECIFIED) {
        f.colorspace = f.height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    }
    if (f.color_range == AVCOL_RANGE_UNSPECIFIED) {
        const bool fullFormat = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                                format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
                                format == AV_PIX_FMT_YUVJ411P;
        f.color_range = fullFormat ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    }
}

// For a picture kept at its size the filter only doubles the chroma
// resolution; bilinear does that as well as bicubic, in half the time.
constexpr int kConvertFlags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

// Turns decoded pictures into host frames: libswscale converts and scales,
// then the picture is turned and placed. A converter serves one thread at a
// time and keeps its scaler while the pictures keep their shape.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter() {
        sws_freeContext(scaler_);
        av_frame_free(&cropped_);
    }
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // `path` names the clip in messages.
    void convert(const AVFrame& picture, const PicturePlacement& place, const std::string& path,
                 HostFrame& out) {
        const AVFrame* f = &picture;
        if (place.cropWidth != picture.width || place.cropHeight != picture.height) {
            if (!cropped_ && !(cropped_ = av_frame_alloc())) throw std::bad_alloc();
            av_frame_unref(cropped_);
            const int result = av_frame_ref(cropped_, &picture);
            if (result < 0) throw CliError("cannot decode " + path + ": " + ffmpegError(result));
            cropped_->crop_left = size_t(place.cropX);
            cropped_->crop_top = size_t(place.cropY);
            cropped_->crop_right = size_t(picture.width - place.cropX - place.cropWidth);
            cropped_->crop_bottom = size_t(picture.height - place.cropY - place.cropHeight);
            av_frame_apply_cropping(cropped_, AV_FRAME_CROP_UNALIGNED);
            f = cropped_;
        }
        const Conversion wanted{f->width,       f->height,         f->format,         f->colorspace,
                                f->color_range, place.scaledWidth, place.scaledHeight};
        if (!scaler_ || !(wanted == conversion_)) {
            sws_freeContext(scaler_);
            const bool sameSize = place.scaledWidth == f->width && place.scaledHeight == f->height;
            scaler_ =
                sws_getContext(f->width, f->height, AVPixelFormat(f->format), place.scaledWidth,
                               place.scaledHeight, AV_PIX_FMT_BGR24,
                               sameSize ? kConvertFlags : kScaleFlags, nullptr, nullptr, nullptr);
            if (!scaler_) {
                refuseEnlargement(*f, place, path);
                const char* name = av_get_pix_fmt_name(AVPixelFormat(f->format));
                throw CliError("cannot convert the pictures of " + path + " (pixel format " +
                               (name ? name : "unknown") + ")");
            }
            useColourTags(*f);
            conversion_ = wanted;
        }
        const bool fillsFrame =
            place.turnedWidth() == out.width && place.turnedHeight() == out.height;
        if (place.clockwiseTurn == 0 && fillsFrame) {
            // Writing upwards from the top line turns the picture into bottom-up rows.
            uint8_t* destination[4] = {out.lineFromTop(0), nullptr, nullptr, nullptr};
            const int destinationStride[4] = {-int(out.stride), 0, 0, 0};
            sws_scale(scaler_, f->data, f->linesize, 0, f->height, destination, destinationStride);
            return;
        }
        const std::size_t rowBytes = std::size_t(place.scaledWidth) * 3;
        upright_.resize(rowBytes * std::size_t(place.scaledHeight));
        uint8_t* destination[4] = {upright_.data(), nullptr, nullptr, nullptr};
        const int destinationStride[4] = {int(rowBytes), 0, 0, 0};
        sws_scale(scaler_, f->data, f->linesize, 0, f->height, destination, destinationStride);
        if (!fillsFrame) std::fill(out.bytes.begin(), out.bytes.end(), uint8_t(0));
        placeTurned(place, out);
    }

private:
    // libswscale enlarges a picture at most about this many times each way
    // (measured: 1 pixel to 6898, 2 to 13797).
    static constexpr int64_t kMostEnlargement = 6898;

    // Throws what a conversion libswscale refused asks for, when it is an
    // enlargement past its limit.
    static void refuseEnlargement(const AVFrame& f, const PicturePlacement& place,
                                  const std::string& path) {
        if (int64_t(place.scaledWidth) <= int64_t(f.width) * kMostEnlargement &&
            int64_t(place.scaledHeight) <= int64_t(f.height) * kMostEnlargement) {
            return;
        }
        throw CliError(
            "cannot enlarge the " + std::to_string(f.width) + "x" + std::to_string(f.height) +
            " pictures of " + path + " to " + std::to_string(place.scaledWidth) + "x" +
            std::to_string(place.scaledHeight) + ": FFmpeg's scaler enlarges up to " +
            std::to_string(kMostEnlargement) + " times each way; choose a smaller --size");
    }

    // Copies the scaled picture into its place in `out`, turned clockwise:
    // each line of the shown picture is a straight walk through the scaled
    // one, from a corner and by a fixed step.
    void placeTurned(const PicturePlacement& place, HostFrame& out) const {
        const ptrdiff_t w = place.scaledWidth, h = place.scaledHeight, pixel = 3;
        const int32_t shownWidth = place.turnedWidth(), shownHeight = place.turnedHeight();
        for (int32_t y = 0; y < shownHeight; ++y) {
            ptrdiff_t from, step;  // in pixels of the scaled picture
            switch (place.clockwiseTurn) {
                case 90: from = (h - 1) * w + y, step = -w; break;
                case 180: from = (h - 1 - y) * w + (w - 1), step = -1; break;
                case 270: from = w - 1 - y, step = w; break;
                default: from = y * w, step = 1; break;
            }
            const uint8_t* source = upright_.data() + from * pixel;
            uint8_t* to = out.lineFromTop(place.top + y) + std::size_t(place.left) * pixel;
            for (int32_t x = 0; x < shownWidth; ++x, to += pixel, source += step * pixel) {
                std::memcpy(to, source, pixel);
            }
        }
    }

    struct Conversion {
        int width, height, format, space, range, outWidth, outHeight;
        bool operator==(const Conversion& o) const {
            return width == o.width && height == o.height && format == o.format &&
                   space == o.space && range == o.range && outWidth == o.outWidth &&
                   outHeight == o.outHeight;
        }
    };

    // YUV pictures carry their colour matrix and range; RGB ones need neither.
    void useColourTags(const AVFrame& f) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f.format));
        if (!d || (d->flags & AV_PIX_FMT_FLAG_RGB) || d->nb_components < 3) return;
        int* inverse;
        int* table;
        int sourceRange, destRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(scaler_, &inverse, &sourceRange, &table, &destRange,
                                     &brightness, &contrast, &saturation) < 0) {
            return;
        }
        const int matrix =
            f.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(f.colorspace);
        if (f.color_range == AVCOL_RANGE_JPEG) sourceRange = 1;
        sws_setColorspaceDetails(scaler_, sws_getCoefficients(matrix), sourceRange, table,
                                 destRange, brightness, contrast, saturation);
    }

    SwsContext* scaler_ = nullptr;
    Conversion conversion_{};
    AVFrame* cropped_ = nullptr;    // a view of part of a picture
    std::vector<uint8_t> upright_;  // a scaled picture before it is turned
};

}  // namespace

std::string takeLoggedErrors() {
    std::lock_guard lock(gLogMutex);
    std::string lines;
    lines.swap(gLoggedErrors);
    return lines;
}

std::string takeLoggedWarnings() {
    std::lock_guard lock(gLogMutex);
    std::string lines;
    lines.swap(gLoggedWarnings);
    return lines;
}

struct VideoFileClip::State {
    std::string path;
    FitMode fit = FitMode::kPad;
    std::shared_ptr<MediaDemuxer> file;  // shared with the reader of the clip's sound
    AVFormatContext* format = nullptr;   // the file's
    StreamDecoder decoder;
    AVFrame* current = nullptr;  // the picture on screen now (held at the end)
    AVFrame* ahead = nullptr;    // the one after it, decoded in advance
    bool haveAhead = false;
    bool draining = false;  // the demuxer is done; the decoder is being flushed
    int soundStream = -1;
    bool still = false;  // a single picture
    int stream = -1;
    int turn = 0;

    // Times in the stream's time base, counted from the first picture.
    AVRational timeBase{1, 1};
    FrameRate ownRate;
    int64_t firstStamp = 0;
    int64_t currentTime = 0, aheadTime = 0;
    int64_t endTime = INT64_MAX;  // pictures from this time on are cut off
    std::optional<double> length;

    // Converters not in use; each worker takes one while it draws a picture.
    std::mutex convertersMutex;
    std::vector<std::unique_ptr<PictureConverter>> idleConverters;

    ~State() {
        av_frame_free(&ahead);
        av_frame_free(&current);
    }

    [[noreturn]] void fail(const std::string& what, int code) const {
        refuseTooLarge();
        throw CliError("cannot " + what + " " + path + ": " + ffmpegError(code));
    }

    [[noreturn]] void noPicture() const {
        refuseTooLarge();
        throw CliError("no picture to decode in " + path);
    }

    // FFmpeg refuses pictures past its size limit, or without a pixel, and
    // only says so in its log. The decoder's own line is the last: a probe
    // before it may give the sides the other way round.
    void refuseTooLarge() const {
        const std::string logged = takeLoggedErrors();
        unsigned w = 0, h = 0;
        const std::size_t at = logged.rfind("Picture size ");
        if (at != std::string::npos &&
            std::sscanf(logged.c_str() + at, "Picture size %ux%u", &w, &h) == 2) {
            const std::string size = std::to_string(w) + "x" + std::to_string(h);
            if (w == 0 || h == 0) {
                throw CliError("the picture in " + path + " is " + size +
                               " pixels: it has nothing to show");
            }
            throw CliError("the picture in " + path + " is " + size +
                           " pixels, too large to decode");
        }
    }

    // Decodes the next picture of the stream into `into`; false at the end.
    bool decode(AVFrame* into) {
        const char* what = nullptr;
        const int result =
            decodeNext(*file, stream, decoder.context, decoder.packet, draining, into, false, what);
        if (result == AVERROR_EOF) return false;
        if (result < 0) fail(what, result);
        assumeUntaggedColours(*into);
        return true;
    }

    // When `f` comes on screen; a picture without a timestamp follows the
    // one before it by one frame of the clip's rate, and none goes back.
    int64_t timeOf(const AVFrame* f, int64_t previous) const {
        const int64_t stamp = f->best_effort_timestamp;
        if (stamp == AV_NOPTS_VALUE) {
            const int64_t oneFrame = std::max<int64_t>(
                1, av_rescale_q(1, AVRational{ownRate.den, ownRate.num}, timeBase));
            return previous + oneFrame;
        }
        return std::max(previous, stamp - firstStamp);
    }

    void decodeAhead() {
        haveAhead = decode(ahead);
        if (haveAhead) aheadTime = timeOf(ahead, currentTime);
        cutAhead();
    }

    // Drops the picture decoded ahead when it comes at or after the cut.
    void cutAhead() {
        if (haveAhead && aheadTime >= endTime) {
            haveAhead = false;
            draining = true;
            file->unfollow(stream);
        }
    }

    // Makes the picture on screen at `from` seconds the clip's first, its
    // time 0 there, and decodes the one after it. `current` and `ahead`
    // hold the first two pictures; a file that cannot seek is read on from
    // them. A picture shown before `from` counts while the file lasts.
    void skipTo(double from, double fileLength) {
        const int64_t start = firstStamp + int64_t(std::llround(from / av_q2d(timeBase)));
        bool shown = true;  // `current` is on screen at `start` unless a later one is
        if (file->seek(stream, start, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(decoder.context);
            draining = false;
            shown = haveAhead = false;
        }
        for (;;) {
            if (!haveAhead && !(haveAhead = decode(ahead))) break;
            const int64_t stamp = ahead->best_effort_timestamp;
            const bool later = stamp == AV_NOPTS_VALUE || stamp > start;
            if (later && shown) break;
            av_frame_unref(current);
            av_frame_move_ref(current, ahead);
            haveAhead = false;
            shown = true;
            if (later) {  // nothing was on screen before it: it comes first
                haveAhead = decode(ahead);
                break;
            }
        }
        if (!shown || (!haveAhead && from >= fileLength)) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", from);
            throw CliError(path + " has no picture from " + seconds + " s on");
        }
        firstStamp = start;
        currentTime = 0;
        if (haveAhead) aheadTime = timeOf(ahead, currentTime);
    }

    void advance() {
        av_frame_unref(current);
        av_frame_move_ref(current, ahead);
        currentTime = aheadTime;
        decodeAhead();
    }

    // Makes `current` the picture on screen at output frame `index`.
    void advanceTo(int64_t index, FrameRate rate) {
        const AVRational frameTime{rate.den, rate.num};
        while (haveAhead && av_compare_ts(aheadTime, timeBase, index, frameTime) <= 0) advance();
    }

    DecodedPicture shareCurrent() const {
        DecodedPicture picture(av_frame_clone(current), [](AVFrame* f) { av_frame_free(&f); });
        if (!picture) throw std::bad_alloc();
        return picture;
    }

    double pixelAspect() const {
        const AVRational sar =
            av_guess_sample_aspect_ratio(format, format->streams[stream], current);
        return sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    }

    std::unique_ptr<PictureConverter> takeConverter() {
        std::lock_guard lock(convertersMutex);
        if (idleConverters.empty()) return std::make_unique<PictureConverter>();
        std::unique_ptr<PictureConverter> c = std::move(idleConverters.back());
        idleConverters.pop_back();
        return c;
    }
    void giveBack(std::unique_ptr<PictureConverter> c) {
        std::lock_guard lock(convertersMutex);
        idleConverters.push_back(std::move(c));
    }
};

VideoFileClip::VideoFileClip(const std::string& path, FitMode fit, double from, double to,
                             bool keepSound)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = path;
    s.fit = fit;
    takeLoggedErrors();
    s.file = std::make_shared<MediaDemuxer>();
    int result = s.file->open(path);
    s.format = s.file->format();
    if (result < 0) s.fail("read", result);
    const AVCodec* codec = nullptr;
    s.stream = bestStream(s.format, AVMEDIA_TYPE_VIDEO, &codec);
    if (s.stream < 0) s.noPicture();
    s.file->follow(s.stream);
    const AVCodec* soundCodec = nullptr;
    s.soundStream = bestStream(s.format, AVMEDIA_TYPE_AUDIO, &soundCodec);
    if (keepSound && s.soundStream >= 0) s.file->follow(s.soundStream);
    AVStream* stream = s.format->streams[s.stream];
    s.timeBase = stream->time_base;
    s.turn = clockwiseTurnOf(*stream);
    const AVRational guessed = av_guess_frame_rate(s.format, stream, nullptr);
    if (guessed.num > 0 && guessed.den > 0) s.ownRate = {guessed.num, guessed.den};

    result = s.decoder.open(*s.format, s.stream, *codec, 0, false);
    if (result < 0) s.fail("decode", result);
    s.current = av_frame_alloc();
    s.ahead = av_frame_alloc();
    if (!s.current || !s.ahead) throw std::bad_alloc();
    if (!s.decode(s.current) || s.current->width < 1 || s.current->height < 1) s.noPicture();
    if (s.current->best_effort_timestamp != AV_NOPTS_VALUE)
        s.firstStamp = s.current->best_effort_timestamp;
    const int64_t fileEnd =
        stream->duration != AV_NOPTS_VALUE
            ? (stream->start_time == AV_NOPTS_VALUE ? s.firstStamp : stream->start_time) +
                  stream->duration
            : av_rescale_q(s.format->duration, AV_TIME_BASE_Q, s.timeBase);
    const double naturalLength =
        s.format->duration == AV_NOPTS_VALUE && stream->duration == AV_NOPTS_VALUE
            ? std::numeric_limits<double>::infinity()
            : double(fileEnd - s.firstStamp) * av_q2d(s.timeBase);
    s.decodeAhead();
    // A single picture stands for every moment of the clip, however it is cut.
    s.still = !s.haveAhead;
    if (from > 0 && !s.still) s.skipTo(from, naturalLength);
    const double end = s.still ? to : std::min(to, naturalLength);
    if (std::isfinite(to)) {
        s.endTime = int64_t(std::llround((to - from) / av_q2d(s.timeBase)));
        s.cutAhead();
    }
    if (std::isfinite(end)) s.length = std::max(0.0, end - from);
}

std::optional<double> VideoFileClip::length() const { return state_->length; }

VideoFileClip::~VideoFileClip() = default;

int32_t VideoFileClip::width() const {
    int32_t w, h;
    displaySize(state_->current->width, state_->current->height, state_->pixelAspect(),
                state_->turn, w, h);
    return w;
}

int32_t VideoFileClip::height() const {
    int32_t w, h;
    displaySize(state_->current->width, state_->current->height, state_->pixelAspect(),
                state_->turn, w, h);
    return h;
}

bool VideoFileClip::hasSound() const { return state_->soundStream >= 0; }

std::shared_ptr<MediaDemuxer> VideoFileClip::file() const { return state_->file; }

ColourTags VideoFileClip::colourTags() const {
    const AVFrame& f = *state_->current;
    ColourTags tags{f.color_range, f.color_primaries, f.color_trc, f.colorspace};
    // The range and matrix of RGB pictures say nothing of a YUV output's.
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f.format));
    if (!d || (d->flags & AV_PIX_FMT_FLAG_RGB) || d->nb_components < 3) {
        tags.range = AVCOL_RANGE_UNSPECIFIED;
        tags.matrix = AVCOL_SPC_UNSPECIFIED;
    }
    return tags;
}

std::optional<FrameRate> VideoFileClip::rate() const {
    if (state_->still) return std::nullopt;
    return state_->ownRate;
}

PictureTask VideoFileClip::pictureAt(int64_t index, FrameRate rate) {
    State& s = *state_;
    s.advanceTo(index, rate);
    const DecodedPicture picture = s.shareCurrent();
    return [&s, picture, aspect = s.pixelAspect()](HostFrame& out) {
        const PicturePlacement place = placePicture(picture->width, picture->height, aspect, s.turn,
                                                    s.fit, out.width, out.height);
        std::unique_ptr<PictureConverter> converter = s.takeConverter();
        converter->convert(*picture, place, s.path, out);
        s.giveBack(std::move(converter));
    };
}

DecodedPicture VideoFileClip::unchangedPictureAt(int64_t index, FrameRate rate, int32_t width,
                                                 int32_t height) {
    State& s = *state_;
    s.advanceTo(index, rate);
    const AVFrame& f = *s.current;
    if (f.width != width || f.height != height || s.turn != 0) return nullptr;
    const PicturePlacement place =
        placePicture(f.width, f.height, s.pixelAspect(), s.turn, s.fit, width, height);
    const bool whole = place.cropX == 0 && place.cropY == 0 && place.cropWidth == width &&
                       place.cropHeight == height && place.scaledWidth == width &&
                       place.scaledHeight == height;
    return whole ? s.shareCurrent() : nullptr;
}

void silenceFfmpegLog() { av_log_set_callback(keepErrors); }

}  // namespace granulix::cli
