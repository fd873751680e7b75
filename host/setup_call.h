// The setup call: vxDLLApplyEffect with request kind 0.
//
// It is to run the setup dialog over the host's window on a private copy of
// the host's settings and write the copy back only when the user leaves with
// OK. The dialog is not part of the module yet, so the call reports that
// nothing was written back and leaves the host's block as it is.
#pragma once

#include <cstdint>

#include "plugin_abi.h"

namespace granulix::host {

// 1 when the host's settings were replaced by the edited copy, else 0.
int32_t runSetupCall(const abi::SetupRequest& request, int32_t fieldMode);

}  // namespace granulix::host
