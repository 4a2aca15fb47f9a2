// The WinINet entry points for the Internet client and its connections.
// Nothing here lets an exception escape to the caller.
#include <string>

#include "common/server_argument.h"
#include "common/transcript.h"
#include "posix/local/device_path.h"
#include "posix/wininet/connection_handle.h"
#include "posix/wininet/guarded_call.h"
#include "posix/wininet/handles.h"

using namespace quorvane::client;
namespace text = quorvane::text;
namespace trace = quorvane::trace;

namespace {

HINTERNET refuse(std::string cause)
{
    reportFailure(Failure{FailureKind::InvalidArgument, std::move(cause)});
    return nullptr;
}

}  // namespace

HINTERNET InternetOpenW(LPCWSTR, DWORD accessType, LPCWSTR, LPCWSTR, DWORD)
{
    return guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        // Only direct access exists here: there is no proxy support to offer.
        if (accessType != INTERNET_OPEN_TYPE_DIRECT)
            return refuse("only direct access is offered");
        return registerHandle(std::make_shared<HandleObject>(HandleKind::Internet));
    });
}

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                           LPCWSTR userName, LPCWSTR password, DWORD service, DWORD, DWORD_PTR)
{
    return guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        if (auto open = findHandle(internet, HandleKind::Internet); !open) {
            reportFailure(open.failure());
            return nullptr;
        }
        if (service != INTERNET_SERVICE_FTP)
            return refuse("only FTP is offered");
        Credentials credentials;
        const auto name = commandText(serverName);
        const auto server = name ? text::parseServerArgument(*name) : std::nullopt;
        auto user = userName ? commandText(userName) : std::string("anonymous");
        auto pass = password ? commandText(password) : std::string();
        if (!server || server->host.empty() || !user || !pass)
            return refuse("a server, user name or password the client cannot send");
        credentials.host = server->host;
        credentials.tls = server->tls;
        // A transcript, if asked for, and the device root, for this session.
        trace::setCurrent(trace::Transcript::fromEnvironment());
        readDeviceRoot();
        trace::line() << "log-in to " << credentials.host << " as " << trace::escape(*user)
                      << (credentials.tls ? ", explicit TLS required" : "");
        credentials.user = std::move(*user);
        credentials.password = std::move(*pass);
        credentials.port =
            serverPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_FTP_PORT : serverPort;
        auto connection = FtpConnection::logIn(credentials);
        if (!connection) {
            reportFailure(connection.failure());
            return nullptr;
        }
        return registerHandle(std::make_shared<ConnectionHandle>(std::move(*connection), internet));
    });
}

BOOL InternetCloseHandle(HINTERNET handle)
{
    return guarded<BOOL>(FALSE, [&]() -> BOOL {
        auto closed = unregisterHandleTree(handle);
        if (closed.empty()) {
            reportFailure(Failure{FailureKind::WrongHandle});
            return FALSE;
        }
        for (const auto& object : closed)
            object->close();
        return TRUE;
    });
}
