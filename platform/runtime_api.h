// The runtime services the listing uses besides WinINet: wide-path file
// streams and file-time conversions. On Windows they are the C runtime and
// kernel functions of the same meaning; elsewhere ours, writing UTF-8.
#pragma once

#include "wininet_api.h"

#if defined(_WIN32)
#  include <cstdarg>
#  include <cstdio>
#  include <wchar.h>

using WideStream = FILE;

inline WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode) { return _wfopen(path, mode); }
inline int WriteWideString(LPCWSTR text, WideStream* stream) { return fputws(text, stream); }
inline int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int written = vfwprintf(stream, format, arguments);
    va_end(arguments);
    return written;
}
inline int CloseWideStream(WideStream* stream) { return fclose(stream); }
inline BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to)
{
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING);
}
inline BOOL DeleteWideFile(LPCWSTR path) { return DeleteFileW(path); }
#else
#  include "posix/runtime_types.h"
#endif
