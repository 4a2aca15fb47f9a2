#include "control_connection.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "utf.h"

namespace quorvane::client {
namespace {

// A 421 may come as the answer to any command: the server is closing.
constexpr int kServiceClosing = 421;

DWORD errorFor(ConnectError error)
{
    switch (error) {
    case ConnectError::NotResolved: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case ConnectError::TimedOut: return ERROR_INTERNET_TIMEOUT;
    default: return ERROR_INTERNET_CANNOT_CONNECT;
    }
}

}  // namespace

std::unique_ptr<ControlConnection> ControlConnection::open(const std::string& host,
                                                           std::uint16_t port, Deadline deadline)
{
    ConnectError connectError = ConnectError::None;
    FileDescriptor socket = connectTcp(
        host, port, std::min(deadline, client::deadlineIn(kConnectTimeout)), connectError);
    if (!socket) {
        SetLastError(errorFor(connectError));
        return nullptr;
    }
    auto connection = std::make_unique<ControlConnection>(std::move(socket));
    connection->setDeadlineCap(deadline);

    // "120 ready in n minutes" only delays the real greeting; both fall within
    // one reply wait, however many 120s come and however fast.
    const Deadline greetingDeadline = connection->deadlineIn(kReplyTimeout);
    for (;;) {
        const auto greeting = connection->readReplyBefore(greetingDeadline);
        if (!greeting)
            return nullptr;
        if (greeting->code == 220)
            return connection;
        if (greeting->code != 120) {
            SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
            return nullptr;
        }
    }
}

Deadline ControlConnection::deadlineIn(Clock::duration timeout) const
{
    const Deadline deadline = client::deadlineIn(timeout);
    return cap_ ? std::min(deadline, *cap_) : deadline;
}

void ControlConnection::drop(DWORD error)
{
    socket_.reset();
    SetLastError(error);
}

bool ControlConnection::send(std::string_view command)
{
    if (!socket_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    if (text::hasControlCharacter(command)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string line;
    line.reserve(command.size() + 2);
    line.append(command).append("\r\n");
    switch (sendAll(socket_.get(), line, deadlineIn(kReplyTimeout))) {
    case IoStatus::Ok: return true;
    case IoStatus::TimedOut: drop(ERROR_INTERNET_TIMEOUT); return false;
    default: drop(ERROR_INTERNET_CONNECTION_ABORTED); return false;
    }
}

std::optional<Reply> ControlConnection::readReply(Clock::duration timeout)
{
    return readReplyBefore(deadlineIn(timeout));
}

std::optional<Reply> ControlConnection::readReplyBefore(Deadline deadline)
{
    if (!socket_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return std::nullopt;
    }
    std::array<char, 4096> chunk;
    Reply reply;
    for (;;) {
        switch (reader_.next(reply)) {
        case ReplyReader::Status::Ready:
            if (reply.code == kServiceClosing)
                socket_.reset();
            return reply;
        case ReplyReader::Status::NeedMore:
            break;
        default:
            // Nothing after a malformed or oversized reply can be trusted.
            drop(ERROR_INTERNET_EXTENDED_ERROR);
            return std::nullopt;
        }
        // A server that keeps sending never lets a read wait, so the clock is
        // checked here too, not only while waiting.
        std::size_t received = 0;
        const IoStatus status = Clock::now() >= deadline
                                    ? IoStatus::TimedOut
                                    : receiveSome(socket_.get(), chunk.data(), chunk.size(),
                                                  deadline, received);
        switch (status) {
        case IoStatus::Ok:
            reader_.feed(std::string_view(chunk.data(), received));
            break;
        case IoStatus::TimedOut:
            // A late reply would answer the wrong command later on.
            drop(ERROR_INTERNET_TIMEOUT);
            return std::nullopt;
        default:
            drop(ERROR_INTERNET_CONNECTION_ABORTED);
            return std::nullopt;
        }
    }
}

bool ControlConnection::isReadyForCommand()
{
    if (!socket_)
        return false;
    if (reader_.hasBufferedBytes()) {
        socket_.reset();
        return false;
    }
    pollfd entry{socket_.get(), POLLIN, 0};
    int ready;
    // A signal is not the server going away.
    while ((ready = ::poll(&entry, 1, 0)) < 0 && errno == EINTR) {
    }
    if (ready == 0)
        return true;  // nothing to read: the usual case
    // Something arrived unasked: an idle time-out's 421, the end of the
    // stream, or a stray reply. Either way this connection is done.
    socket_.reset();
    return false;
}

std::optional<Reply> ControlConnection::execute(std::string_view command)
{
    if (!send(command))
        return std::nullopt;
    return readReply();
}

void ControlConnection::quit()
{
    if (socket_ && send("QUIT"))
        readReply(kQuitTimeout);
    socket_.reset();
}

}  // namespace quorvane::client
