// Stand-ins for a broken module, for the command-line host's failure paths:
// built once with every export and a vxDLLApplyEffect that renders nothing
// and fails once the transition is past its middle (so some frames have been
// written when the failure comes), and once without vxDLLApplyEffect at all.
#include <cstdint>
#include <cstring>

#include "effect_settings.h"
#include "plugin_abi.h"

using namespace granulix;

extern "C" __attribute__((visibility("default"))) int32_t vxDLLGetEffInfo(abi::EffectInfo* info) {
    if (info) {
        std::memset(info, 0, sizeof *info);
        std::strcpy(info->name, "Broken");
        info->settingsSize = int32_t(kSettingsSize);
    }
    return 1;
}

extern "C" __attribute__((visibility("default"))) int32_t vxDLLGetDefault(uint8_t* settings) {
    fillDefaults(*reinterpret_cast<EffectSettings*>(settings));
    return 1;
}

#ifndef WITHOUT_APPLY
extern "C" __attribute__((visibility("default"))) int32_t vxDLLApplyEffect(int32_t kind,
                                                                           void* record, int32_t) {
    if (kind == 0 || !record) return 0;
    return static_cast<abi::RenderRequest*>(record)->progress <= 0.5f ? 1 : 0;
}
#endif
