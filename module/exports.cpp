// The module's three exports, undecorated, with the C calling convention.
// Each one is a guard around its C++ counterpart in entry_points.h: an
// exception never crosses into the host, it becomes the failure result 0.
// The setup call runs through the module's setup entry (setup_entry.h).
#include <type_traits>

#include "entry_points.h"
#include "export_guard.h"
#include "plugin_abi.h"
#include "setup_entry.h"

#if defined(_WIN32)
#define GRANULIX_EXPORT __declspec(dllexport)
#else
#define GRANULIX_EXPORT __attribute__((visibility("default")))
#endif

using granulix::host::guarded;

extern "C" {

GRANULIX_EXPORT int32_t GRANULIX_CDECL vxDLLGetEffInfo(granulix::abi::EffectInfo* info) {
    return guarded([&] { return granulix::host::getEffectInfo(info); });
}

GRANULIX_EXPORT int32_t GRANULIX_CDECL vxDLLGetDefault(uint8_t* settings) {
    return guarded([&] { return granulix::host::getDefaultSettings(settings); });
}

GRANULIX_EXPORT int32_t GRANULIX_CDECL vxDLLApplyEffect(int32_t kind, void* record,
                                                        int32_t fieldMode) {
    return guarded([&] {
        return granulix::host::applyEffect(kind, record, fieldMode, granulix::runModuleSetupCall);
    });
}

}  // extern "C"

// The definitions match the signatures hosts use to call them.
static_assert(std::is_same_v<decltype(&vxDLLGetEffInfo), granulix::abi::GetEffInfoFn>);
static_assert(std::is_same_v<decltype(&vxDLLGetDefault), granulix::abi::GetDefaultFn>);
static_assert(std::is_same_v<decltype(&vxDLLApplyEffect), granulix::abi::ApplyEffectFn>);
