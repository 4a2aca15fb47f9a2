#include "control_connection.h"

#include <algorithm>
#include <array>

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
    auto connection = std::make_unique<ControlConnection>(Channel(std::move(socket)));
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
    channel_.close();
    SetLastError(error);
}

DWORD errorForTls(const TlsStream* stream)
{
    switch (stream ? stream->failure() : TlsFailure::Protocol) {
    case TlsFailure::Untrusted: return ERROR_INTERNET_INVALID_CA;
    case TlsFailure::Expired: return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case TlsFailure::WrongName: return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    default: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    }
}

bool ControlConnection::startTls(const TlsContext& context, const std::string& host)
{
    if (reader_.hasBufferedBytes()) {
        drop(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        return false;
    }
    Timer timer = Timer::until(deadlineIn(kConnectTimeout));
    switch (channel_.startTls(context, host, nullptr, false, timer)) {
    case IoStatus::Ok: return true;
    case IoStatus::TimedOut: drop(ERROR_INTERNET_TIMEOUT); return false;
    default: drop(errorForTls(channel_.tls())); return false;
    }
}

bool ControlConnection::send(std::string_view command)
{
    if (!channel_) {
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
    Timer timer = Timer::until(deadlineIn(kReplyTimeout));
    switch (channel_.send(line, timer)) {
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
    if (!channel_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return std::nullopt;
    }
    std::array<char, 4096> chunk;
    Reply reply;
    Timer timer = Timer::until(deadline);
    for (;;) {
        switch (reader_.next(reply)) {
        case ReplyReader::Status::Ready:
            if (reply.code == kServiceClosing)
                channel_.close();
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
        const IoStatus status = timer.expired()
                                    ? IoStatus::TimedOut
                                    : channel_.receive(chunk.data(), chunk.size(), received, timer);
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
    if (!channel_)
        return false;
    if (reader_.hasBufferedBytes()) {
        channel_.close();
        return false;
    }
    // A look without waiting. Nothing to read is the usual case; a TLS
    // ticket or key update is read and is no reply.
    std::array<char, 512> chunk;
    std::size_t received = 0;
    Timer now = Timer::until(Clock::now());
    if (channel_.receive(chunk.data(), chunk.size(), received, now) == IoStatus::TimedOut)
        return true;
    // Something arrived unasked: an idle time-out's 421, the end of the
    // stream, or a stray reply. Either way this connection is done.
    channel_.close();
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
    if (channel_ && send("QUIT"))
        readReply(kQuitTimeout);
    channel_.close();
}

}  // namespace quorvane::client
