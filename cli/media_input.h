// Clips read from files with FFmpeg's libraries: any video or still image
// that libavformat and libavcodec can open. Pictures are taken by their
// timestamps, turned upright as the file says they are shown, and scaled
// with libswscale into a 24-bit bottom-up host frame, placed by a FitMode.
#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "clip_source.h"
#include "media_demuxer.h"

namespace granulix::cli {

class VideoFileClip : public ClipSource {
public:
    // Opens the file and decodes its first picture; throws CliError naming the
    // file when it cannot be opened, has no video or no decodable picture.
    // With `from` and `to` (seconds after the first picture) the clip is the
    // pictures shown in that span, its time counted from `from`. With
    // `keepSound` the packets of its sound read on the way are kept for a
    // SoundTrack that reads the same file().
    VideoFileClip(const std::string& path, FitMode fit, double from = 0,
                  double to = std::numeric_limits<double>::infinity(), bool keepSound = false);
    ~VideoFileClip() override;
    VideoFileClip(const VideoFileClip&) = delete;
    VideoFileClip& operator=(const VideoFileClip&) = delete;

    // Size the first picture is shown at: turned upright, square pixels.
    int32_t width() const;
    int32_t height() const;

    PictureTask pictureAt(int64_t index, FrameRate rate) override;
    DecodedPicture unchangedPictureAt(int64_t index, FrameRate rate, int32_t width,
                                      int32_t height) override;
    std::optional<FrameRate> rate() const override;
    bool hasSound() const override;
    ColourTags colourTags() const override;
    // Trimmed; none for a still picture that is not.
    std::optional<double> length() const override;
    // The file, opened once, that the clip's sound is read from too.
    std::shared_ptr<MediaDemuxer> file() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Keeps FFmpeg's own log off the terminal: the program reports failures in
// one line. The last error FFmpeg logged is kept for those messages.
void silenceFfmpegLog();
// The errors FFmpeg logged since the last call, newest last.
std::string takeLoggedErrors();
// The same for its warnings.
std::string takeLoggedWarnings();

}  // namespace granulix::cli
