// SPDX-License-Identifier: MIT
// The module's entry callback. On Windows the loader calls DllMain itself; on
// ELF the load and unload hooks below call it, so the same code runs on both.
#include "wininet_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    // Nothing to set up or tear down: the session is zero by static
    // initialisation, and unloading does not log out.
    return TRUE;
}

#if !defined(_WIN32)
#  include <dlfcn.h>

namespace {

HINSTANCE thisModule()
{
    Dl_info info{};
    return ::dladdr(reinterpret_cast<const void*>(&DllMain), &info) ? info.dli_fbase : nullptr;
}

__attribute__((constructor)) void onLoad() { DllMain(thisModule(), DLL_PROCESS_ATTACH, nullptr); }

__attribute__((destructor)) void onUnload() { DllMain(thisModule(), DLL_PROCESS_DETACH, nullptr); }

}  // namespace
#endif
