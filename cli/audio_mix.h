// The sound of an edit, mixed by libavfilter: clip A's sound up to the end
// of the transition, the two crossfaded over the transition's length, then
// clip B's sound. Each clip's sound is trimmed as its pictures are, resampled
// to one rate and channel layout, cut or padded with silence to the time
// its pictures last; a clip without sound plays silence. A mono clip beside
// a wider one plays on both front channels at its own level.
//
// Use: make a SoundTrack, read its rate and layout to set up an encoder,
// start() it with what the encoder takes, then take frames with next().
#pragma once

#include <limits>
#include <memory>
#include <string>

#include "media_demuxer.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace granulix::cli {

struct SoundClip {
    std::string path;                    // names the clip in messages
    std::shared_ptr<MediaDemuxer> file;  // the clip's pictures' own: VideoFileClip::file()
    double from = 0;                     // seconds after its first picture
    double to = std::numeric_limits<double>::infinity();
};

struct SoundPlan {
    SoundClip a, b;
    double transitionStart = 0;  // seconds into the output where clip B starts
    double crossfade = 0;        // seconds; clip A's sound ends this long after transitionStart
    double lengthB = 0;          // seconds clip B plays from transitionStart on
    std::string curve = "qsin";  // one of acrossfade's curves, for both sides
};

// acrossfade's curve names, for --help and for checking --audio-curve.
const char* const* soundCurves();
bool isSoundCurve(const std::string& name);

class SoundTrack {
public:
    // Sets up the decoding of both clips' sound; throws CliError naming a
    // file that has sound which cannot be decoded.
    explicit SoundTrack(const SoundPlan& plan);
    ~SoundTrack();
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    // Neither clip has sound.
    bool silent() const;
    // Clip A's sample rate, or clip B's when A has no sound; the layout of
    // the clip with more channels, A's when they have as many.
    int sampleRate() const;
    const AVChannelLayout& layout() const;

    // Builds the mix: frames of `frameSize` samples (0: any) in `format` at
    // `rate` samples a second.
    void start(AVSampleFormat format, int frameSize, int rate);
    // The next frame of the mix into `frame`; false after the last.
    bool next(AVFrame* frame);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace granulix::cli
