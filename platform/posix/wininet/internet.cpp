// SPDX-License-Identifier: MIT
// The WinINet entry points for the Internet client and its connections.
// Nothing here lets an exception escape to the caller.
#include <optional>
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

HINTERNET refuse(const std::string& cause)
{
    reportFailure(Failure(FailureKind::InvalidArgument, cause));
    return nullptr;
}

// Why a server argument was refused, naming it without any user
// information: transcripts are made to be attached to bug reports.
std::string refusedServer(const std::optional<std::string>& name)
{
    if (!name)
        return "the server argument holds a control character or is not UTF-16";
    std::string cause = "the server \"" + trace::escape(text::withoutUserInformation(*name)) +
                        "\" is none the client takes: HOST, HOST:PORT, ftp://HOST[:PORT], "
                        "ftpes://HOST[:PORT] or ftps://HOST[:PORT]";
    if (name->find('@') != std::string::npos)
        cause += " (the user name and password go in the log-in's other arguments)";
    return cause;
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
        // A transcript, if asked for, and the device root, for this session:
        // before anything can fail, so that a refused argument is in it too.
        trace::setCurrent(trace::Transcript::fromEnvironment());
        readDeviceRoot();
        if (service != INTERNET_SERVICE_FTP)
            return refuse("only FTP is offered");
        const auto name = commandText(serverName);
        const auto server = name ? text::parseServerArgument(*name) : std::nullopt;
        if (!server || server->host.empty())
            return refuse(refusedServer(name));
        auto user = userName ? commandText(userName) : std::string("anonymous");
        if (!user)
            return refuse("the user name holds a control character or is not UTF-16");
        auto pass = password ? commandText(password) : std::string();
        if (!pass)
            return refuse("the password holds a control character or is not UTF-16");
        Credentials credentials;
        credentials.host = server->host;
        credentials.security = server->security;
        // The port the argument names (or its scheme's), else the one asked for.
        credentials.port = server->port.value_or(
            serverPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_FTP_PORT : serverPort);
        static constexpr const char* kSecurity[] = {"", ", explicit TLS required",
                                                    ", implicit TLS"};
        trace::line() << "log-in to " << credentials.host << " port " << int{credentials.port}
                      << " as " << trace::escape(*user)
                      << kSecurity[static_cast<int>(credentials.security)];
        credentials.user = std::move(*user);
        credentials.password = std::move(*pass);
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
