// Loads the Granulix module and drives it through its three exports only,
// as any host would: render requests with 24-bit frames and a settings block.
#pragma once

#include <cstdint>
#include <string>

#include "effect_settings.h"
#include "host_frame.h"
#include "module_loader.h"
#include "plugin_abi.h"
#include "render_call.h"

namespace granulix::cli {

// A processing rectangle in the frames' memory order (row 0 at the bottom).
using Region = abi::RenderRegion;

class Module {
public:
    // Loads the module at `path`; throws CliError when it will not load, lacks
    // one of the exports or does not describe a 424-byte settings block.
    explicit Module(const std::string& path);
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& path() const { return path_; }
    // The effect's display name, from vxDLLGetEffInfo.
    const std::string& effectName() const { return effectName_; }

    // The module's default settings (vxDLLGetDefault over a zeroed block).
    EffectSettings defaults() const;

    // One call of vxDLLApplyEffect with a render request over the three
    // frames, which must share one size. Returns the export's result (1 when
    // the output was written). Safe to call from several threads at once: the
    // request, its header and its copy of the settings live in this call.
    int32_t render(const HostFrame& a, const HostFrame& b, HostFrame& out, float progress,
                   int32_t fieldMode, const Region& region, const EffectSettings& settings) const;

private:
    std::string path_;
    ModuleLibrary library_;
    std::string effectName_;
};

// granulix.so in the folder of the running program (the build tree), else in
// the package's private folder beside an installed program (see
// GRANULIX_MODULE_DIR in the top CMakeLists.txt).
std::string defaultModulePath();

}  // namespace granulix::cli
