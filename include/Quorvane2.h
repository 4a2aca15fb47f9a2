/* SPDX-License-Identifier: MIT */
/*
 * Quorvane2: one FTP session per process, driven through a flat set of
 * exported functions. Every function returns an FTPResult; 999 is success.
 *
 * Strings are NUL-terminated UTF-16 (16-bit units on every platform). The
 * library only reads them during the call and keeps no copy.
 */
#ifndef QUORVANE2_H
#define QUORVANE2_H

#include <stdint.h>

#if defined(_WIN32)
typedef wchar_t QuorvaneWideChar;
#elif defined(__cplusplus)
typedef char16_t QuorvaneWideChar;
#else
#  include <uchar.h>
typedef char16_t QuorvaneWideChar;
#endif

/* A NUL-terminated UTF-16 string owned by the caller. */
typedef const QuorvaneWideChar* WideString;

/* The result of every exported FTP function: a signed 32-bit integer. */
typedef int32_t FTPResult;

enum {
    FTP_RESULT_OK = 999, /* the operation succeeded */
    FTP_RESULT_NO_INTERNET = 1, /* the Internet client cannot be opened */
    FTP_RESULT_FAILED = 2, /* connection, log-in or remote command failed */
    FTP_RESULT_NO_FOLDER = 3 /* the folder to list cannot be made current */
};

#if defined(_WIN32)
#  if defined(QUORVANE_BUILDING_MODULE)
/* module/Quorvane2.def lists the exports with their fixed ordinals. */
#    define QUORVANE_API
#  else
#    define QUORVANE_API __declspec(dllimport)
#  endif
#elif defined(QUORVANE_BUILDING_MODULE)
#  define QUORVANE_API __attribute__((visibility("default")))
#else
#  define QUORVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Lists `folder` into the listing file "\FTPFolder.txt". The first three
 * arguments are accepted for compatibility and never read. */
QUORVANE_API FTPResult FTPServerFiles(const void* first, const void* second, const void* third,
                                      WideString folder);

QUORVANE_API FTPResult FTPFileDownload(WideString localFile, WideString remoteFile);
QUORVANE_API FTPResult FTPFileUpload(WideString localFile, WideString remoteFile);
QUORVANE_API FTPResult FTPFileDelete(WideString remoteFile);
QUORVANE_API FTPResult FTPFolderCreate(WideString remoteFolder);
QUORVANE_API FTPResult FTPFolderDelete(WideString remoteFolder);
QUORVANE_API FTPResult FTPFileRename(WideString existingName, WideString newName);

/* Opens the process's single session, passive and binary: `server` is HOST,
 * HOST:PORT, ftp://HOST[:PORT], ftpes://HOST[:PORT] (explicit TLS, required)
 * or ftps://HOST[:PORT] (implicit TLS); port 21 unless named, 990 for ftps.
 * See quorvane2(3). */
QUORVANE_API FTPResult FTPServerLogIn(WideString server, WideString user, WideString password);
/* Closes the session; always FTP_RESULT_OK. */
QUORVANE_API FTPResult FTPServerLogOut(void);

#ifdef __cplusplus
}

/* Sample exports that come with the module; unrelated to FTP, they touch no
 * session state. */
class QUORVANE_API CQuorvane {
public:
    CQuorvane();
    CQuorvane& operator=(const CQuorvane& other);
};

QUORVANE_API int fnQuorvane();

#endif

/* A sample variable, 0 at load; nothing in the module reads or writes it.
 * Variables keep their plain name under the compilers we build with. */
extern QUORVANE_API int nQuorvane;

#endif /* QUORVANE2_H */
