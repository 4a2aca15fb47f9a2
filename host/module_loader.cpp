#include "module_loader.h"

#if defined(_WIN32)
#  include <windows.h>

#  include <vector>

namespace {

std::wstring widen(const std::string& utf8)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

}  // namespace

ModuleLoader::ModuleLoader(const std::string& path)
    : handle_(reinterpret_cast<void*>(LoadLibraryW(widen(path).c_str())))
{
    if (!handle_)
        error_ = "LoadLibraryW failed with error " + std::to_string(GetLastError());
}

ModuleLoader::~ModuleLoader()
{
    if (handle_)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

void* ModuleLoader::byName(const char* name) const
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void* ModuleLoader::byOrdinal(int ordinal) const
{
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

bool ModuleLoader::hasOrdinals() { return true; }

std::string ModuleLoader::file() const
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(handle_), path, MAX_PATH);
    return std::string(path, length);
}

std::string ModuleLoader::version() const { return {}; }

std::string ModuleLoader::defaultPath()
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + "Quorvane2.dll";
}

#else
#  include <dlfcn.h>
#  include <unistd.h>

#  include <climits>
#  include <cstdlib>

ModuleLoader::ModuleLoader(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (!handle_)
        error_ = dlerror();
}

ModuleLoader::~ModuleLoader()
{
    if (handle_)
        dlclose(handle_);
}

void* ModuleLoader::byName(const char* name) const { return dlsym(handle_, name); }

void* ModuleLoader::byOrdinal(int) const { return nullptr; }

bool ModuleLoader::hasOrdinals() { return false; }

std::string ModuleLoader::file() const
{
    Dl_info info{};
    if (!dladdr(byName("FTPServerLogIn"), &info) || !info.dli_fname)
        return {};
    char real[PATH_MAX];
    return realpath(info.dli_fname, real) ? real : info.dli_fname;
}

std::string ModuleLoader::version() const
{
    const std::string path = file();
    const std::size_t so = path.rfind(".so.");
    return so == std::string::npos ? std::string() : path.substr(so + 4);
}

std::string ModuleLoader::defaultPath()
{
    // Beside this program (a build tree), else the installed runtime
    // library, found where the dynamic loader looks.
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string path(self, static_cast<std::size_t>(length));
        path = path.substr(0, path.rfind('/') + 1) + "libQuorvane2.so";
        if (access(path.c_str(), F_OK) == 0)
            return path;
    }
    return "libQuorvane2.so." QUORVANE_SOVERSION;
}
#endif
