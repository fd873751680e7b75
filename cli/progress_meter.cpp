#include "progress_meter.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace granulix::cli {

namespace {

std::string clock(double seconds) {
    const long s = long(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

ProgressMeter::ProgressMeter(int total, bool enabled, std::chrono::steady_clock::time_point start)
    : total_(total), active_(enabled && isatty(STDERR_FILENO)), start_(start) {}

ProgressMeter::~ProgressMeter() {
    // An aborted run leaves the cursor on a fresh line for the error message.
    if (drawn_) std::fputc('\n', stderr);
}

void ProgressMeter::update(int done) {
    done_ = done;
    draw(done, done == total_, std::chrono::steady_clock::now());
    if (log_) log_->update(done);
}

double ProgressMeter::finish() {
    const auto end = std::chrono::steady_clock::now();
    draw(done_, true, end);
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
    active_ = false;
    if (log_) log_->finish(done_);
    return std::chrono::duration<double>(end - start_).count();
}

void ProgressMeter::draw(int done, bool force, std::chrono::steady_clock::time_point now) {
    if (!active_) return;
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double fps = elapsed > 0 ? done / elapsed : 0;
    constexpr int kWidth = 30;
    const int filled = total_ > 0 ? int(int64_t(kWidth) * done / total_) : kWidth;
    std::string bar(std::size_t(filled), '#');
    bar.append(std::size_t(kWidth - filled), '.');
    std::string left = fps > 0 ? clock((total_ - done) / fps) : "-:--";
    std::fprintf(stderr, "\r[%s] %d/%d frames  %.1f fps  %s left ", bar.c_str(), done, total_, fps,
                 left.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace granulix::cli
