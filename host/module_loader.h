// A host's way in to a built module: the module loaded by file name
// (dlopen, or LoadLibrary on Windows) and its three exports found by name.
// Every program that loads the module (the granulix program, the Windows
// test host and the tests) uses this one loader.
//
//     const granulix::ModuleLibrary module(path);
//     module.getDefault(block);
//
// The module stays loaded for as long as the object lives.
#pragma once

#include <stdexcept>
#include <string>

#include "plugin_abi.h"

namespace granulix {

// Says which module failed to load and why, in one line.
class ModuleLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ModuleLibrary {
    // The loaded library, released last.
    class Handle {
    public:
        explicit Handle(const std::string& path);
        ~Handle();
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;
        void* library() const { return library_; }

    private:
        void* library_ = nullptr;
    };
    Handle handle_;

public:
    // Loads the module at `path` (a bare file name means the current
    // folder); throws ModuleLoadError when the file is missing, will not
    // load, or lacks one of the exports.
    explicit ModuleLibrary(const std::string& path);

    const abi::GetEffInfoFn getEffInfo;
    const abi::GetDefaultFn getDefault;
    const abi::ApplyEffectFn applyEffect;
};

// The folder of the running program, with a trailing separator.
std::string programFolder();

}  // namespace granulix
