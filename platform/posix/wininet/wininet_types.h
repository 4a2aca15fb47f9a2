// SPDX-License-Identifier: MIT
// POSIX declarations of the WinINet subset the library uses. Widths are fixed
// explicitly: `long` and `wchar_t` differ between the targets we build for.
#pragma once

#include <cstdint>

using BOOL = std::int32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using WCHAR = char16_t;
using LPCWSTR = const WCHAR*;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;
using HINTERNET = void*;
using HINSTANCE = void*;
#define WINAPI
using LPVOID = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
inline constexpr DWORD INTERNET_SERVICE_FTP = 1;
inline constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 0x00000002;

// Thread-local error codes, with the platform's values.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;

inline constexpr DWORD MAX_PATH = 260;

// Reasons for the module's entry callback.
inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};

DWORD GetLastError();
void SetLastError(DWORD error);

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                        DWORD flags);
HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                           LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context);
BOOL InternetCloseHandle(HINTERNET handle);

BOOL FtpSetCurrentDirectoryW(HINTERNET connect, LPCWSTR directory);
HINTERNET FtpFindFirstFileW(HINTERNET connect, LPCWSTR searchFile, WIN32_FIND_DATAW* findData,
                            DWORD flags, DWORD_PTR context);
BOOL InternetFindNextFileW(HINTERNET find, void* findData);
BOOL FtpGetFileW(HINTERNET connect, LPCWSTR remoteFile, LPCWSTR newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context);
BOOL FtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD flags,
                 DWORD_PTR context);
BOOL FtpDeleteFileW(HINTERNET connect, LPCWSTR fileName);
BOOL FtpCreateDirectoryW(HINTERNET connect, LPCWSTR directory);
BOOL FtpRemoveDirectoryW(HINTERNET connect, LPCWSTR directory);
BOOL FtpRenameFileW(HINTERNET connect, LPCWSTR existing, LPCWSTR newName);
