#include "setup_call.h"

#include <cstring>
#include <new>

#include "checked_size.h"
#include "frame_conversion.h"
#include "renderer.h"
#include "task_pool.h"

namespace granulix {

RenderJob* currentSetupJob = nullptr;

PreviewSize previewSizeFor(uint32_t dialogBaseUnits) {
    if (dialogBaseUnits == kLargeFontBaseUnits) return {288, 216};
    return {240, 180};
}

namespace {

constexpr uint64_t kHeaderBytes = sizeof(abi::FrameHeader);
// Spare bytes after the three preview frames.
constexpr uint64_t kPreviewBlockTail = 100;

}  // namespace

PreviewLayout previewLayoutFor(PreviewSize size) {
    PreviewLayout l;
    l.frameBytes = 4 * uint64_t(size.width) * uint64_t(size.height);
    l.outputAt = kHeaderBytes;
    l.clipAAt = l.frameBytes + kHeaderBytes;
    l.clipBAt = 2 * (l.frameBytes + kHeaderBytes);
    l.blockBytes = 3 * (l.frameBytes + kHeaderBytes) + kPreviewBlockTail;
    return l;
}

namespace {

// Clears the module-wide job pointer however the dialog ends.
class PublishedJob {
public:
    explicit PublishedJob(RenderJob& job) { currentSetupJob = &job; }
    ~PublishedJob() { currentSetupJob = nullptr; }
    PublishedJob(const PublishedJob&) = delete;
    PublishedJob& operator=(const PublishedJob&) = delete;
};

// A frame handed back by operation 4 that the hook can sample: present,
// 24 bits per pixel, of positive size, and addressable as a whole.
bool usableFrame(const abi::FrameHeader* frame) {
    if (!frame || frame->bitCount != 24 || frame->width <= 0 || frame->height <= 0) return false;
    const auto rows = checkedProduct(
        uint64_t(PTRDIFF_MAX), abi::hostRowBytes(uint64_t(frame->width)), uint64_t(frame->height));
    return rows && sumFits(kHeaderBytes, *rows, uint64_t(PTRDIFF_MAX));
}

}  // namespace

void shrinkFrame(const abi::FrameHeader* frame, uint32_t* out, int32_t width, int32_t height) {
    const uint64_t w = uint64_t(frame->width), h = uint64_t(frame->height);
    const uint64_t rowBytes = abi::hostRowBytes(w);
    const uint8_t* pixels = reinterpret_cast<const uint8_t*>(frame) + kHeaderBytes;
    // Running sums x * w and y * h; their quotients by the preview size are
    // the source column and row, always below w and h.
    uint64_t rowSum = 0;
    for (int32_t y = 0; y < height; ++y, rowSum += h) {
        const uint8_t* row =
            pixels + static_cast<std::size_t>((rowSum / uint64_t(height)) * rowBytes);
        uint32_t* target = out + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        uint64_t columnSum = 0;
        for (int32_t x = 0; x < width; ++x, columnSum += w) {
            const uint8_t* p = row + static_cast<std::size_t>(3 * (columnSum / uint64_t(width)));
            target[x] = host::workPixel(p);
        }
    }
}

int previewHook(uint32_t position, RenderJob* job) {
    try {
        if (!job || !job->host) return 0;
        const auto* request = static_cast<const abi::SetupRequest*>(job->host);
        const abi::FrameFetch fetch = request->fetch;
        if (!fetch) return 0;
        const uint32_t context = request->context;
        const auto p = static_cast<int32_t>(position);

        if (fetch(abi::kTrackClipA, context, 0, abi::kFetchPrepare) == 0) return 0;
        const auto* a = reinterpret_cast<const abi::FrameHeader*>(
            fetch(abi::kTrackClipA, context, p, abi::kFetchFrame));
        const auto* b = reinterpret_cast<const abi::FrameHeader*>(
            fetch(abi::kTrackClipB, context, p, abi::kFetchFrame));
        // Both frames are checked before either is sampled, so that a refused
        // fetch leaves the preview frames as they were. Each frame is sampled
        // with its own size: the host may hand clips of different sizes.
        const bool usable = usableFrame(a) && usableFrame(b);
        if (usable) {
            shrinkFrame(a, job->pixelsA, job->width, job->height);
            shrinkFrame(b, job->pixelsB, job->width, job->height);
        }
        fetch(abi::kTrackClipA, context, 0, abi::kFetchRelease);
        if (!usable) return 0;
        RenderJob shared = *job;
        shared.tasks = sharedTaskPool();
        render(shared);
        return 1;
    } catch (...) {
        return 0;
    }
}

int32_t runSetupCall(const abi::SetupRequest& request, int32_t fieldMode,
                     const SetupEnvironment& environment) {
    // Only one setup call runs at a time: a host that asks for setup again
    // from inside its frame-fetch callback would otherwise pull the job out
    // from under the running dialog.
    if (!request.settings || currentSetupJob) return 0;
    const PreviewSize size = previewSizeFor(environment.dialogBaseUnits);
    const PreviewLayout layout = previewLayoutFor(size);

    LockedBlock preview(environment.memory);
    if (!preview.acquire(static_cast<std::size_t>(layout.blockBytes))) return 0;
    LockedBlock settingsCopy(environment.memory);
    if (!settingsCopy.acquire(kSettingsSize)) return 0;

    // The preview shows black, never leftover memory, until the first fetch.
    std::memset(preview.data(), 0, static_cast<std::size_t>(layout.blockBytes));
    std::memcpy(settingsCopy.data(), request.settings, kSettingsSize);

    RenderJob job;
    job.duration = request.frameCount > 0 ? static_cast<uint32_t>(request.frameCount) : 0;
    job.position = 0;
    job.fieldMode = fieldMode;
    job.width = size.width;
    job.height = size.height;
    job.regionX = 0;
    job.regionY = 0;
    job.regionWidth = static_cast<uint32_t>(size.width);
    job.regionHeight = static_cast<uint32_t>(size.height);
    job.bitCount = 24;
    job.pixelsOut = reinterpret_cast<uint32_t*>(preview.data() + layout.outputAt);
    job.pixelsA = reinterpret_cast<uint32_t*>(preview.data() + layout.clipAAt);
    job.pixelsB = reinterpret_cast<uint32_t*>(preview.data() + layout.clipBAt);
    job.settings = reinterpret_cast<EffectSettings*>(settingsCopy.data());
    job.host = const_cast<abi::SetupRequest*>(&request);
    job.fetchPreview = previewHook;

    int32_t result;
    {
        PublishedJob published(job);
        result = environment.dialog.run(request.owner, job);
    }
    if (result != 1) return 0;
    std::memcpy(request.settings, settingsCopy.data(), kSettingsSize);
    return 1;
}

}  // namespace granulix
