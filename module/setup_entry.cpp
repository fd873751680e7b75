#include "setup_entry.h"

#include "moveable_memory.h"
#include "setup_call.h"

#if defined(_WIN32)
#include "setup_dialog_runner.h"
#endif

namespace granulix {

namespace {

#if !defined(_WIN32)
class NoDialog : public SetupDialogRunner {
public:
    int32_t run(void*, RenderJob&) override { return 0; }
};
#endif

}  // namespace

int32_t runModuleSetupCall(const abi::SetupRequest& request, int32_t fieldMode) {
    host::ModuleMemory memory;
#if defined(_WIN32)
    SetupDialogWindow dialog;
    const auto baseUnits = static_cast<uint32_t>(GetDialogBaseUnits());
#else
    NoDialog dialog;
    const uint32_t baseUnits = 0;
#endif
    return runSetupCall(request, fieldMode, {memory, baseUnits, dialog});
}

}  // namespace granulix
