// Granulix as a frei0r "mixer2" plug-in, the way MLT (Shotcut, Kdenlive,
// Flowblade, melt) and GStreamer load transitions.
//
// Parameters, every one a frei0r value in 0..1 except the file name:
//   0  progress       0 shows clip A (the first input), 1 shows clip B
//   1  settings-file  a .qlb file, applied before the single fields
//   2… one per field of the settings table that a user can change, named
//      by the table's paramName; value v of a field whose range is lo..hi
//      is v / hi, and x maps back to round(x * hi) held to lo..hi. A host
//      that knows only a factor between its units and ours (Kdenlive's
//      descriptions) so writes every whole value of the range exactly,
//      even where the range does not start at 0.
// A value outside 0..1 or infinite is held to the nearest end; NaN leaves a
// field as it was and counts as 0 for progress. A field set to its default
// leaves the file's value in force; any other value replaces it.
//
// Frames are RGBA8888, top line first. Each is turned into the engine's work
// frame (bottom line first, blue in the low byte, top byte 0), rendered with
// the module's progress mapping, and turned back with full alpha: the same
// bits as the module gives for the same picture. An instance keeps one set
// of work frames, with the scratch the engine carves its per-frame tables
// from, per thread that has rendered through it at the same time, so after
// the first frames nothing at all is allocated.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "effect_settings.h"
#include "rgba_frames.h"
#include "settings_table.h"

namespace granulix::frei0r {

constexpr int kProgressParam = 0;
constexpr int kSettingsFileParam = 1;
constexpr int kFirstFieldParam = 2;

// Names a host lists the plug-in and its first two parameters by.
constexpr const char* kPluginName = "granulix";
constexpr const char* kPluginExplanation =
    "Particle dissolve: the pixels of the first input fly off and uncover the second";
constexpr const char* kProgressParamName = "progress";
constexpr const char* kSettingsFileParamName = "settings-file";

// The table fields that are parameters, in parameter order from 2.
const std::vector<const SettingsField*>& fieldParameters();
int parameterCount();

// The field's whole value for a parameter value; NaN gives `previous`.
int32_t fieldFromUnit(const SettingsField& field, double unit, int32_t previous);
double unitFromField(const SettingsField& field, int32_t value);

class Mixer {
public:
    Mixer(unsigned width, unsigned height);
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    void setProgress(double progress);
    double progress() const;
    // Loads the file when the name differs from the last one; a file that
    // cannot be read leaves the settings as they were and is reported once
    // on standard error. An empty name goes back to the defaults.
    void setSettingsFile(const char* path);
    const char* settingsFile() const;
    void setField(int index, double unit);  // index into fieldParameters()
    double field(int index) const;

    // The settings a frame is rendered with.
    EffectSettings settings() const;

    // Renders one frame; safe to call from several threads at once.
    void update(const uint32_t* clipA, const uint32_t* clipB, uint32_t* out);

private:
    // What one render takes besides the host's frames; kept between frames.
    using WorkFrames = RgbaWork;
    std::unique_ptr<WorkFrames> takeWorkFrames();
    void giveBack(std::unique_ptr<WorkFrames> frames);

    const unsigned width_, height_;
    const bool renderable_;  // a frame the engine can address
    mutable std::mutex mutex_;
    double progress_ = 0;
    std::string file_;
    EffectSettings base_{};  // the defaults, or the last file read
    std::vector<int32_t> overrides_;
    std::vector<bool> overridden_;
    std::vector<std::unique_ptr<WorkFrames>> idle_;
};

}  // namespace granulix::frei0r
