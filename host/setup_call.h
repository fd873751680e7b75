// The setup call: what vxDLLApplyEffect does for a setup request.
//
// It takes a preview block (three preview frames of work pixels) and a
// private copy of the host's 424-byte settings from moveable memory, fills
// one RenderJob for the whole dialog, publishes it in currentSetupJob and
// lets a SetupDialogRunner show the dialog. Only when the dialog ends with
// OK (result 1) are all 424 bytes of the copy written over the host's block.
//
// The preview hook (previewHook, the job's fetchPreview) asks the host for
// clip A and clip B through the frame-fetch callback, shrinks them to the
// preview size by nearest-neighbour sampling and renders the preview.
//
// This code knows no window system: the module plugs in the platform's
// global memory and the real dialog, tests plug in their own memory and a
// runner that plays the user.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_memory.h"
#include "plugin_abi.h"
#include "render_job.h"

namespace granulix {

// The running setup call's job; null whenever no setup call runs.
extern RenderJob* currentSetupJob;

struct PreviewSize {
    int32_t width;
    int32_t height;
};

// GetDialogBaseUnits() of large dialog fonts: 10 across (low word), 20 down.
constexpr uint32_t kLargeFontBaseUnits = 0x0014000Au;

// 288 x 216 for exactly kLargeFontBaseUnits, 240 x 180 for anything else.
PreviewSize previewSizeFor(uint32_t dialogBaseUnits);

// Where the three preview frames lie in the preview block, in bytes.
struct PreviewLayout {
    uint64_t frameBytes;  // 4 x W x H
    uint64_t outputAt;    // after the first frame header
    uint64_t clipAAt;     // directly after the output frame
    uint64_t clipBAt;     // after clip A's frame
    uint64_t blockBytes;  // 3 x (frameBytes + header) + 100 spare
};
PreviewLayout previewLayoutFor(PreviewSize size);

// Shows the setup dialog over the host's window for a job and returns the
// command id that closed it (1 for OK). A platform without a
// dialog returns 0.
class SetupDialogRunner {
public:
    virtual ~SetupDialogRunner() = default;
    virtual int32_t run(void* ownerWindow, RenderJob& job) = 0;
};

struct SetupEnvironment {
    BlockMemory& memory;
    uint32_t dialogBaseUnits;  // chooses the preview size
    SetupDialogRunner& dialog;
};

// Runs one setup call. Returns 1 when the dialog ended with OK and the
// settings copy was written back into request.settings, otherwise 0 (also
// when memory could not be had, the request has no settings block, or
// another setup call is still running).
int32_t runSetupCall(const abi::SetupRequest& request, int32_t fieldMode,
                     const SetupEnvironment& environment);

// The setup job's fetchPreview: fetches both clips at `position`, shrinks
// them into the job's pixelsA and pixelsB and renders pixelsOut. Returns 0,
// with the job's frames unchanged, when the host supplies no usable frames.
int previewHook(uint32_t position, RenderJob* job);

// Samples one packed 24-bit host frame (header, then its rows) into
// width x height work pixels: preview pixel (x, y) takes source column
// x * w / width and source row y * h / height. The header must describe a
// 24-bit frame of positive size.
void shrinkFrame(const abi::FrameHeader* frame, uint32_t* out, int32_t width, int32_t height);

}  // namespace granulix
