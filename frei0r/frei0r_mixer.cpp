#include "frei0r_mixer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>

#include "rgba_frames.h"
#include "task_pool.h"
#include "settings_file.h"

namespace granulix::frei0r {
namespace {

// Says on standard error that a settings file could not be read, once per
// name in the process: the host sets the name on every frame and on each of
// its instances, and several instances may take turns with their names.
void reportUnreadable(const std::string& path, const char* reason) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    // Past this many names a project that animates the name would only fill
    // memory and the log: the rest go unsaid.
    constexpr std::size_t kMostNames = 1024;
    std::lock_guard lock(mutex);
    if (reported.size() >= kMostNames || !reported.insert(path).second) return;
    std::fprintf(stderr, "granulix: %s: %s; the settings in force stay\n", path.c_str(), reason);
}

// Reads the settings file at `path` over `settings` as the module's loader
// does, once it is known to be a plain file of a settings file's size. It
// is opened without waiting: a named pipe would hold the host's threads for
// good. Returns why the file could not be read, or nullptr.
const char* readSettingsFile(const std::string& path, EffectSettings& settings) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return settingsFileMessage(SettingsFileStatus::kCannotOpen);
    const char* reason = nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0) {
        reason = settingsFileMessage(SettingsFileStatus::kCannotOpen);
    } else if (!S_ISREG(info.st_mode)) {
        reason = "not a plain file";
    } else if (uint64_t(info.st_size) > kLargestSettingsFile) {
        reason = "too large to be a settings file";
    } else {
        uint8_t bytes[kSettingsFileSize];
        size_t got = 0;
        while (got < sizeof bytes) {
            const ssize_t n = pread(fd, bytes + got, sizeof bytes - got, off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) reason = settingsFileMessage(SettingsFileStatus::kReadFailed);
            if (n <= 0) break;
            got += size_t(n);
        }
        const SettingsFileStatus status =
            reason ? SettingsFileStatus::kOk : parseSettingsFile(bytes, got, settings);
        if (status != SettingsFileStatus::kOk) reason = settingsFileMessage(status);
    }
    ::close(fd);
    return reason;
}

double held(double unit) {
    if (unit < 0) return 0;
    if (unit > 1) return 1;
    return unit;
}

}  // namespace

const std::vector<const SettingsField*>& fieldParameters() {
    static const std::vector<const SettingsField*> parameters = [] {
        std::vector<const SettingsField*> list;
        for (const SettingsField& f : settingsFields()) {
            if (!f.paramName.empty()) list.push_back(&f);
        }
        return list;
    }();
    return parameters;
}

int parameterCount() { return kFirstFieldParam + int(fieldParameters().size()); }

int32_t fieldFromUnit(const SettingsField& field, double unit, int32_t previous) {
    if (std::isnan(unit)) return previous;
    const int32_t value = int32_t(std::lround(held(unit) * double(field.maximum)));
    return std::clamp(value, field.minimum, field.maximum);
}

double unitFromField(const SettingsField& field, int32_t value) {
    if (field.maximum <= 0) return 0;
    return held(double(value) / double(field.maximum));
}

Mixer::Mixer(unsigned width, unsigned height)
    : width_(width),
      height_(height),
      renderable_(rgbaSizeRenderable(width, height)),
      overrides_(fieldParameters().size()),
      overridden_(fieldParameters().size()) {
    fillDefaults(base_);
}

void Mixer::setProgress(double progress) {
    std::lock_guard lock(mutex_);
    progress_ = std::isnan(progress) ? 0 : held(progress);
}

double Mixer::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

void Mixer::setSettingsFile(const char* path) {
    const std::string name = path ? path : "";
    std::lock_guard lock(mutex_);
    if (name == file_) return;
    file_ = name;
    if (name.empty()) {
        base_ = EffectSettings{};
        fillDefaults(base_);
        return;
    }
    EffectSettings loaded = base_;
    if (const char* reason = readSettingsFile(name, loaded)) {
        reportUnreadable(name, reason);
    } else {
        base_ = loaded;
    }
}

const char* Mixer::settingsFile() const {
    std::lock_guard lock(mutex_);
    return file_.c_str();
}

void Mixer::setField(int index, double unit) {
    if (index < 0 || index >= int(overrides_.size())) return;
    const SettingsField& f = *fieldParameters()[size_t(index)];
    std::lock_guard lock(mutex_);
    const int32_t current =
        overridden_[size_t(index)] ? overrides_[size_t(index)] : fieldValue(base_, f);
    const int32_t value = fieldFromUnit(f, unit, current);
    overridden_[size_t(index)] = value != f.defaultValue;
    overrides_[size_t(index)] = value;
}

double Mixer::field(int index) const {
    if (index < 0 || index >= int(overrides_.size())) return 0;
    const SettingsField& f = *fieldParameters()[size_t(index)];
    std::lock_guard lock(mutex_);
    return unitFromField(
        f, overridden_[size_t(index)] ? overrides_[size_t(index)] : fieldValue(base_, f));
}

EffectSettings Mixer::settings() const {
    std::lock_guard lock(mutex_);
    EffectSettings s = base_;
    for (size_t i = 0; i < overrides_.size(); ++i) {
        if (overridden_[i]) setFieldValue(s, *fieldParameters()[i], overrides_[i]);
    }
    return s;
}

std::unique_ptr<Mixer::WorkFrames> Mixer::takeWorkFrames() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            std::unique_ptr<WorkFrames> frames = std::move(idle_.back());
            idle_.pop_back();
            return frames;
        }
    }
    return std::make_unique<WorkFrames>();
}

void Mixer::giveBack(std::unique_ptr<WorkFrames> frames) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(frames));
}

void Mixer::update(const uint32_t* clipA, const uint32_t* clipB, uint32_t* out) {
    if (!clipA || !clipB || !out || width_ == 0 || height_ == 0) return;
    const size_t pixels = size_t(width_) * size_t(height_);
    if (!renderable_) {
        std::memmove(out, clipA, pixels * sizeof(uint32_t));
        return;
    }
    EffectSettings settings = this->settings();
    std::unique_ptr<WorkFrames> frames;
    try {
        frames = takeWorkFrames();
        renderRgbaFrames({clipA, clipB, out, width_, height_, width_, width_}, float(progress()),
                         settings, *frames, sharedTaskPool());
    } catch (const std::bad_alloc&) {
        std::memmove(out, clipA, pixels * sizeof(uint32_t));
    }
    if (frames) giveBack(std::move(frames));
}

}  // namespace granulix::frei0r
