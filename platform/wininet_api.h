// SPDX-License-Identifier: MIT
// The narrow WinINet-shaped interface the FTP session layer calls. On Windows
// it is the real WinINet, behind a thin shim where WinINet falls short of
// what the library promises; elsewhere it is our own FTP client with the same
// names, argument lists and constants.
#pragma once

#if defined(_WIN32)
#  include <windows.h>
#  include <wininet.h>
#  include "windows/wininet_shim.h"
#  define QV_WIDE(text) L##text
#else
#  include "posix/wininet/wininet_types.h"
#  define QV_WIDE(text) u##text
#endif
