// The setup call as vxDLLApplyEffect makes it: on Windows over the
// platform's moveable global memory and the real setup dialog; elsewhere
// there is no dialog, and the call returns 0 with the host's settings
// untouched.
#pragma once

#include <cstdint>

#include "moveable_memory.h"
#include "plugin_abi.h"
#include "setup_call.h"

namespace granulix::host {

// 1 when the host's settings were replaced by the edited copy, else 0.
int32_t runSetupCall(const abi::SetupRequest& request, int32_t fieldMode);

}  // namespace granulix::host
