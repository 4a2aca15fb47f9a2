// SPDX-License-Identifier: MIT
// The stream services on Windows: files opened by wide path in binary mode,
// so that the listing is UTF-8 with LF line ends here too.
#include <io.h>

#include <cstdio>
#include <string>

#include "runtime_api.h"
#include "common/transcript.h"
#include "common/utf.h"
#include "common/wide_stream.h"

WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode)
{
    if (!path || !mode)
        return nullptr;
    // Binary: the stream writes UTF-8 itself, and LF must stay LF.
    std::wstring binaryMode = mode;
    if (binaryMode.find(L'b') == std::wstring::npos)
        binaryMode += L'b';
    std::FILE* file = _wfopen(path, binaryMode.c_str());
    // On the disk before it replaces the listing it is written for.
    return adoptWideStream(file, [file] { return _commit(_fileno(file)) == 0; });
}

BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to)
{
    // Returns once the new name is on the disk too.
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

BOOL DeleteWideFile(LPCWSTR path) { return DeleteFileW(path); }

namespace {

const char16_t* utf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace

// WinINet does the work here: the transcript has the calls, their results,
// and after a failure what WinINet says about it.
void TraceCall(const char* call, LPCWSTR first, LPCWSTR second, int result, BOOL succeeded)
{
    if (!quorvane::trace::current())
        return;
    const DWORD error = GetLastError();
    quorvane::trace::writeCall(call, utf16(first), utf16(second), result);
    if (succeeded)
        return;
    wchar_t response[1024];
    DWORD size = sizeof response / sizeof response[0];
    DWORD code = 0;
    if (InternetGetLastResponseInfoW(&code, response, &size) && size > 0) {
        const auto text = quorvane::text::toUtf8(utf16(response));
        quorvane::trace::cause(text ? quorvane::trace::escape(*text) : "<not UTF-16>");
    } else {
        quorvane::trace::cause("WinINet error " + std::to_string(error));
    }
}
