// SPDX-License-Identifier: MIT
// The six remote commands: each is one platform call on the session's
// connection, its outcome mapped to 999 or 2. No checks and no retries of
// their own; a Closed session hands the platform a null connection, which
// it refuses.
#include "session.h"

namespace {

// Binary transfers that leave nothing in a cache.
constexpr DWORD kTransferFlags = INTERNET_FLAG_NO_CACHE_WRITE | FTP_TRANSFER_TYPE_BINARY;

FTPResult resultCodeOf(BOOL succeeded) { return succeeded ? FTP_RESULT_OK : FTP_RESULT_FAILED; }

}  // namespace

extern "C" FTPResult FTPFileDownload(WideString localFile, WideString remoteFile)
{
    // The platform takes the remote name first.
    return traced("FTPFileDownload",
                  resultCodeOf(FtpGetFileW(gFTPSession.hConnect, remoteFile, localFile, FALSE, 0,
                                           kTransferFlags, 0)),
                  localFile, remoteFile);
}

extern "C" FTPResult FTPFileUpload(WideString localFile, WideString remoteFile)
{
    return traced(
        "FTPFileUpload",
        resultCodeOf(FtpPutFileW(gFTPSession.hConnect, localFile, remoteFile, kTransferFlags, 0)),
        localFile, remoteFile);
}

extern "C" FTPResult FTPFileDelete(WideString remoteFile)
{
    return traced("FTPFileDelete", resultCodeOf(FtpDeleteFileW(gFTPSession.hConnect, remoteFile)),
                  remoteFile);
}

extern "C" FTPResult FTPFolderCreate(WideString remoteFolder)
{
    return traced("FTPFolderCreate",
                  resultCodeOf(FtpCreateDirectoryW(gFTPSession.hConnect, remoteFolder)),
                  remoteFolder);
}

extern "C" FTPResult FTPFolderDelete(WideString remoteFolder)
{
    return traced("FTPFolderDelete",
                  resultCodeOf(FtpRemoveDirectoryW(gFTPSession.hConnect, remoteFolder)),
                  remoteFolder);
}

extern "C" FTPResult FTPFileRename(WideString existingName, WideString newName)
{
    return traced("FTPFileRename",
                  resultCodeOf(FtpRenameFileW(gFTPSession.hConnect, existingName, newName)),
                  existingName, newName);
}
