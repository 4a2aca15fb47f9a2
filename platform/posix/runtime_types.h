// POSIX declarations of the runtime services the listing uses. Paths are
// device paths (see device_path.h); text is written as UTF-8.
#pragma once

#include "wininet_types.h"

struct WideStream;

// Opens a stream on a device path; mode "w" (or "wb") creates or empties the
// file. Null on failure.
WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode);
// Appends `text` as UTF-8. Negative on failure.
int WriteWideString(LPCWSTR text, WideStream* stream);
// Appends the formatted text. The format is ASCII and takes numeric
// conversions only (%d, %ld, %llu, ... with flags and widths).
int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...);
// Closes the stream; non-zero when it or any write before it failed.
int CloseWideStream(WideStream* stream);

// Renames `from` over `to` in one step; FALSE on failure.
BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to);
BOOL DeleteWideFile(LPCWSTR path);

DWORD GetCurrentProcessId();

// UTC to the local zone's time, with the offset in effect at that instant.
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
