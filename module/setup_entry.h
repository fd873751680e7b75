// The setup call as vxDLLApplyEffect makes it: on Windows over the
// platform's moveable global memory and the real setup dialog; elsewhere
// there is no dialog, and the call returns 0 with the host's settings
// untouched.
#pragma once

#include <cstdint>

#include "plugin_abi.h"

namespace granulix {

// 1 when the host's settings were replaced by the edited copy, else 0.
int32_t runModuleSetupCall(const abi::SetupRequest& request, int32_t fieldMode);

}  // namespace granulix
