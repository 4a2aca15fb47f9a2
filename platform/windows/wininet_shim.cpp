#define QUORVANE_SHIM_IMPLEMENTATION
#include "windows/wininet_shim.h"

#include <optional>
#include <string>

#include "common/paths.h"
#include "common/server_argument.h"
#include "common/transcript.h"
#include "common/utf.h"
#include "windows/list_zones.h"

namespace {

// The checks our own client makes on every text that becomes part of a
// command: valid UTF-16, no control characters.
bool isSafeCommandText(LPCWSTR text)
{
    if (!text)
        return true;  // WinINet's defaults apply
    const auto utf8 = quorvane::text::toUtf8(reinterpret_cast<const char16_t*>(text));
    return utf8 && !quorvane::text::hasControlCharacter(*utf8);
}

bool refuse()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

bool allSafe(std::initializer_list<LPCWSTR> texts)
{
    for (LPCWSTR text : texts)
        if (!isSafeCommandText(text))
            return refuse();
    return true;
}

std::wstring folderOf(const std::wstring& path) { return quorvane::text::folderOf(path, L"\\/"); }

}  // namespace

HINTERNET QvInternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                             LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                             DWORD_PTR context)
{
    quorvane::trace::setCurrent(quorvane::trace::Transcript::fromEnvironment());
    if (!allSafe({serverName, userName, password}))
        return nullptr;
    // WinINet speaks no FTPS: a server that asks for TLS (explicit or
    // implicit) is refused here, before WinINet could send the password in
    // the clear. ftp://HOST[:PORT] is HOST, on that port.
    const auto name = quorvane::text::toUtf8(reinterpret_cast<const char16_t*>(serverName));
    const auto server = name ? quorvane::text::parseServerArgument(*name) : std::nullopt;
    const bool plain = server && server->security == quorvane::text::Security::Plain;
    const auto host = plain ? quorvane::text::toUtf16(server->host) : std::nullopt;
    if (!host) {
        refuse();
        return nullptr;
    }
    const std::wstring wideHost(host->begin(), host->end());
    return InternetConnectW(internet, wideHost.c_str(), server->port.value_or(serverPort), userName,
                            password, service, flags, context);
}

BOOL QvFtpSetCurrentDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return allSafe({directory}) && FtpSetCurrentDirectoryW(connect, directory);
}

HINTERNET QvFtpFindFirstFileW(HINTERNET connect, LPCWSTR searchFile, WIN32_FIND_DATAW* findData,
                              DWORD flags, DWORD_PTR context)
{
    if (!allSafe({searchFile}))
        return nullptr;
    const HINTERNET found = FtpFindFirstFileW(connect, searchFile, findData, flags, context);
    if (!found)
        return nullptr;
    return listZones().start(connect, found, *findData);
}

BOOL QvInternetFindNextFileW(HINTERNET find, LPVOID findData)
{
    return listZones().next(find, *static_cast<WIN32_FIND_DATAW*>(findData));
}

BOOL QvInternetCloseHandle(HINTERNET handle) { return listZones().close(handle); }

BOOL QvFtpGetFileW(HINTERNET connect, LPCWSTR remoteFile, LPCWSTR newFile, BOOL failIfExists,
                   DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context)
{
    if (!allSafe({remoteFile}) || !newFile)
        return refuse();
    if (failIfExists && GetFileAttributesW(newFile) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    // The download lands beside the target and replaces it only when whole.
    wchar_t temporary[MAX_PATH];
    if (!GetTempFileNameW(folderOf(newFile).c_str(), L"qvd", 0, temporary))
        return FALSE;
    if (FtpGetFileW(connect, remoteFile, temporary, FALSE, flagsAndAttributes, flags, context) &&
        MoveFileExW(temporary, newFile, MOVEFILE_REPLACE_EXISTING))
        return TRUE;
    const DWORD error = GetLastError();
    DeleteFileW(temporary);
    SetLastError(error);
    return FALSE;
}

BOOL QvFtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD flags,
                   DWORD_PTR context)
{
    return allSafe({newRemoteFile}) &&
           FtpPutFileW(connect, localFile, newRemoteFile, flags, context);
}

BOOL QvFtpDeleteFileW(HINTERNET connect, LPCWSTR fileName)
{
    return allSafe({fileName}) && FtpDeleteFileW(connect, fileName);
}

BOOL QvFtpCreateDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return allSafe({directory}) && FtpCreateDirectoryW(connect, directory);
}

BOOL QvFtpRemoveDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return allSafe({directory}) && FtpRemoveDirectoryW(connect, directory);
}

BOOL QvFtpRenameFileW(HINTERNET connect, LPCWSTR existing, LPCWSTR newName)
{
    return allSafe({existing, newName}) && FtpRenameFileW(connect, existing, newName);
}
