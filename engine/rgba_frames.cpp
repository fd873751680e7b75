#include "rgba_frames.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "render_job.h"
#include "renderer.h"
#include "work_frames.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the pixel word layout below assumes a little-endian machine"
#endif

namespace granulix {
namespace {

// An RGBA8888 word (red in the low byte) as a work word (blue in the low
// byte, top byte 0), and back with full alpha. The swap is its own inverse.
inline uint32_t swapRedBlue(uint32_t p) {
    return (p & 0xFFu) << 16 | (p & 0xFF00u) | (p >> 16 & 0xFFu);
}

// Bands of rows, one task each, so that the runner's threads share a
// conversion as they share the render.
template <class ConvertRows>
void byBands(TaskRunner* tasks, std::size_t height, ConvertRows convert) {
    const std::size_t bands = std::min<std::size_t>(std::size_t(taskWidth(tasks)), height);
    runTasks(tasks, int(bands), [&](int i) {
        convert(height * std::size_t(i) / bands, height * std::size_t(i + 1) / bands);
    });
}

// Rows first..last-1 of the work frame: row y is line height-1-y of the picture.
void loadWork(const uint32_t* picture, std::size_t stride, uint32_t* work, std::size_t width,
              std::size_t height, std::size_t first, std::size_t last) {
    for (std::size_t y = first; y < last; ++y) {
        const uint32_t* line = picture + (height - 1 - y) * stride;
        uint32_t* row = work + y * width;
        for (std::size_t x = 0; x < width; ++x) row[x] = swapRedBlue(line[x]);
    }
}

void storeWork(const uint32_t* work, uint32_t* picture, std::size_t width, std::size_t height,
               std::size_t first, std::size_t last) {
    for (std::size_t y = first; y < last; ++y) {
        const uint32_t* row = work + y * width;
        uint32_t* line = picture + (height - 1 - y) * width;
        for (std::size_t x = 0; x < width; ++x) line[x] = swapRedBlue(row[x]) | 0xFF000000u;
    }
}

}  // namespace

bool rgbaSizeRenderable(uint32_t width, uint32_t height) {
    // A work frame for clip A and one for the output, 4 bytes a pixel each.
    return width <= INT32_MAX &&
           checkedProduct(SIZE_MAX, 2 * sizeof(uint32_t), workFramePixels(width, height));
}

void renderRgbaFrames(const RgbaFrames& frames, float progress, EffectSettings& settings,
                      RgbaWork& work, TaskRunner* tasks) {
    const std::size_t width = frames.width, height = frames.height;
    if (width == 0 || height == 0) return;
    if (!rgbaSizeRenderable(frames.width, frames.height)) {
        for (std::size_t y = 0; y < height; ++y) {
            std::memmove(frames.output + y * width, frames.clipA + y * frames.strideA,
                         width * sizeof(uint32_t));
        }
        return;
    }
    const std::size_t pixels = width * height;
    work.a.resize(pixels);
    work.out.resize(pixels);
    byBands(tasks, height, [&](std::size_t first, std::size_t last) {
        loadWork(frames.clipA, frames.strideA, work.a.data(), width, height, first, last);
        // Clip B goes straight where the output starts from.
        loadWork(frames.clipB, frames.strideB, work.out.data(), width, height, first, last);
    });
    RenderJob job =
        workFramesJob(65536, positionFromProgress(progress), int32_t(width), int32_t(height),
                      {work.a.data(), work.out.data(), work.out.data()}, settings);
    job.tasks = tasks;
    render(job, work.scratch);
    byBands(tasks, height, [&](std::size_t first, std::size_t last) {
        storeWork(work.out.data(), frames.output, width, height, first, last);
    });
}

}  // namespace granulix
