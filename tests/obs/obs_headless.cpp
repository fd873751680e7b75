#include "obs_headless.h"

#include <X11/Xlib.h>
#include <obs-nix-platform.h>
#include <obs.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace granulix::obs_test {
namespace {

constexpr const char* kSystemModules = GRANULIX_OBS_SYSTEM_MODULES;
constexpr const char* kSystemData = "/usr/share/obs/obs-plugins";

void openModule(const std::string& file, const std::string& data) {
    obs_module_t* module = nullptr;
    if (obs_open_module(&module, file.c_str(), data.c_str()) != MODULE_SUCCESS ||
        !obs_init_module(module)) {
        throw std::runtime_error("cannot load the OBS module " + file);
    }
}

}  // namespace

std::string moduleFolder() { return GRANULIX_OBS_MODULE_FOLDER; }

ObsHeadless::ObsHeadless(uint32_t width, uint32_t height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) throw std::runtime_error("no X display: run under scripts/with-xvfb");
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(display);
    if (!obs_startup("en-US", nullptr, nullptr)) throw std::runtime_error("obs_startup failed");

    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 60;
    video.fps_den = 1;
    video.base_width = width;
    video.base_height = height;
    // OBS's output is of even size; the base keeps the odd one.
    video.output_width = width & ~1u;
    video.output_height = height & ~1u;
    video.output_format = VIDEO_FORMAT_RGBA;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_SRGB;
    video.range = VIDEO_RANGE_FULL;
    video.scale_type = OBS_SCALE_DISABLE;
    if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS) {
        throw std::runtime_error("obs_reset_video failed");
    }
    obs_audio_info audio{48000, SPEAKERS_STEREO};
    if (!obs_reset_audio(&audio)) throw std::runtime_error("obs_reset_audio failed");

    openSystemModule("image-source");
    openModule(moduleFolder() + "/bin/64bit/granulix-obs.so", moduleFolder() + "/data");
}

ObsHeadless::~ObsHeadless() { obs_shutdown(); }

void ObsHeadless::openSystemModule(const std::string& name) {
    openModule(std::string(kSystemModules) + "/" + name + ".so",
               std::string(kSystemData) + "/" + name);
}

obs_source* ObsHeadless::imageSource(const std::string& file) {
    obs_data_t* settings = obs_data_create();
    obs_data_set_string(settings, "file", file.c_str());
    obs_source_t* source = obs_source_create_private("image_source", file.c_str(), settings);
    obs_data_release(settings);
    if (!source) throw std::runtime_error("cannot make an image source of " + file);
    return source;
}

obs_source* ObsHeadless::transition(uint32_t width, uint32_t height, obs_source* from,
                                    obs_source* to) {
    obs_source_t* t = obs_source_create_private("granulix_transition", "granulix", nullptr);
    if (!t) throw std::runtime_error("no transition with the id granulix_transition");
    obs_transition_set_size(t, width, height);
    obs_transition_set_scale_type(t, OBS_TRANSITION_SCALE_STRETCH);
    obs_transition_set(t, from);
    obs_transition_start(t, OBS_TRANSITION_MODE_MANUAL, 0, to);
    obs_transition_set_manual_torque(t, 0, 0);
    obs_transition_set_manual_time(t, 0);
    return t;
}

std::vector<uint8_t> ObsHeadless::renderFrame(obs_source* source, uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels(std::size_t(width) * height * 4);
    obs_enter_graphics();
    gs_texrender_t* target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    gs_stagesurf_t* copy = gs_stagesurface_create(width, height, GS_RGBA);
    if (gs_texrender_begin(target, width, height)) {
        vec4 clear;
        vec4_zero(&clear);
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, float(width), 0.0f, float(height), -100.0f, 100.0f);
        obs_source_video_render(source);
        gs_texrender_end(target);
        gs_stage_texture(copy, gs_texrender_get_texture(target));
        uint8_t* data = nullptr;
        uint32_t lineBytes = 0;
        if (gs_stagesurface_map(copy, &data, &lineBytes)) {
            for (uint32_t y = 0; y < height; ++y) {
                std::memcpy(&pixels[std::size_t(y) * width * 4], data + std::size_t(y) * lineBytes,
                            std::size_t(width) * 4);
            }
            gs_stagesurface_unmap(copy);
        }
    }
    gs_stagesurface_destroy(copy);
    gs_texrender_destroy(target);
    obs_leave_graphics();
    return pixels;
}

}  // namespace granulix::obs_test
