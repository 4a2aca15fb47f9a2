// SPDX-License-Identifier: MIT
// The runtime services the listing uses besides WinINet: wide-path file
// streams that write UTF-8 with plain LF line ends, and file-time
// conversions. On Windows the time conversions are the kernel's; the streams
// are ours everywhere, so the listing file reads the same on every platform.
#pragma once

#include "wininet_api.h"

struct WideStream;

// Opens a stream on a device path (on POSIX mapped under the device root);
// mode "w" creates or empties the file. Null on failure.
WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode);
// Appends `text` as UTF-8. Negative on failure.
int WriteWideString(LPCWSTR text, WideStream* stream);
// Appends the formatted text. The format is ASCII and takes integer
// conversions only (%d, %ld, %llu, ... with flags and widths).
int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...);
// Closes the stream; non-zero when it or any write before it failed.
int CloseWideStream(WideStream* stream);

// Writes an exported call's outcome to the session's transcript, if one is
// on: the call, up to two of its arguments (never a password), its result.
// Over WinINet the reason WinINet gives follows a call that did not succeed.
void TraceCall(const char* call, LPCWSTR first, LPCWSTR second, int result, BOOL succeeded);

// Renames `from` over `to` in one step; FALSE on failure.
BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to);
BOOL DeleteWideFile(LPCWSTR path);

#if !defined(_WIN32)
DWORD GetCurrentProcessId();
// UTC to the local zone's time, with the offset in effect at that instant.
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
#endif
