// SPDX-License-Identifier: MIT
// Where WinINet falls short of the library's promises, these stand in for
// its functions (the FTP layer calls them under the WinINet names):
// - a download goes to a temporary file that replaces the target only on
//   success (WinINet deletes an existing target when a download fails);
// - names and credentials holding control characters or unpaired surrogates
//   are refused before WinINet sees them (command injection);
// - found entries carry UTC times: WinINet gives the LIST time's fields as
//   listed, and the server's zone is learnt as our own client learns it
//   (windows/list_zones.h); names with control characters are skipped.
#pragma once

#include <windows.h>
#include <wininet.h>

HINTERNET QvInternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                             LPCWSTR userName, LPCWSTR password, DWORD service, DWORD flags,
                             DWORD_PTR context);
BOOL QvFtpSetCurrentDirectoryW(HINTERNET connect, LPCWSTR directory);
HINTERNET QvFtpFindFirstFileW(HINTERNET connect, LPCWSTR searchFile, WIN32_FIND_DATAW* findData,
                              DWORD flags, DWORD_PTR context);
BOOL QvInternetFindNextFileW(HINTERNET find, LPVOID findData);
BOOL QvInternetCloseHandle(HINTERNET handle);
BOOL QvFtpGetFileW(HINTERNET connect, LPCWSTR remoteFile, LPCWSTR newFile, BOOL failIfExists,
                   DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context);
BOOL QvFtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD flags,
                   DWORD_PTR context);
BOOL QvFtpDeleteFileW(HINTERNET connect, LPCWSTR fileName);
BOOL QvFtpCreateDirectoryW(HINTERNET connect, LPCWSTR directory);
BOOL QvFtpRemoveDirectoryW(HINTERNET connect, LPCWSTR directory);
BOOL QvFtpRenameFileW(HINTERNET connect, LPCWSTR existing, LPCWSTR newName);

#if !defined(QUORVANE_SHIM_IMPLEMENTATION)
#  define InternetConnectW QvInternetConnectW
#  define FtpSetCurrentDirectoryW QvFtpSetCurrentDirectoryW
#  define FtpFindFirstFileW QvFtpFindFirstFileW
#  define InternetFindNextFileW QvInternetFindNextFileW
#  define InternetCloseHandle QvInternetCloseHandle
#  define FtpGetFileW QvFtpGetFileW
#  define FtpPutFileW QvFtpPutFileW
#  define FtpDeleteFileW QvFtpDeleteFileW
#  define FtpCreateDirectoryW QvFtpCreateDirectoryW
#  define FtpRemoveDirectoryW QvFtpRemoveDirectoryW
#  define FtpRenameFileW QvFtpRenameFileW
#endif
