#include "control_connection.h"

#include <algorithm>
#include <array>

#include "transcript.h"
#include "utf.h"

namespace quorvane::client {
namespace {

// A 421 may come as the answer to any command: the server is closing.
constexpr int kServiceClosing = 421;

// A reply's first line, for saying why, escaped.
std::string firstLine(const Reply& reply)
{
    return trace::escape(std::string_view(reply.text).substr(0, reply.text.find('\n')));
}

void traceReply(const Reply& reply)
{
    std::string_view lines = reply.text;
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        trace::line() << "<- " << trace::escape(lines.substr(0, end));
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
    }
}

const char* describe(ConnectError error)
{
    switch (error) {
    case ConnectError::NotResolved: return "cannot resolve";
    case ConnectError::TimedOut: return "no connection (deadline) to";
    default: return "cannot connect to";
    }
}

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
    const auto started = Clock::now();
    FileDescriptor socket = connectTcp(
        host, port, std::min(deadline, client::deadlineIn(kConnectTimeout)), connectError);
    const std::chrono::duration<double> took = Clock::now() - started;
    if (!socket) {
        trace::line() << "cause: " << describe(connectError) << " " << host << " port "
                      << int{port} << " (after " << took << ")";
        SetLastError(errorFor(connectError));
        return nullptr;
    }
    if (auto line = trace::line()) {
        PeerAddress peer;
        line << "connected to " << host << " at "
             << (peerAddressOf(socket.get(), peer) ? addressText(peer) : "?") << " in " << took;
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
            trace::line() << "cause: the server refused the session: " << firstLine(*greeting);
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

void traceRefusal(const Reply& reply) { trace::line() << "cause: " << firstLine(reply); }

DWORD handshakeTls(Channel& channel, const TlsContext& context, const std::string& host,
                   const TlsSession& resume, bool dataConnection, Timer& timer)
{
    const char* label = dataConnection ? "data " : "";
    const char* where = dataConnection ? " on the data connection" : "";
    switch (channel.startTls(context, host, resume, dataConnection, timer)) {
    case IoStatus::Ok:
        trace::line() << label << "TLS " << channel.tls()->description();
        return 0;
    case IoStatus::TimedOut:
        trace::line() << "cause: no TLS handshake" << where << " before the deadline";
        return ERROR_INTERNET_TIMEOUT;
    default:
        trace::line() << "cause: TLS handshake" << where
                      << " failed: " << channel.tls()->failureText();
        switch (channel.tls()->failure()) {
        case TlsFailure::Untrusted: return ERROR_INTERNET_INVALID_CA;
        case TlsFailure::Expired: return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
        case TlsFailure::WrongName: return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        default: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
        }
    }
}

bool ControlConnection::startTls(const TlsContext& context, const std::string& host)
{
    if (reader_.hasBufferedBytes()) {
        trace::line() << "cause: the server sent more after 234, in the clear";
        drop(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        return false;
    }
    Timer timer = Timer::until(deadlineIn(kConnectTimeout));
    if (const DWORD error = handshakeTls(channel_, context, host, nullptr, false, timer)) {
        drop(error);
        return false;
    }
    return true;
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
    // The password never: not even its length.
    trace::line() << "-> " << (command.substr(0, 5) == "PASS " ? "PASS ****" : command);
    Timer timer = Timer::until(deadlineIn(kReplyTimeout));
    switch (channel_.send(line, timer)) {
    case IoStatus::Ok: return true;
    case IoStatus::TimedOut:
        trace::line() << "cause: the command could not be sent before the deadline";
        drop(ERROR_INTERNET_TIMEOUT);
        return false;
    default:
        trace::line() << "cause: the connection broke while sending";
        drop(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
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
            traceReply(reply);
            if (reply.code == kServiceClosing) {
                trace::line() << "the server closes the connection (421)";
                channel_.close();
            }
            return reply;
        case ReplyReader::Status::NeedMore:
            break;
        default:
            // Nothing after a malformed or oversized reply can be trusted.
            trace::line() << "cause: a malformed reply (no code, a NUL byte, or too long)";
            drop(ERROR_INTERNET_EXTENDED_ERROR);
            return std::nullopt;
        }
        // A server that keeps sending never lets a read wait, so the clock is
        // checked here too, not only while waiting.
        // A reply is never there the moment its command left: wait, then
        // read, rather than try a read that would only say "not yet".
        std::size_t received = 0;
        IoStatus status = timer.expired() ? IoStatus::TimedOut : channel_.awaitInput(timer);
        if (status == IoStatus::Ok)
            status = channel_.receive(chunk.data(), chunk.size(), received, timer);
        switch (status) {
        case IoStatus::Ok:
            reader_.feed(std::string_view(chunk.data(), received));
            break;
        case IoStatus::TimedOut:
            // A late reply would answer the wrong command later on.
            trace::line() << "cause: no reply before the deadline";
            drop(ERROR_INTERNET_TIMEOUT);
            return std::nullopt;
        default:
            trace::line() << "cause: the server closed the connection";
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
    Timer now = Timer::until(Clock::now());
    if (channel_.awaitInput(now) == IoStatus::TimedOut)
        return true;
    std::array<char, 512> chunk;
    std::size_t received = 0;
    const IoStatus status = channel_.receive(chunk.data(), chunk.size(), received, now);
    if (status == IoStatus::TimedOut)
        return true;
    // Something arrived unasked: an idle time-out's 421, the end of the
    // stream, or a stray reply. Either way this connection is done.
    if (auto line = trace::line()) {
        line << "the connection is gone: ";
        if (received > 0)
            line << "the server said " << trace::escape(std::string_view(chunk.data(), received));
        else
            line << "the server closed it";
    }
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
