// libobs started without a front end, for the transition's test and
// benchmark: on the X display in DISPLAY (an Xvfb) with Mesa's OpenGL,
// stereo sound at 48 kHz, the image-source module from Debian's OBS and the
// granulix-obs module from the build tree opened one by one (loading every
// installed module would stop in the front-end tools without a front end).
//
//   ObsHeadless obs(width, height);   // throws std::runtime_error if it cannot start
//   obs_source_t* a = obs.imageSource("a.png");
//   std::vector<uint8_t> rgba = obs.renderFrame(transition, width, height);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct obs_source;

namespace granulix::obs_test {

class ObsHeadless {
public:
    ObsHeadless(uint32_t width, uint32_t height);
    ObsHeadless(const ObsHeadless&) = delete;
    ObsHeadless& operator=(const ObsHeadless&) = delete;
    ~ObsHeadless();

    // Opens one more of Debian's OBS modules by name ("obs-transitions").
    void openSystemModule(const std::string& name);

    // A private image source showing the picture file; release it with
    // obs_source_release.
    obs_source* imageSource(const std::string& file);
    // A private Granulix transition of the given size, held at time 0 from
    // `from`, in manual mode towards `to`.
    obs_source* transition(uint32_t width, uint32_t height, obs_source* from, obs_source* to);

    // Draws the source into a width x height RGBA target on the calling
    // thread and reads it back, top line first, 4 bytes a pixel.
    std::vector<uint8_t> renderFrame(obs_source* source, uint32_t width, uint32_t height);
};

// The folder of the granulix-obs module in the build tree.
std::string moduleFolder();

}  // namespace granulix::obs_test
