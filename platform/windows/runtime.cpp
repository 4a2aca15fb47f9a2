// The stream services on Windows: files opened by wide path in binary mode,
// so that the listing is UTF-8 with LF line ends here too.
#include <cstdio>
#include <string>

#include "runtime_api.h"
#include "transcript.h"
#include "utf.h"
#include "wide_stream.h"

WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode)
{
    if (!path || !mode)
        return nullptr;
    // Binary: the stream writes UTF-8 itself, and LF must stay LF.
    std::wstring binaryMode = mode;
    if (binaryMode.find(L'b') == std::wstring::npos)
        binaryMode += L'b';
    return adoptWideStream(_wfopen(path, binaryMode.c_str()));
}

BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to)
{
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING);
}

BOOL DeleteWideFile(LPCWSTR path) { return DeleteFileW(path); }

namespace {

std::string utf8Of(const wchar_t* text)
{
    const auto utf8 = quorvane::text::toUtf8(reinterpret_cast<const char16_t*>(text));
    return utf8 ? quorvane::trace::escape(*utf8) : std::string("<not UTF-16>");
}

}  // namespace

// WinINet does the work here: the transcript has the calls, their results,
// and after a failure what WinINet says about it.
void TraceCall(const char* call, LPCWSTR first, LPCWSTR second, int result)
{
    if (!quorvane::trace::current())
        return;
    const DWORD error = GetLastError();
    {
        auto line = quorvane::trace::line();
        line << "call " << call << "(";
        if (first)
            line << utf8Of(first);
        if (second)
            line << ", " << utf8Of(second);
        line << ") = " << result;
    }
    if (result == 999)
        return;
    wchar_t response[1024];
    DWORD size = sizeof response / sizeof response[0];
    DWORD code = 0;
    if (InternetGetLastResponseInfoW(&code, response, &size) && size > 0)
        quorvane::trace::line() << "cause: " << utf8Of(response);
    else
        quorvane::trace::line() << "cause: WinINet error " << static_cast<int>(error);
}
