// The WinINet entry points for FTP commands on a connection handle.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "device_path.h"
#include "entry_point.h"
#include "ftp_connection.h"
#include "local_file.h"
#include "transcript.h"

using namespace quorvane::client;
namespace trace = quorvane::trace;

namespace {

std::shared_ptr<FtpConnection> connectionOf(HINTERNET handle)
{
    return findHandleAs<FtpConnection>(handle, HandleKind::Connection);
}

// Runs `command` with one remote name, after the checks every name gets.
template <typename Command>
BOOL withRemoteName(HINTERNET connect, LPCWSTR name, Command command)
{
    return guarded<BOOL>(FALSE, [&]() -> BOOL {
        const auto connection = connectionOf(connect);
        if (!connection)
            return FALSE;
        const auto remote = commandText(name);
        if (!remote || remote->empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return command(*connection, *remote) ? TRUE : FALSE;
    });
}

}  // namespace

BOOL FtpSetCurrentDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return withRemoteName(connect, directory, [](FtpConnection& c, const std::string& path) {
        return c.changeDirectory(path);
    });
}

BOOL FtpDeleteFileW(HINTERNET connect, LPCWSTR fileName)
{
    return withRemoteName(connect, fileName, [](FtpConnection& c, const std::string& path) {
        return c.deleteFile(path);
    });
}

BOOL FtpCreateDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return withRemoteName(connect, directory, [](FtpConnection& c, const std::string& path) {
        return c.createDirectory(path);
    });
}

BOOL FtpRemoveDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return withRemoteName(connect, directory, [](FtpConnection& c, const std::string& path) {
        return c.removeDirectory(path);
    });
}

BOOL FtpRenameFileW(HINTERNET connect, LPCWSTR existing, LPCWSTR newName)
{
    return withRemoteName(connect, existing, [&](FtpConnection& c, const std::string& from) {
        const auto to = commandText(newName);
        if (!to || to->empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        return c.rename(from, *to);
    });
}

BOOL FtpGetFileW(HINTERNET connect, LPCWSTR remoteFile, LPCWSTR newFile, BOOL failIfExists,
                 DWORD, DWORD, DWORD_PTR)
{
    return withRemoteName(connect, remoteFile, [&](FtpConnection& c, const std::string& remote) {
        const auto local = hostPathOf(newFile);
        if (!local) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        struct stat existing {};
        if (failIfExists && ::stat(local->c_str(), &existing) == 0) {
            SetLastError(ERROR_FILE_EXISTS);
            return false;
        }
        // Created before anything is asked of the server: a target that cannot
        // be written fails without a RETR.
        auto temporary = TemporaryFile::besides(*local);
        if (!temporary) {
            const int error = errno;
            trace::line() << "cause: cannot write " << *local << ": " << std::strerror(error);
            SetLastError(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                             : ERROR_ACCESS_DENIED);
            return false;
        }
        return c.download(remote, *temporary);
    });
}

BOOL FtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD, DWORD_PTR)
{
    return withRemoteName(connect, newRemoteFile, [&](FtpConnection& c, const std::string& remote) {
        const auto local = hostPathOf(localFile);
        const FileDescriptor file = local ? openForReading(*local) : FileDescriptor();
        if (!file) {
            const int error = local ? errno : ENOENT;
            trace::line() << "cause: cannot read " << (local ? *local : "the local file") << ": "
                          << std::strerror(error);
            SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
            return false;
        }
        return c.upload(file.get(), remote);
    });
}
