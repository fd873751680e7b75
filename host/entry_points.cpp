#include "entry_points.h"

#include <cmath>
#include <cstring>

#include "effect_settings.h"
#include "frame_conversion.h"
#include "plugin_abi.h"
#include "render_job.h"
#include "task_pool.h"
#include "work_frames.h"

namespace granulix::host {
namespace {

using abi::EffectInfo;

// The texts with their NUL; the rest of each field is the host's.
void putText(void* info, size_t offset, const char* text) {
    std::memcpy(static_cast<unsigned char*>(info) + offset, text, std::strlen(text) + 1);
}

void putNumber(void* info, size_t offset, int32_t value) {
    std::memcpy(static_cast<unsigned char*>(info) + offset, &value, sizeof value);
}

}  // namespace

int32_t getEffectInfo(void* info) {
    if (!info) return 1;
    putText(info, offsetof(EffectInfo, category), "F/X");
    putText(info, offsetof(EffectInfo, name), "Granulix");
    putText(info, offsetof(EffectInfo, description), "Va dissipates and reveal Vb.");
    putNumber(info, offsetof(EffectInfo, value196), 1);
    putNumber(info, offsetof(EffectInfo, value200), 0);
    putNumber(info, offsetof(EffectInfo, value204), 0);
    putNumber(info, offsetof(EffectInfo, value208), 0);
    putNumber(info, offsetof(EffectInfo, value212), 0x300);
    putNumber(info, offsetof(EffectInfo, value216), 0);
    putNumber(info, offsetof(EffectInfo, value220), 0);
    putNumber(info, offsetof(EffectInfo, value248), 0);
    putNumber(info, offsetof(EffectInfo, settingsSize), static_cast<int32_t>(kSettingsSize));
    putNumber(info, offsetof(EffectInfo, value264), 40);
    return 1;
}

int32_t getDefaultSettings(void* settings) {
    if (!settings) return 0;
    EffectSettings s;
    std::memcpy(&s, settings, kSettingsSize);
    fillDefaults(s);
    std::memcpy(settings, &s, kSettingsSize);
    return 1;
}

int32_t applyRender(const void* record, int32_t fieldMode) {
    if (!record) return 0;
    abi::RenderRequest request;
    std::memcpy(&request, record, sizeof request);
    if (!request.header) return 0;
    abi::FrameHeader header;
    std::memcpy(&header, request.header, sizeof header);

    // The renderer only reads the settings; a copy of its own is aligned
    // whatever the host's block is.
    EffectSettings settings{};
    if (request.settings) {
        std::memcpy(&settings, request.settings, kSettingsSize);
    } else {
        fillDefaults(settings);
    }

    RenderJob job;
    job.duration = 65536;
    job.position = positionFromProgress(request.progress);
    job.fieldMode = fieldMode;
    job.width = header.width;
    job.height = header.height;
    job.regionX = static_cast<uint32_t>(request.regionX);
    job.regionY = static_cast<uint32_t>(request.regionY);
    job.regionWidth = static_cast<uint32_t>(request.regionWidth);
    job.regionHeight = static_cast<uint32_t>(request.regionHeight);
    job.bitCount = header.bitCount;
    job.settings = &settings;
    job.host = const_cast<void*>(record);
    job.tasks = sharedTaskPool();
    // The pixel fields stay empty until the frame conversion points them at
    // its work frames; the host's rows travel beside the job. fetchPreview
    // belongs to the setup call and is never called on this path.
    const HostFrames frames{request.clipA, request.clipB, request.output};
    return renderHostFrames(job, frames);
}

int32_t applyEffect(int32_t kind, void* record, int32_t fieldMode, SetupEntry setup) {
    if (!record) return 0;
    if (kind != 0) return applyRender(record, fieldMode);
    if (!setup) return 0;
    abi::SetupRequest request;
    std::memcpy(&request, record, sizeof request);
    return setup(request, fieldMode);
}

}  // namespace granulix::host
