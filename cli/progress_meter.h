// A one-line progress bar on standard error: frames done, frames per second
// and time left. Silent when standard error is not a terminal.
#pragma once

#include <chrono>

namespace granulix::cli {

class ProgressMeter {
public:
    // `enabled` false (--quiet) keeps it silent even on a terminal.
    ProgressMeter(int total, bool enabled);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void update(int done);
    // Ends the line the bar is drawn on.
    void finish();

private:
    void draw(int done, bool force);

    int total_;
    bool active_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace granulix::cli
