#include "posix/client/ftp_connection.h"

#include "common/transcript.h"
#include "posix/wire/pwd_reply.h"

#include <algorithm>

namespace quorvane::client {

Outcome<std::shared_ptr<FtpConnection>> FtpConnection::logIn(const Credentials& credentials)
{
    auto connection = std::make_shared<FtpConnection>(credentials);
    if (auto connected = connection->connect(deadlineIn(kLogInTimeout)); !connected)
        return std::move(connected).failure();
    return connection;
}

Outcome<> FtpConnection::simpleCommand(std::string_view verb, std::string_view argument,
                                       int expected)
{
    if (!life_.isLive())
        return Failure{FailureKind::ConnectionLost, "the control connection is closed"};
    std::string line(verb);
    line.append(" ").append(argument);
    auto reply = control().execute(line);
    if (!reply)
        return std::move(reply).failure();
    if (reply->code / 100 != expected)
        return naming(refusal(*reply), line);
    return {};
}

Outcome<> FtpConnection::ensureConnected(std::optional<Deadline> before)
{
    if (life_.state() == ConnectionLife::State::Listing)
        return Failure{FailureKind::Busy, "a listing is still in progress"};
    if (life_.state() == ConnectionLife::State::Closed)
        return Failure{FailureKind::ConnectionLost, "the session is closed"};
    if (life_.isReadyForCommand())
        return {};
    life_.drop();  // gone, or out of step: a fresh one
    trace::line() << "logging in again";
    const Deadline deadline = std::min(deadlineIn(kLogInTimeout), before.value_or(Deadline::max()));
    if (auto connected = connect(deadline); !connected)
        return connected;
    if (folder_.wasChanged()) {
        // Back to the caller's folder. Where that cannot be done (it is
        // unknown, or gone since), the session still serves absolute names.
        const DeadlineCap cap(life_, deadline);
        const auto& path = folder_.pathToRestore();
        auto restored = path ? simpleCommand("CWD", *path)
                             : Outcome<>(Failure{FailureKind::Refused, "the folder has no name"});
        folder_.reconnected(static_cast<bool>(restored));
        if (!life_.isLive()) {
            life_.drop();
            return restored;
        }
        if (folder_.isLost())
            trace::line()
                << "the folder is lost: relative names are refused until the next listing";
    }
    return {};
}

Outcome<> FtpConnection::readyFor(std::initializer_list<std::string_view> names)
{
    if (auto connected = ensureConnected(); !connected)
        return connected;
    for (const std::string_view name : names)
        if (!folder_.allows(name))
            return Failure{FailureKind::Refused,
                           "a relative name, while the folder it would resolve in is lost"};
    return {};
}

Outcome<> FtpConnection::changeDirectory(std::string_view path)
{
    std::lock_guard lock(mutex_);
    if (auto ready = readyFor({path}); !ready)
        return ready;
    if (auto changed = simpleCommand("CWD", path); !changed)
        return changed;
    if (RemoteFolder::isAbsolute(path)) {
        folder_.changed(path);
        return {};
    }
    // A relative name means nothing after a reconnection: ask where it led.
    auto pwd = control().execute("PWD");
    folder_.changed(path, pwd ? parsePwdReply(pwd->text) : std::nullopt);
    return {};
}

Outcome<> FtpConnection::deleteFile(std::string_view path)
{
    std::lock_guard lock(mutex_);
    if (auto ready = readyFor({path}); !ready)
        return ready;
    return simpleCommand("DELE", path);
}

Outcome<> FtpConnection::createDirectory(std::string_view path)
{
    std::lock_guard lock(mutex_);
    if (auto ready = readyFor({path}); !ready)
        return ready;
    return simpleCommand("MKD", path);
}

Outcome<> FtpConnection::removeDirectory(std::string_view path)
{
    std::lock_guard lock(mutex_);
    if (auto ready = readyFor({path}); !ready)
        return ready;
    return simpleCommand("RMD", path);
}

Outcome<> FtpConnection::rename(std::string_view from, std::string_view to)
{
    std::lock_guard lock(mutex_);
    if (auto ready = readyFor({from, to}); !ready)
        return ready;
    // RNTO only after the server has accepted RNFR with 350, on the same connection.
    if (auto accepted = simpleCommand("RNFR", from, 3); !accepted)
        return accepted;
    return simpleCommand("RNTO", to);
}

std::optional<std::string> FtpConnection::sourceOf(std::string_view remote)
{
    std::lock_guard lock(mutex_);
    std::string path(remote);
    if (!RemoteFolder::isAbsolute(remote)) {
        // Relative: under the folder made current, where it has a name.
        const auto& folder = folder_.pathToRestore();
        if (folder_.wasChanged() && !folder)
            return std::nullopt;
        path = folder ? *folder + "/" + path : "~/" + path;
    }
    return credentials_.host + ":" + std::to_string(credentials_.port) + " " + credentials_.user +
           " " + path;
}

void FtpConnection::close()
{
    std::lock_guard lock(mutex_);
    life_.close();
}

}  // namespace quorvane::client
