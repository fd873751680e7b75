#include "progress_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>

#include "cli_error.h"
#include "output_files.h"

namespace granulix::cli {

namespace {

// ffmpeg writes a block every half second.
constexpr std::chrono::milliseconds kPeriod{500};

// Whether `target` names a pipe or a device, which is written as it is.
bool isStream(const std::string& target) {
    struct stat info;
    return stat(target.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
}

// A new file in place of the read-only one at `target`, already under its
// name and given its mode, open for writing.
std::FILE* replaceReadOnly(const std::string& target) {
    PendingFile file(target, true);
    const int fd = ::open(file.path().c_str(), O_WRONLY | O_CLOEXEC);
    std::FILE* stream = fd < 0 ? nullptr : fdopen(fd, "w");
    if (!stream) {
        const int code = errno;
        if (fd >= 0) ::close(fd);
        throw CliError("cannot write progress to " + target + ": " + systemErrorText(code));
    }
    try {
        file.commit();
    } catch (...) {
        std::fclose(stream);
        throw;
    }
    return stream;
}

}  // namespace

void checkProgressTarget(const std::string& target, bool force) {
    if (target != "-" && !isStream(target)) checkReplaceable(target, force);
}

ProgressLog::ProgressLog(const std::string& target, bool force, FrameRate rate,
                         std::function<int64_t()> bytes,
                         std::chrono::steady_clock::time_point start)
    : target_(target), rate_(rate), bytes_(std::move(bytes)), start_(start) {
    if (target == "-") {
        file_ = stdout;
        return;
    }
    const ExistingFile old = isStream(target) ? ExistingFile{} : checkReplaceable(target, force);
    // Emptied in place, as ffmpeg does, unless the mode forbids writing it.
    file_ = old.exists && (old.mode & 0222) == 0 ? replaceReadOnly(target)
                                                 : std::fopen(target.c_str(), "w");
    if (!file_)
        throw CliError("cannot write progress to " + target + ": " + systemErrorText(errno));
}

ProgressLog::~ProgressLog() {
    if (file_ && file_ != stdout) std::fclose(file_);
}

void ProgressLog::update(int frames) {
    const auto now = std::chrono::steady_clock::now();
    if (written_ && now - lastWrite_ < kPeriod) return;
    write(frames, false, now);
}

void ProgressLog::finish(int frames) { write(frames, true, std::chrono::steady_clock::now()); }

void ProgressLog::write(int frames, bool end, std::chrono::steady_clock::time_point now) {
    lastWrite_ = now;
    written_ = true;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const int64_t outUs = int64_t(frames) * rate_.den * 1000000 / rate_.num;
    const int64_t size = bytes_ ? bytes_() : -1;
    const double outSeconds = double(outUs) / 1e6;

    char bitrate[32] = "N/A", total[32] = "N/A", speed[32] = "N/A";
    if (size >= 0) {
        std::snprintf(total, sizeof total, "%" PRId64, size);
        if (outSeconds > 0)
            std::snprintf(bitrate, sizeof bitrate, "%.1fkbits/s",
                          double(size) * 8 / outSeconds / 1000);
    }
    if (elapsed > 0) std::snprintf(speed, sizeof speed, "%.3gx", outSeconds / elapsed);
    const int64_t s = outUs / 1000000;
    const int ok = std::fprintf(
        file_,
        "frame=%d\nfps=%.2f\nbitrate=%s\ntotal_size=%s\nout_time_us=%" PRId64
        "\nout_time_ms=%" PRId64 "\nout_time=%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%06" PRId64
        "\ndup_frames=0\ndrop_frames=0\nspeed=%s\nprogress=%s\n",
        frames, elapsed > 0 ? frames / elapsed : 0.0, bitrate, total, outUs, outUs, s / 3600,
        s / 60 % 60, s % 60, outUs % 1000000, speed, end ? "end" : "continue");
    if (ok < 0 || std::fflush(file_) != 0) {
        throw CliError("cannot write progress to " +
                       (target_ == "-" ? std::string("standard output") : target_) + ": " +
                       systemErrorText(errno));
    }
}

}  // namespace granulix::cli
