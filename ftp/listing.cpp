// SPDX-License-Identifier: MIT
// FTPServerFiles: makes a remote folder current and writes its entries to the
// listing file "\FTPFolder.txt", three lines each: name, size, local time.
#include <string>

#include "runtime_api.h"
#include "session.h"

namespace {

constexpr const auto* kListingPath = QV_WIDE("\\FTPFolder.txt");
constexpr const auto* kLineEnd = QV_WIDE("\n");

using WideText = std::basic_string<std::remove_const_t<std::remove_pointer_t<LPCWSTR>>>;

// The listing is written beside its final path and renamed over it only when
// complete: a reader never sees half a listing, and a failed call leaves the
// previous one whole.
WideText temporaryListingPath()
{
    const std::string pid = std::to_string(GetCurrentProcessId());
    WideText path = kListingPath;
    path += QV_WIDE(".");
    path.append(pid.begin(), pid.end());
    path += QV_WIDE(".tmp");
    return path;
}

bool writeLine(WideStream* stream, LPCWSTR text)
{
    return WriteWideString(text, stream) >= 0 && WriteWideString(kLineEnd, stream) >= 0;
}

// Writes one record; false at the first write that fails.
bool writeRecord(WideStream* stream, const WIN32_FIND_DATAW& entry)
{
    FILETIME local{};
    SYSTEMTIME fields{};
    FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &fields);

    // The true size, also past 2 and 4 GiB: never a truncated or negative one.
    const unsigned long long size =
        (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    return writeLine(stream, entry.cFileName) &&
           WriteWideFormatted(stream, QV_WIDE(" %llu    "), size) >= 0 &&
           WriteWideString(kLineEnd, stream) >= 0 &&
           WriteWideFormatted(stream, QV_WIDE("%02d/%02d/%04d  %02d:%02d:%02d"), int{fields.wMonth},
                              int{fields.wDay}, int{fields.wYear}, int{fields.wHour},
                              int{fields.wMinute}, int{fields.wSecond}) >= 0 &&
           WriteWideString(kLineEnd, stream) >= 0;
}

// Writes every entry the search delivers; false when the search broke off
// with an error rather than at its end, or the listing file could not be
// written (which ends the search at once: the rest would be thrown away).
bool writeEntries(WideStream* stream)
{
    WIN32_FIND_DATAW entry{};
    HINTERNET search = FtpFindFirstFileW(gFTPSession.hConnect, QV_WIDE("*.*"), &entry,
                                         INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!search)
        return GetLastError() == ERROR_NO_MORE_FILES;  // an empty folder
    bool written = true;
    while ((written = writeRecord(stream, entry)) && InternetFindNextFileW(search, &entry)) {
    }
    const bool reachedEnd = written && GetLastError() == ERROR_NO_MORE_FILES;
    InternetCloseHandle(search);
    return reachedEnd;
}

FTPResult listFolder(WideString folder)
{
    if (!FtpSetCurrentDirectoryW(gFTPSession.hConnect, folder))
        return FTP_RESULT_NO_FOLDER;

    const WideText temporary = temporaryListingPath();
    WideStream* stream = OpenWideStream(temporary.c_str(), QV_WIDE("w"));
    if (!stream)
        return FTP_RESULT_FAILED;
    const bool listed = writeEntries(stream);
    const bool written = CloseWideStream(stream) == 0;
    if (!listed || !written || !ReplaceWideFile(temporary.c_str(), kListingPath)) {
        DeleteWideFile(temporary.c_str());
        return FTP_RESULT_FAILED;
    }
    return FTP_RESULT_OK;
}

}  // namespace

extern "C" FTPResult FTPServerFiles(const void*, const void*, const void*, WideString folder)
{
    return traced("FTPServerFiles", listFolder(folder), folder);
}
