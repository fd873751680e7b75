#include "audio_mix.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli_error.h"
#include "ffmpeg_util.h"

namespace granulix::cli {

namespace {

const char* const kCurves[] = {"qsin", "tri",  "esin", "hsin", "log",   "ipar",   "qua",
                               "cub",  "squ",  "cbr",  "par",  "exp",   "iqsin",  "ihsin",
                               "dese", "desi", "losi", "sinc", "isinc", "nofade", nullptr};

std::string seconds(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// The sound stream of one clip's file, decoded frame by frame, with times
// counted from the file's first picture. The file is the one the clip's
// pictures are read from, already where they start.
struct SoundReader {
    std::string path;
    std::shared_ptr<MediaDemuxer> file;
    AVFormatContext* format = nullptr;
    StreamDecoder decoder;
    int stream = -1;
    int64_t origin = 0;  // the first picture's time, in the sound stream's time base
    double end = 0;      // seconds after the first picture where the mix needs no more
    bool draining = false;
    bool ended = false;

    [[noreturn]] void fail(const std::string& what, int code) const {
        throw CliError("cannot " + what + " the sound of " + path + ": " + ffmpegError(code));
    }

    // False when the file has no sound.
    bool open(const SoundClip& clip) {
        path = clip.path;
        file = clip.file;
        format = file->format();
        const AVCodec* codec = nullptr;
        stream = bestStream(format, AVMEDIA_TYPE_AUDIO, &codec);
        if (stream < 0) return false;
        AVStream* s = format->streams[stream];
        const int video = bestStream(format, AVMEDIA_TYPE_VIDEO);
        if (video >= 0 && format->streams[video]->start_time != AV_NOPTS_VALUE) {
            origin = av_rescale_q(format->streams[video]->start_time,
                                  format->streams[video]->time_base, s->time_base);
        } else if (s->start_time != AV_NOPTS_VALUE) {
            origin = s->start_time;
        }
        const int result = decoder.open(*format, stream, *codec, 1, true);
        if (result < 0) fail("decode", result);
        return true;
    }

    // Decodes no more: the rest of the file is not read for the sound.
    void stop() {
        ended = true;
        if (stream >= 0) file->unfollow(stream);
    }

    AVRational timeBase() const { return format->streams[stream]->time_base; }

    // The next decoded frame, its time counted from the first picture;
    // false at the end.
    bool decode(AVFrame* into) {
        const char* what = nullptr;
        const int result =
            decodeNext(*file, stream, decoder.context, decoder.packet, draining, into, true, what);
        if (result == AVERROR_EOF) return false;
        if (result < 0) fail(what, result);
        into->pts = into->best_effort_timestamp == AV_NOPTS_VALUE
                        ? AV_NOPTS_VALUE
                        : into->best_effort_timestamp - origin;
        return true;
    }
};

}  // namespace

const char* const* soundCurves() { return kCurves; }

bool isSoundCurve(const std::string& name) {
    for (const char* const* c = kCurves; *c; ++c) {
        if (name == *c) return true;
    }
    return false;
}

struct SoundTrack::State {
    SoundPlan plan;
    SoundReader readers[2];
    bool hasSound[2] = {false, false};
    AVChannelLayout clipLayouts[2] = {};  // as each clip's sound is decoded
    AVChannelLayout layout{};
    int rate = 0;
    AVFilterGraph* graph = nullptr;
    AVFilterContext* sources[2] = {nullptr, nullptr};
    AVFilterContext* sink = nullptr;
    AVFrame* decoded = nullptr;

    ~State() {
        av_frame_free(&decoded);
        avfilter_graph_free(&graph);
        av_channel_layout_uninit(&layout);
        for (AVChannelLayout& l : clipLayouts) av_channel_layout_uninit(&l);
    }

    [[noreturn]] void failMix(int code) const {
        throw CliError("cannot mix the sound of the clips: " + ffmpegError(code));
    }

    // The filters that make one clip's part of the mix, from [inN] (when it
    // has sound) to [clipN].
    std::string branch(int clip, const std::string& layoutName, double length) const {
        const SoundClip& c = clip == 0 ? plan.a : plan.b;
        const std::string in = "[in" + std::to_string(clip) + "]",
                          out = "[clip" + std::to_string(clip) + "]";
        const std::string rateText = std::to_string(rate);
        if (!hasSound[clip]) {
            return "anullsrc=r=" + rateText + ":cl=" + layoutName +
                   ",atrim=end=" + seconds(length) + out;
        }
        std::string chain = in;
        if (c.from > 0 || std::isfinite(c.to)) {
            chain += "atrim=start=" + seconds(c.from) +
                     (std::isfinite(c.to) ? ":end=" + seconds(c.to) : "") + ",asetpts=PTS-" +
                     seconds(c.from) + "/TB,";
        }
        return chain + monoSpread(clip, layoutName) + "aresample=" + rateText +
               ":async=1:first_pts=0," + "aformat=sample_fmts=fltp:channel_layouts=" + layoutName +
               ",apad=whole_dur=" + seconds(length) + ",atrim=end=" + seconds(length) + out;
    }

    // A mono clip in a wider mix plays on the front left and right (the
    // first two channels when the layout has no such pair) at its own level;
    // left to the resampler it would come 3 dB lower.
    std::string monoSpread(int clip, const std::string& layoutName) const {
        if (clipLayouts[clip].nb_channels != 1 || layout.nb_channels < 2) return {};
        int left = av_channel_layout_index_from_channel(&layout, AV_CHAN_FRONT_LEFT);
        int right = av_channel_layout_index_from_channel(&layout, AV_CHAN_FRONT_RIGHT);
        if (left < 0 || right < 0) left = 0, right = 1;
        return "pan=" + layoutName + "|c" + std::to_string(left) + "=c0|c" + std::to_string(right) +
               "=c0,";
    }

    void feed(int clip) {
        SoundReader& r = readers[clip];
        int result;
        // A frame that starts where the clip's part of the mix has ended is
        // the first of many the mix would only cut off.
        if (!r.ended && r.decode(decoded) &&
            (decoded->pts == AV_NOPTS_VALUE ||
             double(decoded->pts) * av_q2d(r.timeBase()) < r.end)) {
            result =
                av_buffersrc_add_frame_flags(sources[clip], decoded, AV_BUFFERSRC_FLAG_KEEP_REF);
            av_frame_unref(decoded);
        } else {
            av_frame_unref(decoded);
            r.stop();
            result = av_buffersrc_add_frame(sources[clip], nullptr);
        }
        if (result < 0 && result != AVERROR_EOF) failMix(result);
    }
};

SoundTrack::SoundTrack(const SoundPlan& plan) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.plan = plan;
    s.hasSound[0] = s.readers[0].open(plan.a);
    s.hasSound[1] = s.readers[1].open(plan.b);
    s.readers[0].end = plan.a.from + plan.transitionStart + plan.crossfade;
    s.readers[1].end = plan.b.from + plan.lengthB;
    // The mix keeps clip A's rate and the wider of the two layouts, so that
    // no clip loses channels and none is mixed down louder.
    for (int clip = 0; clip < 2; ++clip) {
        if (!s.hasSound[clip]) continue;
        const AVCodecContext* d = s.readers[clip].decoder.context;
        AVChannelLayout& own = s.clipLayouts[clip];
        if (d->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&own, d->ch_layout.nb_channels);
        } else if (av_channel_layout_copy(&own, &d->ch_layout) < 0) {
            throw std::bad_alloc();
        }
        if (s.rate == 0) s.rate = d->sample_rate;
        if (own.nb_channels > s.layout.nb_channels && av_channel_layout_copy(&s.layout, &own) < 0) {
            throw std::bad_alloc();
        }
    }
}

SoundTrack::~SoundTrack() = default;

bool SoundTrack::silent() const { return state_->rate == 0; }
int SoundTrack::sampleRate() const { return state_->rate; }
const AVChannelLayout& SoundTrack::layout() const { return state_->layout; }

void SoundTrack::start(AVSampleFormat format, int frameSize, int rate) {
    State& s = *state_;
    s.rate = rate;
    s.graph = avfilter_graph_alloc();
    s.decoded = av_frame_alloc();
    if (!s.graph || !s.decoded) throw std::bad_alloc();
    s.graph->nb_threads = 1;

    char layoutName[128] = {};
    av_channel_layout_describe(&s.layout, layoutName, sizeof layoutName);
    AVFilterInOut* outputs = nullptr;
    for (int clip = 0; clip < 2; ++clip) {
        if (!s.hasSound[clip]) continue;
        const AVCodecContext* d = s.readers[clip].decoder.context;
        char channels[128] = {};
        av_channel_layout_describe(&s.clipLayouts[clip], channels, sizeof channels);
        const AVRational tb = s.readers[clip].timeBase();
        const std::string args =
            "time_base=" + std::to_string(tb.num) + "/" + std::to_string(tb.den) +
            ":sample_rate=" + std::to_string(d->sample_rate) +
            ":sample_fmt=" + av_get_sample_fmt_name(d->sample_fmt) + ":channel_layout=" + channels;
        const std::string name = "in" + std::to_string(clip);
        const int result =
            avfilter_graph_create_filter(&s.sources[clip], avfilter_get_by_name("abuffer"),
                                         name.c_str(), args.c_str(), nullptr, s.graph);
        if (result < 0) s.failMix(result);
        AVFilterInOut* out = avfilter_inout_alloc();
        if (!out) throw std::bad_alloc();
        out->name = av_strdup(name.c_str());
        out->filter_ctx = s.sources[clip];
        out->pad_idx = 0;
        out->next = outputs;
        outputs = out;
    }
    int result = avfilter_graph_create_filter(&s.sink, avfilter_get_by_name("abuffersink"), "out",
                                              nullptr, nullptr, s.graph);
    if (result < 0) s.failMix(result);
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!inputs) throw std::bad_alloc();
    inputs->name = av_strdup("out");
    inputs->filter_ctx = s.sink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;

    const SoundPlan& p = s.plan;
    const long long crossfadeSamples = std::max<long long>(1, std::llround(p.crossfade * rate));
    const std::string description =
        s.branch(0, layoutName, p.transitionStart + p.crossfade) + ";" +
        s.branch(1, layoutName, p.lengthB) +
        ";[clip0][clip1]acrossfade=ns=" + std::to_string(crossfadeSamples) + ":c1=" + p.curve +
        ":c2=" + p.curve + ",aformat=sample_fmts=" + av_get_sample_fmt_name(format) +
        ":sample_rates=" + std::to_string(rate) + ":channel_layouts=" + layoutName + "[out]";
    result = avfilter_graph_parse_ptr(s.graph, description.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (result < 0) s.failMix(result);
    result = avfilter_graph_config(s.graph, nullptr);
    if (result < 0) s.failMix(result);
    if (frameSize > 0) av_buffersink_set_frame_size(s.sink, unsigned(frameSize));
}

bool SoundTrack::next(AVFrame* frame) {
    State& s = *state_;
    for (;;) {
        const int result = av_buffersink_get_frame(s.sink, frame);
        if (result >= 0) return true;
        if (result == AVERROR_EOF) return false;
        if (result != AVERROR(EAGAIN)) s.failMix(result);
        // Feed the clip the mix waits for; either when it asks for none.
        int wanted = -1;
        for (int clip = 0; clip < 2; ++clip) {
            if (!s.sources[clip] || s.readers[clip].ended) continue;
            if (wanted < 0 || av_buffersrc_get_nb_failed_requests(s.sources[clip]) >
                                  av_buffersrc_get_nb_failed_requests(s.sources[wanted])) {
                wanted = clip;
            }
        }
        if (wanted < 0) return false;
        s.feed(wanted);
    }
}

}  // namespace granulix::cli
