#include "rgba_frames.h"

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "render_job.h"
#include "renderer.h"
#include "wide_vectors.h"
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

#if GRANULIX_WIDE
// Eight pixels at a time where the processor has AVX2: one byte shuffle
// swaps red and blue in every word and, on the way in, clears the top byte;
// on the way out an or sets it. Both return how many pixels they did.
//
// The pictures come from memory the host wrote elsewhere and the output goes
// back to it, so the work is bound by memory, not by the shuffles. The
// output is written past the cache (streaming stores, whole aligned 32-byte
// lines): the processor need not read the host's lines before it overwrites
// them, and the work frames the renderer reads stay cached. The work frames
// themselves are written as usual, for the renderer reads them next.
GRANULIX_AVX2 std::size_t loadLineWide(const uint32_t* line, uint32_t* row, std::size_t count) {
    const __m256i swap = _mm256_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1, 2,
                                          1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), _mm256_shuffle_epi8(v, swap));
    }
    return x;
}

GRANULIX_AVX2 std::size_t storeLineWide(const uint32_t* row, uint32_t* line, std::size_t count) {
    const __m256i swap = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, 2,
                                          1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const __m256i opaque = _mm256_set1_epi32(int32_t(0xFF000000u));
    std::size_t x = 0;
    for (; x < count && (reinterpret_cast<uintptr_t>(line + x) & 31) != 0; ++x) {
        line[x] = swapRedBlue(row[x]) | 0xFF000000u;
    }
    for (; x + 8 <= count; x += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
        _mm256_stream_si256(reinterpret_cast<__m256i*>(line + x),
                            _mm256_or_si256(_mm256_shuffle_epi8(v, swap), opaque));
    }
    return x;
}

// Streaming stores are weakly ordered: each thread fences its own before it
// reports its band done.
void finishStreaming() { _mm_sfence(); }
#else
std::size_t loadLineWide(const uint32_t*, uint32_t*, std::size_t) { return 0; }
std::size_t storeLineWide(const uint32_t*, uint32_t*, std::size_t) { return 0; }
void finishStreaming() {}
#endif

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
              std::size_t height, std::size_t first, std::size_t last, bool wide) {
    for (std::size_t y = first; y < last; ++y) {
        const uint32_t* line = picture + (height - 1 - y) * stride;
        uint32_t* row = work + y * width;
        for (std::size_t x = wide ? loadLineWide(line, row, width) : 0; x < width; ++x) {
            row[x] = swapRedBlue(line[x]);
        }
    }
}

void storeWork(const uint32_t* work, uint32_t* picture, std::size_t width, std::size_t height,
               std::size_t first, std::size_t last, bool wide) {
    for (std::size_t y = first; y < last; ++y) {
        const uint32_t* row = work + y * width;
        uint32_t* line = picture + (height - 1 - y) * width;
        for (std::size_t x = wide ? storeLineWide(row, line, width) : 0; x < width; ++x) {
            line[x] = swapRedBlue(row[x]) | 0xFF000000u;
        }
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
    RenderJob job =
        workFramesJob(65536, positionFromProgress(progress), int32_t(width), int32_t(height),
                      {work.a.data(), work.out.data(), work.out.data()}, settings);
    job.tasks = tasks;
    const bool wide = wideVectorsFor(job);
    byBands(tasks, height, [&](std::size_t first, std::size_t last) {
        loadWork(frames.clipA, frames.strideA, work.a.data(), width, height, first, last, wide);
        // Clip B goes straight where the output starts from.
        loadWork(frames.clipB, frames.strideB, work.out.data(), width, height, first, last, wide);
    });
    render(job, work.scratch);
    prepareForWriting(frames.output, pixels * sizeof(uint32_t));
    byBands(tasks, height, [&](std::size_t first, std::size_t last) {
        storeWork(work.out.data(), frames.output, width, height, first, last, wide);
        if (wide) finishStreaming();
    });
}

}  // namespace granulix
