// SPDX-License-Identifier: MIT
// The handle InternetConnectW returns: it holds the FTP connection and says
// goodbye to the server when it is closed.
#pragma once

#include <memory>

#include "posix/client/ftp_connection.h"
#include "posix/wininet/handles.h"

namespace quorvane::client {

class ConnectionHandle final : public HandleObject {
public:
    ConnectionHandle(std::shared_ptr<FtpConnection> connection, HINTERNET parent)
        : HandleObject(HandleKind::Connection, parent), connection_(std::move(connection))
    {
    }

    const std::shared_ptr<FtpConnection>& connection() const { return connection_; }

    void close() override { connection_->close(); }

private:
    std::shared_ptr<FtpConnection> connection_;
};

// The FTP connection behind `handle`, if it is an open connection handle.
inline Outcome<std::shared_ptr<FtpConnection>> connectionOf(HINTERNET handle)
{
    auto found = findHandleAs<ConnectionHandle>(handle, HandleKind::Connection);
    if (!found)
        return std::move(found).failure();
    return (*found)->connection();
}

}  // namespace quorvane::client
