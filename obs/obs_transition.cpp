#include "obs_transition.h"

#include <obs-module.h>

#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "cli_error.h"
#include "effect_settings.h"
#include "rgba_frames.h"
#include "settings_files.h"
#include "task_pool.h"
#include "transition_fields.h"

namespace granulix::obs {
namespace {

// Says once in OBS's log that a settings file could not be read: the same
// name comes back at every update, and from every transition.
void reportUnreadable(const std::string& path, const char* why) {
    static std::mutex mutex;
    static std::string lastReported;
    std::lock_guard lock(mutex);
    if (path == lastReported) return;
    lastReported = path;
    blog(LOG_WARNING, "[granulix-obs] %s; the settings in force stay", why);
}

// Two scenes copied off the graphics card, and the time they were drawn at.
struct StagedScenes {
    gs_stagesurf_t* a = nullptr;
    gs_stagesurf_t* b = nullptr;
    uint32_t width = 0, height = 0;
    float time = 0;
    bool filled = false;

    void release() {
        gs_stagesurface_destroy(a);
        gs_stagesurface_destroy(b);
        a = b = nullptr;
        width = height = 0;
        filled = false;
    }
};

// A mapped stage surface, unmapped when it goes out of scope.
class MappedSurface {
public:
    explicit MappedSurface(gs_stagesurf_t* surface) : surface_(surface) {
        uint8_t* data = nullptr;
        uint32_t lineBytes = 0;
        if (gs_stagesurface_map(surface, &data, &lineBytes)) {
            pixels_ = reinterpret_cast<const uint32_t*>(data);
            stride_ = lineBytes / sizeof(uint32_t);
        }
    }
    MappedSurface(const MappedSurface&) = delete;
    MappedSurface& operator=(const MappedSurface&) = delete;
    ~MappedSurface() {
        if (pixels_) gs_stagesurface_unmap(surface_);
    }
    const uint32_t* pixels() const { return pixels_; }
    std::size_t stride() const { return stride_; }

private:
    gs_stagesurf_t* surface_;
    const uint32_t* pixels_ = nullptr;
    std::size_t stride_ = 0;
};

class Transition {
public:
    Transition(obs_data_t* data, obs_source_t* source) : source_(source) {
        fillDefaults(base_);
        // A saved transition comes back with its fields as they were saved:
        // its file is not read again over them.
        file_ = obs_data_get_string(data, kSettingsFileKey);
        readFields(data);
    }
    Transition(const Transition&) = delete;
    Transition& operator=(const Transition&) = delete;

    ~Transition() {
        obs_enter_graphics();
        releaseFrames();
        obs_leave_graphics();
    }

    void update(obs_data_t* data) {
        takeSettingsFile(data);
        readFields(data);
    }

    // Reads the file the data names when it differs from the last one, over
    // the settings in force (a JSON file may name only some fields), and
    // copies its fields into the data; an empty name goes back to the
    // defaults. Called by the file property when the user picks a file, so
    // the controls show the file's values at once, and by every update.
    void takeSettingsFile(obs_data_t* data) {
        const std::string path = obs_data_get_string(data, kSettingsFileKey);
        EffectSettings read;
        {
            std::lock_guard lock(mutex_);
            if (path == file_) return;
            file_ = path;
            read = settings_;
        }
        if (path.empty()) {
            fillDefaults(read);
        } else {
            try {
                cli::readSettings(path, read);
            } catch (const cli::CliError& e) {
                reportUnreadable(path, e.what());
                return;
            }
        }
        {
            std::lock_guard lock(mutex_);
            base_ = read;
        }
        for (const PropertyRow& row : propertyRows()) {
            const int32_t v = fieldValue(read, *row.field);
            if (row.control == Control::kCheck) {
                obs_data_set_bool(data, row.key.c_str(), v != 0);
            } else {
                obs_data_set_int(data, row.key.c_str(), v);
            }
        }
    }

    // Every field, the file's name included, back to its default.
    void reset() {
        obs_data_t* data = obs_source_get_settings(source_);
        obs_data_unset_user_value(data, kSettingsFileKey);
        for (const PropertyRow& row : propertyRows()) {
            obs_data_unset_user_value(data, row.key.c_str());
        }
        update(data);
        obs_source_update(source_, nullptr);
        obs_data_release(data);
    }

    obs_source_t* source() const { return source_; }

    void render() {
        bool ended;
        {
            std::lock_guard lock(mutex_);
            ended = ended_;
            ended_ = false;
        }
        if (ended) releaseFrames();
        obs_transition_video_render(source_, &Transition::renderScenes);
    }

    void startRun() {
        std::lock_guard lock(mutex_);
        newRun_ = true;
        ended_ = false;
    }

    // The copies and work frames go back once a run has ended, on the
    // graphics thread at its next frame.
    void endRun() {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }

private:
    void readFields(obs_data_t* data) {
        EffectSettings s;
        {
            std::lock_guard lock(mutex_);
            s = base_;
        }
        for (const PropertyRow& row : propertyRows()) {
            const long long v = row.control == Control::kCheck
                                    ? (obs_data_get_bool(data, row.key.c_str()) ? 1 : 0)
                                    : obs_data_get_int(data, row.key.c_str());
            setFieldValue(s, *row.field, heldToField(*row.field, v));
        }
        std::lock_guard lock(mutex_);
        settings_ = s;
    }

    static void renderScenes(void* data, gs_texture_t* a, gs_texture_t* b, float t, uint32_t cx,
                             uint32_t cy) {
        auto* self = static_cast<Transition*>(data);
        try {
            self->mixScenes(a, b, t, cx, cy);
        } catch (const std::exception& e) {
            self->reportFailure(e.what());
            self->drawScene(t < 0.5f ? a : b, cx, cy);
        }
    }

    void mixScenes(gs_texture_t* a, gs_texture_t* b, float t, uint32_t cx, uint32_t cy) {
        if (!a || !b || cx == 0 || cy == 0) return;
        const bool rgba =
            gs_texture_get_color_format(a) == GS_RGBA && gs_texture_get_color_format(b) == GS_RGBA;
        if (!rgba || !rgbaSizeRenderable(cx, cy)) {
            reportFailure(rgba ? "the transition's size is too large to mix"
                               : "the scenes are not 8-bit RGBA (a high dynamic range canvas?)");
            drawScene(t < 0.5f ? a : b, cx, cy);
            return;
        }
        bool firstOfRun;
        {
            std::lock_guard lock(mutex_);
            firstOfRun = newRun_;
            newRun_ = false;
        }
        StagedScenes& now = staged_[next_];
        StagedScenes& before = staged_[next_ ^ 1];
        next_ ^= 1;
        if (firstOfRun) before.filled = false;
        if (!stage(now, a, b, t, cx, cy)) {
            drawScene(t < 0.5f ? a : b, cx, cy);
            return;
        }
        if (!before.filled || before.width != cx || before.height != cy) {
            // Nothing staged a frame ago: at the start of a run the mix is
            // the scene being left.
            drawScene(a, cx, cy);
            return;
        }
        before.filled = false;
        if (!mixStaged(before)) {
            drawScene(t < 0.5f ? a : b, cx, cy);
            return;
        }
        drawMix(mixed_, cx, cy);
    }

    bool stage(StagedScenes& s, gs_texture_t* a, gs_texture_t* b, float t, uint32_t cx,
               uint32_t cy) {
        if (s.width != cx || s.height != cy || !s.a || !s.b) {
            s.release();
            s.a = gs_stagesurface_create(cx, cy, GS_RGBA);
            s.b = gs_stagesurface_create(cx, cy, GS_RGBA);
            if (!s.a || !s.b) {
                s.release();
                reportFailure("no memory for copies of the scenes");
                return false;
            }
            s.width = cx;
            s.height = cy;
        }
        gs_stage_texture(s.a, a);
        gs_stage_texture(s.b, b);
        s.time = t;
        s.filled = true;
        return true;
    }

    bool mixStaged(const StagedScenes& s) {
        EffectSettings settings;
        {
            std::lock_guard lock(mutex_);
            settings = settings_;
        }
        const std::size_t pixels = std::size_t(s.width) * s.height;
        {
            MappedSurface a(s.a), b(s.b);
            if (!a.pixels() || !b.pixels()) return false;
            try {
                frame_.resize(pixels);
                renderRgbaFrames({a.pixels(), b.pixels(), frame_.data(), s.width, s.height,
                                  a.stride(), b.stride()},
                                 s.time, settings, work_, sharedTaskPool());
            } catch (const std::bad_alloc&) {
                reportFailure("no memory to mix the scenes");
                return false;
            }
        }
        if (!mixed_ || gs_texture_get_width(mixed_) != s.width ||
            gs_texture_get_height(mixed_) != s.height) {
            gs_texture_destroy(mixed_);
            mixed_ = gs_texture_create(s.width, s.height, GS_RGBA, 1, nullptr, GS_DYNAMIC);
            if (!mixed_) {
                reportFailure("no memory for the mixed picture");
                return false;
            }
        }
        gs_texture_set_image(mixed_, reinterpret_cast<const uint8_t*>(frame_.data()),
                             s.width * uint32_t(sizeof(uint32_t)), false);
        return true;
    }

    void releaseFrames() {
        for (StagedScenes& s : staged_) s.release();
        gs_texture_destroy(mixed_);
        mixed_ = nullptr;
        std::vector<uint32_t>().swap(frame_);
        work_.releaseFrames();
    }

    // Draws a scene as it is, made opaque.
    static void drawScene(gs_texture_t* texture, uint32_t cx, uint32_t cy) {
        drawTexture(obs_get_base_effect(OBS_EFFECT_OPAQUE), texture, cx, cy);
    }

    // The mix is opaque already; the default effect draws its bytes as they are.
    static void drawMix(gs_texture_t* texture, uint32_t cx, uint32_t cy) {
        drawTexture(obs_get_base_effect(OBS_EFFECT_DEFAULT), texture, cx, cy);
    }

    static void drawTexture(gs_effect_t* effect, gs_texture_t* texture, uint32_t cx, uint32_t cy) {
        if (!texture) return;
        gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), texture);
        while (gs_effect_loop(effect, "Draw")) gs_draw_sprite(texture, 0, cx, cy);
    }

    void reportFailure(const char* what) {
        if (what == lastFailure_) return;
        lastFailure_ = what;
        blog(LOG_WARNING, "[granulix-obs] %s; the scenes are shown unmixed", what);
    }

    obs_source_t* const source_;
    std::mutex mutex_;  // guards what the update and the graphics thread share
    std::string file_;
    EffectSettings base_{};      // the defaults, or the last file read
    EffectSettings settings_{};  // base_ with the properties' fields: what frames use
    bool newRun_ = true;
    bool ended_ = false;

    // The graphics thread's own.
    StagedScenes staged_[2];
    int next_ = 0;
    std::vector<uint32_t> frame_;
    RgbaWork work_;
    gs_texture_t* mixed_ = nullptr;
    std::string lastFailure_;
};

Transition* transitionOf(void* data) { return static_cast<Transition*>(data); }

// Runs `body`; anything it throws is logged and goes no further.
template <typename Body>
void guarded(const char* where, Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        blog(LOG_WARNING, "[granulix-obs] %s: %s", where, e.what());
    } catch (...) {
        blog(LOG_WARNING, "[granulix-obs] %s failed", where);
    }
}

const char* name(void*) { return obs_module_text("Granulix"); }

void* create(obs_data_t* data, obs_source_t* source) {
    Transition* t = nullptr;
    guarded("create", [&] { t = new Transition(data, source); });
    return t;
}

void destroy(void* data) {
    guarded("destroy", [&] { delete transitionOf(data); });
}

void update(void* data, obs_data_t* settings) {
    if (!data) return;
    guarded("update", [&] { transitionOf(data)->update(settings); });
}

void videoRender(void* data, gs_effect_t*) {
    if (!data) return;
    guarded("render", [&] { transitionOf(data)->render(); });
}

float leaving(void*, float t) { return leavingGain(t); }
float arriving(void*, float t) { return arrivingGain(t); }

bool audioRender(void* data, uint64_t* tsOut, obs_source_audio_mix* audio, uint32_t mixers,
                 size_t channels, size_t sampleRate) {
    if (!data) return false;
    return obs_transition_audio_render(transitionOf(data)->source(), tsOut, audio, mixers, channels,
                                       sampleRate, leaving, arriving);
}

void transitionStart(void* data) {
    if (data) guarded("start", [&] { transitionOf(data)->startRun(); });
}

void transitionStop(void* data) {
    if (data) guarded("stop", [&] { transitionOf(data)->endRun(); });
}

void defaults(obs_data_t* settings) {
    guarded("defaults", [&] {
        obs_data_set_default_string(settings, kSettingsFileKey, "");
        for (const PropertyRow& row : propertyRows()) {
            if (row.control == Control::kCheck) {
                obs_data_set_default_bool(settings, row.key.c_str(), row.field->defaultValue != 0);
            } else {
                obs_data_set_default_int(settings, row.key.c_str(), row.field->defaultValue);
            }
        }
    });
}

bool settingsFileChosen(void* data, obs_properties_t*, obs_property_t*, obs_data_t* settings) {
    guarded("settings file", [&] { transitionOf(data)->takeSettingsFile(settings); });
    return true;
}

bool resetPressed(obs_properties_t*, obs_property_t*, void* data) {
    guarded("reset", [&] { transitionOf(data)->reset(); });
    return true;
}

obs_properties_t* properties(void* data) {
    obs_properties_t* props = obs_properties_create();
    guarded("properties", [&] {
        const std::string filter = std::string(obs_module_text("SettingsFile.Filter")) +
                                   " (*.qlb *.json);;" + obs_module_text("AllFiles") + " (*)";
        obs_property_t* file =
            obs_properties_add_path(props, kSettingsFileKey, obs_module_text("SettingsFile"),
                                    OBS_PATH_FILE, filter.c_str(), nullptr);
        obs_property_set_long_description(file, obs_module_text("SettingsFile.Description"));
        if (data) obs_property_set_modified_callback2(file, settingsFileChosen, data);
        for (const PropertyRow& row : propertyRows()) {
            const SettingsField& f = *row.field;
            const char* label = obs_module_text(row.key.c_str());
            obs_property_t* p = nullptr;
            switch (row.control) {
                case Control::kCheck:
                    p = obs_properties_add_bool(props, row.key.c_str(), label);
                    break;
                case Control::kList:
                    p = obs_properties_add_list(props, row.key.c_str(), label, OBS_COMBO_TYPE_LIST,
                                                OBS_COMBO_FORMAT_INT);
                    for (int k = f.minimum; k <= f.maximum; ++k) {
                        obs_property_list_add_int(p, kSourceKindNames[k], k);
                    }
                    break;
                case Control::kSlider:
                    p = obs_properties_add_int_slider(props, row.key.c_str(), label, f.minimum,
                                                      f.maximum, 1);
                    break;
            }
            obs_property_set_long_description(p, obs_module_text(descriptionKey(row).c_str()));
        }
        if (data) {
            obs_properties_add_button2(props, kResetKey, obs_module_text("ResetToDefaults"),
                                       resetPressed, data);
        }
    });
    return props;
}

obs_source_info makeInfo() {
    obs_source_info info{};
    info.id = kTransitionId;
    info.type = OBS_SOURCE_TYPE_TRANSITION;
    info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW | OBS_SOURCE_COMPOSITE;
    info.get_name = name;
    info.create = create;
    info.destroy = destroy;
    info.update = update;
    info.get_defaults = defaults;
    info.get_properties = properties;
    info.video_render = videoRender;
    info.audio_render = audioRender;
    info.transition_start = transitionStart;
    info.transition_stop = transitionStop;
    return info;
}

}  // namespace

const obs_source_info& transitionInfo() {
    static const obs_source_info info = makeInfo();
    return info;
}

}  // namespace granulix::obs
