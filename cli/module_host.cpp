#include "module_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "cli_error.h"

namespace granulix::cli {

namespace {

template <typename Fn>
Fn findExport(void* handle, const std::string& path, const char* name) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol) throw CliError("module " + path + " lacks the export " + name);
    return reinterpret_cast<Fn>(symbol);
}

}  // namespace

Module::Module(const std::string& path) : path_(path) {
    // A bare file name would send dlopen searching the library path.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    if (!std::filesystem::exists(where)) throw CliError("cannot load module " + path + ": no such file");
    handle_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        throw CliError("cannot load module " + path + ": " + (why ? why : "unknown reason"));
    }
    try {
        getEffInfo_ = findExport<abi::GetEffInfoFn>(handle_, path, "vxDLLGetEffInfo");
        getDefault_ = findExport<abi::GetDefaultFn>(handle_, path, "vxDLLGetDefault");
        applyEffect_ = findExport<abi::ApplyEffectFn>(handle_, path, "vxDLLApplyEffect");

        abi::EffectInfo info;
        std::memset(&info, 0, sizeof info);
        if (getEffInfo_(&info) != 1 || info.settingsSize != int32_t(kSettingsSize)) {
            throw CliError("module " + path + " does not describe a " +
                           std::to_string(kSettingsSize) + "-byte settings block");
        }
        effectName_.assign(info.name, strnlen(info.name, sizeof info.name));
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

Module::~Module() {
    if (handle_) dlclose(handle_);
}

EffectSettings Module::defaults() const {
    EffectSettings settings;
    std::memset(&settings, 0, sizeof settings);
    if (getDefault_(reinterpret_cast<uint8_t*>(&settings)) != 1) {
        throw CliError("module " + path_ + " gave no default settings");
    }
    return settings;
}

int32_t Module::render(const HostFrame& a, const HostFrame& b, HostFrame& out, float progress,
                       int32_t fieldMode, const Region& region,
                       const EffectSettings& settings) const {
    abi::FrameHeader header;
    std::memset(&header, 0, sizeof header);
    header.size = sizeof header;
    header.width = out.width;
    header.height = out.height;
    header.planes = 1;
    header.bitCount = 24;
    header.sizeImage = uint32_t(out.stride * uint64_t(out.height));

    EffectSettings block = settings;
    abi::RenderRequest request;
    std::memset(&request, 0, sizeof request);
    request.output = out.bytes.data();
    request.header = &header;
    request.clipA = a.bytes.data();
    request.clipB = b.bytes.data();
    request.progress = progress;
    request.regionX = region.x;
    request.regionY = region.y;
    request.regionWidth = region.width;
    request.regionHeight = region.height;
    request.settings = reinterpret_cast<uint8_t*>(&block);
    return applyEffect_(1, &request, fieldMode);
}

std::string defaultModulePath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "granulix.so";
    self[n] = '\0';
    return (std::filesystem::path(self).parent_path() / "granulix.so").string();
}

}  // namespace granulix::cli
