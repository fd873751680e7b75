#include "module_loader.h"

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace granulix {

namespace {

void* openLibrary(const std::string& path, std::string& why) {
#if defined(_WIN32)
    void* library = LoadLibraryA(path.c_str());
    if (!library) why = "error " + std::to_string(GetLastError());
    return library;
#else
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* text = dlerror();
        why = text ? text : "unknown reason";
    }
    return library;
#endif
}

void* symbolNamed(void* library, const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

template <typename Fn>
Fn exportNamed(void* library, const std::string& path, const char* name) {
    void* symbol = symbolNamed(library, name);
    if (!symbol) throw ModuleLoadError("module " + path + " lacks the export " + name);
    // Through void(*)(), the type GCC accepts any function pointer cast from.
    using Plain = void (*)();
    return reinterpret_cast<Fn>(reinterpret_cast<Plain>(symbol));
}

}  // namespace

ModuleLibrary::Handle::Handle(const std::string& path) {
#if defined(_WIN32)
    const std::string& where = path;
#else
    // A bare file name would send dlopen searching the library path.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
#endif
    std::error_code error;
    if (!std::filesystem::exists(where, error))
        throw ModuleLoadError("cannot load module " + path + ": no such file");
    std::string why;
    library_ = openLibrary(where, why);
    if (!library_) throw ModuleLoadError("cannot load module " + path + ": " + why);
}

ModuleLibrary::Handle::~Handle() {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(library_));
#else
    dlclose(library_);
#endif
}

ModuleLibrary::ModuleLibrary(const std::string& path)
    : handle_(path),
      getEffInfo(exportNamed<abi::GetEffInfoFn>(handle_.library(), path, "vxDLLGetEffInfo")),
      getDefault(exportNamed<abi::GetDefaultFn>(handle_.library(), path, "vxDLLGetDefault")),
      applyEffect(exportNamed<abi::ApplyEffectFn>(handle_.library(), path, "vxDLLApplyEffect")) {}

std::string programFolder() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
#else
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    std::string s(path, n > 0 ? size_t(n) : 0);
    return s.substr(0, s.find_last_of('/') + 1);
#endif
}

}  // namespace granulix
