// The stream services on Windows: files opened by wide path in binary mode,
// so that the listing is UTF-8 with LF line ends here too.
#include <cstdio>
#include <string>

#include "runtime_api.h"
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
