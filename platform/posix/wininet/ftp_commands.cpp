// SPDX-License-Identifier: MIT
// The WinINet entry points for FTP commands on a connection handle.
#include <sys/stat.h>

#include <cerrno>

#include "posix/local/device_path.h"
#include "posix/local/local_file.h"
#include "posix/wininet/connection_handle.h"
#include "posix/wininet/guarded_call.h"

using namespace quorvane::client;

namespace {

Failure refusedName()
{
    return Failure{FailureKind::InvalidArgument, "a name the client cannot send"};
}

// Runs `command` with one remote name, after the checks every name gets.
template <typename Command>
BOOL withRemoteName(HINTERNET connect, LPCWSTR name, Command command)
{
    return guarded<BOOL>(FALSE, [&]() -> BOOL {
        auto connection = connectionOf(connect);
        if (!connection)
            return entryPointResult(connection);
        const auto remote = commandText(name);
        if (!remote || remote->empty())
            return entryPointResult(Outcome<>(refusedName()));
        return entryPointResult(command(**connection, *remote));
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
    return withRemoteName(connect, existing,
                          [&](FtpConnection& c, const std::string& from) -> Outcome<> {
                              const auto to = commandText(newName);
                              if (!to || to->empty())
                                  return refusedName();
                              return c.rename(from, *to);
                          });
}

BOOL FtpGetFileW(HINTERNET connect, LPCWSTR remoteFile, LPCWSTR newFile, BOOL failIfExists, DWORD,
                 DWORD, DWORD_PTR)
{
    return withRemoteName(
        connect, remoteFile, [&](FtpConnection& c, const std::string& remote) -> Outcome<> {
            const auto local = hostPathOf(newFile);
            if (!local)
                return Failure{FailureKind::InvalidArgument, "a local name that is not UTF-16"};
            struct stat existing {};
            if (failIfExists && ::stat(local->c_str(), &existing) == 0)
                return localFailure("replace", *local, EEXIST);
            // Created before anything is asked of the server: a target that
            // cannot be written fails without a RETR. Where downloads are
            // kept across calls, the one of this target goes on (unless
            // another process holds it).
            const auto source = keepsPartialDownloads() ? c.sourceOf(remote) : std::nullopt;
            if (auto kept =
                    source ? TemporaryFile::kept(*local, deviceRoot(), *source) : std::nullopt)
                return c.download(remote, *kept);
            auto temporary = TemporaryFile::beside(*local, deviceRoot());
            if (!temporary)
                return std::move(temporary).failure();
            return c.download(remote, *temporary);
        });
}

BOOL FtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD, DWORD_PTR)
{
    return withRemoteName(connect, newRemoteFile,
                          [&](FtpConnection& c, const std::string& remote) -> Outcome<> {
                              const auto local = hostPathOf(localFile);
                              if (!local)
                                  return localFailure("read", "the local file", ENOENT);
                              auto file = openForReading(*local, deviceRoot());
                              if (!file)
                                  return std::move(file).failure();
                              return c.upload(LocalFile{file->get(), *local}, remote);
                          });
}
