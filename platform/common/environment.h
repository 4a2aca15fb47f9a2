// SPDX-License-Identifier: MIT
// The environment as a library must read it: in a set-user-ID or
// set-group-ID program, the caller's variables would choose where a
// privileged process writes its transcript or finds its files, so there
// they count as unset (secure_getenv).
#pragma once

#include <cstdlib>

namespace quorvane::text {

inline const char* environmentVariable(const char* name)
{
#if defined(_WIN32)
    return std::getenv(name);
#else
    return ::secure_getenv(name);
#endif
}

}  // namespace quorvane::text
