// What the module's three exports do, as plain C++ that tests can call
// directly. exports.cpp wraps each one so that nothing is thrown across the
// module boundary; these functions may throw std::bad_alloc.
//
// Every record is host memory of unknown alignment: fields are copied in and
// out with memcpy, never read through a cast pointer.
#pragma once

#include <cstdint>

#include "plugin_abi.h"

namespace granulix::host {

// Writes the EffectInfo record; a null record is left alone. Returns 1.
int32_t getEffectInfo(void* info);

// Writes the defaults into the host's 424-byte settings block, keeping the
// bytes that the defaults leave alone. Returns 1, or 0 for a null block.
int32_t getDefaultSettings(void* settings);

// Runs the setup call for a SetupRequest; 1 when the host's settings were
// replaced. The module plugs in its own (setup_entry.h).
using SetupEntry = int32_t (*)(const abi::SetupRequest& request, int32_t fieldMode);

// Kind 0: the setup call on a SetupRequest, through `setup` (0 without
// one). Any other kind: renders one frame from a RenderRequest. A null
// record returns 0.
int32_t applyEffect(int32_t kind, void* record, int32_t fieldMode, SetupEntry setup = nullptr);

// The render path: builds the frame's RenderJob from a RenderRequest and
// hands it to the frame conversion. 1 when the output rows were written.
int32_t applyRender(const void* request, int32_t fieldMode);

}  // namespace granulix::host
