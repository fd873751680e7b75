#include "setup_call.h"

namespace granulix::host {

int32_t runSetupCall(const abi::SetupRequest&, int32_t) { return 0; }

}  // namespace granulix::host
