// SPDX-License-Identifier: MIT
// Loads the module at run time and resolves its exports, as a device
// application does: by name, or on Windows also by ordinal.
#pragma once

#include <string>

class ModuleLoader {
public:
    explicit ModuleLoader(const std::string& path);
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    // Why loading failed.
    const std::string& error() const { return error_; }

    void* byName(const char* name) const;
    // Null on ELF, which has no ordinals.
    void* byOrdinal(int ordinal) const;

    // The file the module was loaded from, with every link resolved.
    std::string file() const;
    // Its version, as its file name gives it ("0.1" for libQuorvane2.so.0.1);
    // empty where the name gives none.
    std::string version() const;

    static bool hasOrdinals();
    // The module beside this program.
    static std::string defaultPath();

private:
    void* handle_ = nullptr;
    std::string error_;
};
