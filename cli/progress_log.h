// Progress for scripts and front-ends, in the form of ffmpeg's -progress:
// blocks of key=value lines (frame=, fps=, bitrate=, total_size=,
// out_time_us=, out_time_ms=, out_time=, dup_frames=, drop_frames=, speed=),
// each ended by progress=continue, about twice a second, and a last block
// ended by progress=end once the output is whole. As in ffmpeg, out_time_ms
// counts microseconds too.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "clip_source.h"

namespace granulix::cli {

// Throws CliError when `target` may not take progress: a plain file obeys
// the rules of outputs (no folder, a read-only file only with `force`); a
// pipe or a device takes the lines as they come.
void checkProgressTarget(const std::string& target, bool force);

class ProgressLog {
public:
    // Writes to the file `target`, created or emptied, or to standard output
    // for "-"; a read-only file is replaced by a new one with its mode, as
    // outputs are. Throws CliError when the file cannot be opened. `bytes`
    // tells how much of the output is written so far, -1 when that is not
    // known.
    ProgressLog(const std::string& target, bool force, FrameRate rate,
                std::function<int64_t()> bytes, std::chrono::steady_clock::time_point start);
    ~ProgressLog();
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;

    // `frames` frames are done; writes a block when the last is old enough.
    void update(int frames);
    // Writes the last block.
    void finish(int frames);

private:
    void write(int frames, bool end, std::chrono::steady_clock::time_point now);

    std::string target_;
    std::FILE* file_;
    FrameRate rate_;
    std::function<int64_t()> bytes_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastWrite_;
    bool written_ = false;
};

}  // namespace granulix::cli
