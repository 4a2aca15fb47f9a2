// The WinINet entry points for the Internet client and its connections.
// Nothing here lets an exception escape to the caller.
#include <string>

#include "entry_point.h"
#include "ftp_connection.h"
#include "handles.h"
#include "server_argument.h"
#include "transcript.h"

using namespace quorvane::client;
namespace text = quorvane::text;
namespace trace = quorvane::trace;

HINTERNET InternetOpenW(LPCWSTR, DWORD accessType, LPCWSTR, LPCWSTR, DWORD)
{
    return guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        // Only direct access exists here: there is no proxy support to offer.
        if (accessType != INTERNET_OPEN_TYPE_DIRECT) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return registerHandle(std::make_shared<HandleObject>(HandleKind::Internet));
    });
}

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR serverName, INTERNET_PORT serverPort,
                           LPCWSTR userName, LPCWSTR password, DWORD service, DWORD,
                           DWORD_PTR)
{
    return guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        if (!findHandle(internet, HandleKind::Internet))
            return nullptr;
        if (service != INTERNET_SERVICE_FTP) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        Credentials credentials;
        const auto name = commandText(serverName);
        const auto server = name ? text::parseServerArgument(*name) : std::nullopt;
        auto user = userName ? commandText(userName) : std::string("anonymous");
        auto pass = password ? commandText(password) : std::string();
        if (!server || server->host.empty() || !user || !pass) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        credentials.host = server->host;
        credentials.tls = server->tls;
        // A transcript, if asked for, for this session.
        trace::setCurrent(trace::Transcript::fromEnvironment());
        trace::line() << "log-in to " << credentials.host << " as " << trace::escape(*user)
                      << (credentials.tls ? ", explicit TLS required" : "");
        credentials.user = std::move(*user);
        credentials.password = std::move(*pass);
        credentials.port = serverPort == INTERNET_INVALID_PORT_NUMBER
                               ? INTERNET_DEFAULT_FTP_PORT
                               : serverPort;
        auto connection = FtpConnection::logIn(credentials, internet);
        if (!connection)
            return nullptr;
        return registerHandle(std::move(connection));
    });
}

BOOL InternetCloseHandle(HINTERNET handle)
{
    return guarded<BOOL>(FALSE, [&]() -> BOOL {
        auto closed = unregisterHandleTree(handle);
        if (closed.empty()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        for (const auto& object : closed)
            object->close();
        return TRUE;
    });
}
