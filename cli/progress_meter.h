// A one-line progress bar on standard error: frames done, frames per second
// and time left. Silent when standard error is not a terminal.
//
// Its clock runs from the start the command gives it to finish(), which the
// command calls once the output is whole (an encoder's tail included): the
// bar's last figure and the summary's are then the same measurement.
#pragma once

#include <chrono>

#include "progress_log.h"

namespace granulix::cli {

class ProgressMeter {
public:
    // `enabled` false (--quiet) keeps it silent even on a terminal.
    ProgressMeter(int total, bool enabled, std::chrono::steady_clock::time_point start);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void update(int done);
    // Also tells `log` of every update and of the finish.
    void alsoLog(ProgressLog& log) { log_ = &log; }
    // Draws the bar a last time and ends its line; returns the seconds since
    // the start.
    double finish();

private:
    void draw(int done, bool force, std::chrono::steady_clock::time_point now);

    int total_;
    int done_ = 0;
    bool active_;
    bool drawn_ = false;
    ProgressLog* log_ = nullptr;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace granulix::cli
