#include "frame_conversion.h"

#include <emmintrin.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory_resource>

#include "checked_size.h"
#include "plugin_abi.h"
#include "renderer.h"
#include "wide_vectors.h"
#include "work_frames.h"
#include "work_block.h"

namespace granulix::host {
namespace {

// Where one frame's rectangle sits, in host rows and in work rows.
struct Geometry {
    size_t width;        // pixels a row
    size_t stride;       // bytes a host row
    size_t workRows;     // rows of a work frame
    size_t rowsPerHost;  // work rows a host row fills: 1, or 2 in a field mode
    Span cols, rows;     // the clipped rectangle, host coordinates
    bool wide;           // eight pixels at a time (wide_vectors.h)
};

// Four host pixels are twelve bytes; in a 16-byte register pixel i sits i
// bytes below its lane of four, so four shifts by 0..3 bytes, each masked to
// its own lane, move all four at once (and back). A loop reads 16 bytes only
// while at least 16 remain in the row, writes 12, and leaves the rest to the
// byte helpers.
const __m128i kLaneMask[4] = {_mm_setr_epi32(0xFFFFFF, 0, 0, 0), _mm_setr_epi32(0, 0xFFFFFF, 0, 0),
                              _mm_setr_epi32(0, 0, 0xFFFFFF, 0), _mm_setr_epi32(0, 0, 0, 0xFFFFFF)};
const __m128i kPackedMask[4] = {_mm_setr_epi8(-1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                                _mm_setr_epi8(0, 0, 0, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                                _mm_setr_epi8(0, 0, 0, 0, 0, 0, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0),
                                _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, 0, 0, 0, 0)};

#if GRANULIX_WIDE
// Eight pixels at a time where the processor has AVX2: the 24 bytes of
// eight host pixels are read as two overlapping 16-byte halves, 12 bytes
// apart, and one byte shuffle spreads each half's four pixels over its
// lane's four words (or gathers them back). Reads stay inside the row's
// bytes: the loop stops while at least ten pixels remain.
GRANULIX_AVX2 size_t loadRowWide(const uint8_t* host, uint32_t* work, size_t count) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                            1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    size_t x = 0;
    for (; x + 10 <= count; x += 8, host += 24) {
        const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(host + 12),
                                              reinterpret_cast<const __m128i*>(host));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(work + x), _mm256_shuffle_epi8(v, spread));
    }
    return x;
}

// Writes exactly the 24 bytes of each eight pixels.
GRANULIX_AVX2 size_t storeRowWide(const uint32_t* work, uint8_t* host, size_t count) {
    const __m256i gather = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i together = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    size_t x = 0;
    for (; x + 8 <= count; x += 8, host += 24) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(work + x));
        const __m256i v = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(w, gather), together);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(host), _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(host + 16), _mm256_extracti128_si256(v, 1));
    }
    return x;
}

#else
// Elsewhere every pixel goes four at a time or one by one.
size_t loadRowWide(const uint8_t*, uint32_t*, size_t) { return 0; }
size_t storeRowWide(const uint32_t*, uint8_t*, size_t) { return 0; }
#endif

void loadRow(const uint8_t* host, uint32_t* work, size_t count, bool wide) {
    size_t x = wide ? loadRowWide(host, work, count) : 0;
    host += 3 * x;
    const __m128i m0 = kLaneMask[0], m1 = kLaneMask[1], m2 = kLaneMask[2], m3 = kLaneMask[3];
    for (; x + 6 <= count; x += 4, host += 12) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(host));
        const __m128i w = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(v, m0), _mm_and_si128(_mm_slli_si128(v, 1), m1)),
            _mm_or_si128(_mm_and_si128(_mm_slli_si128(v, 2), m2),
                         _mm_and_si128(_mm_slli_si128(v, 3), m3)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(work + x), w);
    }
    for (; x < count; ++x, host += 3) work[x] = workPixel(host);
}

void storeRow(const uint32_t* work, uint8_t* host, size_t count, bool wide) {
    size_t x = wide ? storeRowWide(work, host, count) : 0;
    host += 3 * x;
    const __m128i m0 = kPackedMask[0], m1 = kPackedMask[1], m2 = kPackedMask[2],
                  m3 = kPackedMask[3];
    for (; x + 4 <= count; x += 4, host += 12) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + x));
        const __m128i v = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(w, m0), _mm_and_si128(_mm_srli_si128(w, 1), m1)),
            _mm_or_si128(_mm_and_si128(_mm_srli_si128(w, 2), m2),
                         _mm_and_si128(_mm_srli_si128(w, 3), m3)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(host), v);
        const uint32_t last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
        std::memcpy(host + 8, &last, sizeof last);
    }
    for (; x < count; ++x, host += 3) storeHostPixel(work[x], host);
}

// Work rows [first, end) of part `part` of `parts`.
struct RowRange {
    size_t first, end;
};
RowRange partOf(size_t rows, int part, int parts) {
    return {static_cast<size_t>(uint64_t{rows} * uint64_t(part) / uint64_t(parts)),
            static_cast<size_t>(uint64_t{rows} * uint64_t(part + 1) / uint64_t(parts))};
}

// Fills work rows [part.first, part.end) of a work frame from the host
// rectangle; work pixels outside it are 0. Every word is written once,
// whatever the block held before.
void loadRows(const uint8_t* host, uint32_t* work, const Geometry& g, RowRange part) {
    const size_t count = g.cols.end - g.cols.begin;
    for (size_t r = part.first; r < part.end; ++r) {
        uint32_t* row = work + r * g.width;
        const size_t y = r / g.rowsPerHost;
        if (y < g.rows.begin || y >= g.rows.end) {
            std::memset(row, 0, g.width * sizeof(uint32_t));
        } else if (r % g.rowsPerHost != 0 && r != part.first) {
            std::memcpy(row, row - g.width, g.width * sizeof(uint32_t));
        } else {
            std::memset(row, 0, g.cols.begin * sizeof(uint32_t));
            std::memset(row + g.cols.end, 0, (g.width - g.cols.end) * sizeof(uint32_t));
            loadRow(host + y * g.stride + 3 * size_t{g.cols.begin}, row + g.cols.begin, count,
                    g.wide);
        }
    }
}

// Copies the rendered rectangle of the output work frame, rows [part.first,
// part.end) of it, to the host rows. In a field mode work row r goes to host
// row r / 2: mode 1 takes the odd rows, mode 2 the even ones, any other mode
// both in turn (so the odd row wins; a part then starts on an even row).
void storeRows(const uint32_t* work, uint8_t* host, const Geometry& g, int32_t fieldMode,
               RowRange part) {
    const size_t count = g.cols.end - g.cols.begin;
    const size_t firstRow = std::max(g.rows.begin * g.rowsPerHost, part.first);
    const size_t endRow = std::min(g.rows.end * g.rowsPerHost, part.end);
    for (size_t r = firstRow; r < endRow; ++r) {
        if (fieldMode == 1 && r % 2 == 0) continue;
        if (fieldMode == 2 && r % 2 == 1) continue;
        storeRow(work + r * g.width + g.cols.begin,
                 host + (r / g.rowsPerHost) * g.stride + 3 * size_t{g.cols.begin}, count, g.wide);
    }
}

}  // namespace

uint64_t workBlockBytes(int32_t width, int32_t height, int32_t fieldMode, uint64_t limit) {
    const int64_t rows = fieldMode == 0 ? int64_t(height) : 2 * int64_t(height);
    const uint64_t pixels = workFramePixels(width, rows);
    if (pixels == 0) return 0;
    return checkedProduct(limit, kWorkFrames * sizeof(uint32_t), pixels).value_or(0);
}

Span clipSpan(uint32_t start, uint32_t count, int32_t extent) {
    const uint64_t limit = extent > 0 ? uint64_t(extent) : 0;
    const uint64_t begin = std::min<uint64_t>(start, limit);
    const uint64_t end = std::min<uint64_t>(uint64_t{start} + count, limit);
    return Span{static_cast<uint32_t>(begin), static_cast<uint32_t>(end)};
}

int32_t renderHostFrames(RenderJob& job, const HostFrames& frames) {
    if (job.bitCount != 24) return 0;
    if (!frames.clipA || !frames.clipB || !frames.output) return 0;
    const uint64_t framesBytes = workBlockBytes(job.width, job.height, job.fieldMode);
    if (framesBytes == 0) return 0;
    RenderJob workJob = job;
    workJob.height = job.fieldMode == 0 ? job.height : 2 * job.height;
    const uint64_t workspaceBytes = renderWorkspaceBytes(workJob);
    if (!sumFits(framesBytes, workspaceBytes, SIZE_MAX)) return 0;
    WorkBlock block;
    if (!block.acquire(static_cast<size_t>(framesBytes + workspaceBytes))) return 0;

    Geometry g;
    g.width = static_cast<size_t>(job.width);
    g.stride = static_cast<size_t>(abi::hostRowBytes(g.width));
    g.rowsPerHost = job.fieldMode == 0 ? 1 : 2;
    g.workRows = g.rowsPerHost * static_cast<size_t>(job.height);
    g.cols = clipSpan(job.regionX, job.regionWidth, job.width);
    g.rows = clipSpan(job.regionY, job.regionHeight, job.height);
    g.wide = wideVectorsFor(job);

    const size_t bufferWords = g.width * g.workRows;
    // Clip B goes straight into the output frame, where the renderer wants
    // it before the particles are drawn.
    uint32_t* workA = static_cast<uint32_t*>(block.data());
    uint32_t* workOut = workA + bufferWords;
    // Rows are converted side by side, in parts of whole host rows.
    const int parts = static_cast<int>(
        std::min<size_t>(static_cast<size_t>(taskWidth(job.tasks)), g.workRows / g.rowsPerHost));
    auto part = [&](int i) {
        const RowRange r = partOf(g.workRows / g.rowsPerHost, i, parts);
        return RowRange{r.first * g.rowsPerHost, r.end * g.rowsPerHost};
    };
    runTasks(job.tasks, parts, [&](int i) {
        loadRows(frames.clipA, workA, g, part(i));
        loadRows(frames.clipB, workOut, g, part(i));
    });

    // The renderer sees the work frames; the job keeps the host's geometry
    // before and after. Its workspace follows the frames in the block.
    const int32_t hostHeight = job.height;
    job.pixelsA = workA;
    job.pixelsB = workOut;
    job.pixelsOut = workOut;
    job.height = static_cast<int32_t>(g.workRows);
    std::pmr::monotonic_buffer_resource workspace(
        static_cast<std::byte*>(block.data()) + static_cast<size_t>(framesBytes),
        static_cast<size_t>(workspaceBytes), std::pmr::new_delete_resource());
    render(job, &workspace);
    job.pixelsA = job.pixelsB = job.pixelsOut = nullptr;
    job.height = hostHeight;

    runTasks(job.tasks, parts,
             [&](int i) { storeRows(workOut, frames.output, g, job.fieldMode, part(i)); });
    return 1;
}

}  // namespace granulix::host
