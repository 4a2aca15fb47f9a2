// A logged-in FTP connection: the handle object behind InternetConnectW.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "control_connection.h"
#include "handles.h"

namespace quorvane::client {

// What the server's FEAT reply offers (RFC 2389).
struct ServerFeatures {
    bool mlst = false;
    bool epsv = false;
    bool utf8 = false;
    bool size = false;
    bool mdtm = false;
};

ServerFeatures parseFeatures(const Reply& featReply);

struct Credentials {
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
};

class FtpConnection final : public HandleObject {
public:
    // Connects, logs in and prepares the session (binary type, UTF-8 names).
    // Null with the last error set on any failure; nothing stays open then.
    static std::shared_ptr<FtpConnection> logIn(const Credentials& credentials,
                                                HINTERNET parent);

    FtpConnection(std::unique_ptr<ControlConnection> control, HINTERNET parent)
        : HandleObject(HandleKind::Connection, parent), control_(std::move(control)) {}

    const ServerFeatures& features() const { return features_; }

    void close() override;

private:
    bool authenticate(const Credentials& credentials);
    bool prepare();

    std::mutex mutex_;  // one operation at a time on the control connection
    std::unique_ptr<ControlConnection> control_;
    ServerFeatures features_;
};

}  // namespace quorvane::client
