// Clips read from files with FFmpeg's libraries: any video or still image
// that libavformat and libavcodec can open. Every picture is scaled with
// libswscale straight into a 24-bit bottom-up host frame.
#pragma once

#include <memory>
#include <string>

#include "clip_source.h"

namespace granulix::cli {

class VideoFileClip : public ClipSource {
public:
    // Opens the file and decodes its first picture; throws CliError naming the
    // file when it cannot be opened, has no video or no decodable picture.
    explicit VideoFileClip(const std::string& path);
    ~VideoFileClip() override;
    VideoFileClip(const VideoFileClip&) = delete;
    VideoFileClip& operator=(const VideoFileClip&) = delete;

    // Size of the first picture.
    int32_t width() const;
    int32_t height() const;

    void next(HostFrame& out) override;
    void skip() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Keeps FFmpeg's own log quiet: the program reports failures in one line.
void silenceFfmpegLog();

}  // namespace granulix::cli
