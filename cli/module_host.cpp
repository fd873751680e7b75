#include "module_host.h"

#include <cstring>
#include <filesystem>

#include "cli_error.h"

namespace granulix::cli {

namespace {

ModuleLibrary load(const std::string& path) {
    try {
        return ModuleLibrary(path);
    } catch (const ModuleLoadError& e) {
        throw CliError(e.what());
    }
}

}  // namespace

Module::Module(const std::string& path) : path_(path), library_(load(path)) {
    abi::EffectInfo info;
    std::memset(&info, 0, sizeof info);
    if (library_.getEffInfo(&info) != 1 || info.settingsSize != int32_t(kSettingsSize)) {
        throw CliError("module " + path + " does not describe a " + std::to_string(kSettingsSize) +
                       "-byte settings block");
    }
    effectName_.assign(info.name, strnlen(info.name, sizeof info.name));
}

EffectSettings Module::defaults() const {
    EffectSettings settings;
    std::memset(&settings, 0, sizeof settings);
    if (library_.getDefault(reinterpret_cast<uint8_t*>(&settings)) != 1) {
        throw CliError("module " + path_ + " gave no default settings");
    }
    return settings;
}

int32_t Module::render(const HostFrame& a, const HostFrame& b, HostFrame& out, float progress,
                       int32_t fieldMode, const Region& region,
                       const EffectSettings& settings) const {
    const abi::FrameHeader header = abi::hostFrameHeader(out.width, out.height);
    EffectSettings block = settings;
    abi::RenderRequest request =
        abi::renderRequest(header, {a.bytes.data(), b.bytes.data(), out.bytes.data()}, progress,
                           reinterpret_cast<uint8_t*>(&block), region);
    return library_.applyEffect(1, &request, fieldMode);
}

std::string defaultModulePath() {
    const std::string beside = programFolder() + "granulix.so";
    std::error_code error;
    if (std::filesystem::exists(beside, error)) return beside;
    const std::filesystem::path installed =
        std::filesystem::path(programFolder()) / GRANULIX_MODULE_FROM_PROGRAM / "granulix.so";
    return installed.lexically_normal().string();
}

}  // namespace granulix::cli
