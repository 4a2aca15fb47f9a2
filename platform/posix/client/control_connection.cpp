#include "posix/client/control_connection.h"

#include <algorithm>
#include <array>

#include "common/transcript.h"
#include "common/utf.h"
#include "posix/client/queued_commands.h"
#include "posix/wire/reply_fit.h"

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

}  // namespace

Outcome<std::unique_ptr<ControlConnection>> ControlConnection::open(const std::string& host,
                                                                    std::uint16_t port,
                                                                    Deadline deadline,
                                                                    const TlsContext* implicitTls)
{
    const auto started = Clock::now();
    auto socket = connectTcp(host, port, std::min(deadline, deadlineIn(kConnectTimeout)));
    const std::chrono::duration<double> took = Clock::now() - started;
    if (!socket) {
        Failure failure = std::move(socket).failure();
        char after[48];
        std::snprintf(after, sizeof after, " (after %.6f s)", took.count());
        failure.cause.append(after);
        return failure;
    }
    if (auto line = trace::line()) {
        PeerAddress peer;
        line << "connected to " << host << " at "
             << (peerAddressOf(socket->get(), peer) ? addressText(peer) : "?") << " in " << took;
    }
    auto connection = std::make_unique<ControlConnection>(Channel(std::move(*socket)));
    connection->setDeadlineCap(deadline);
    connection->server_ = serverKey(host, port);
    if (!takesQueuedCommands(connection->server_)) {
        connection->queueing_ = Queueing::Off;
        trace::line() << "one command at a time: this server mishandled queued ones";
    }
    if (implicitTls) {
        if (auto secured = connection->handshake(*implicitTls, host); !secured)
            return std::move(secured).failure();
    }

    // "120 ready in n minutes" only delays the real greeting; both fall within
    // one reply wait, however many 120s come and however fast.
    const Deadline greetingDeadline = connection->cappedDeadlineIn(kReplyTimeout);
    for (;;) {
        auto greeting = connection->readReplyBefore(greetingDeadline);
        if (!greeting)
            return std::move(greeting).failure();
        if (greeting->code == 220)
            return connection;
        if (greeting->code != 120) {
            Failure refused = refusal(*greeting, FailureKind::CannotConnect);
            refused.cause.insert(0, "the server refused the session: ");
            return refused;
        }
    }
}

Deadline ControlConnection::cappedDeadlineIn(Clock::duration timeout) const
{
    const Deadline deadline = deadlineIn(timeout);
    return cap_ ? std::min(deadline, *cap_) : deadline;
}

Failure ControlConnection::drop(Failure failure)
{
    channel_.close();
    return failure;
}

Failure refusal(const Reply& reply, FailureKind kind)
{
    Failure failure{kind, firstLine(reply)};
    failure.replyCode = reply.code;
    return failure;
}

Failure naming(Failure failure, std::string_view command)
{
    if (failure.replyCode != 0)
        failure.cause.insert(0, trace::escape(command) + ": ");
    return failure;
}

void traceHandshake(const Channel& channel, bool dataConnection)
{
    trace::line() << (dataConnection ? "data " : "") << "TLS " << channel.tls()->description();
}

Outcome<> ControlConnection::startTls(const TlsContext& context, const std::string& host)
{
    if (reader_.hasBufferedBytes())
        return drop(
            tlsFailure(TlsFailure::Protocol, "the server sent more after 234, in the clear"));
    return handshake(context, host);
}

Outcome<> ControlConnection::handshake(const TlsContext& context, const std::string& host)
{
    Timer timer = Timer::until(cappedDeadlineIn(kConnectTimeout));
    if (auto protectedChannel = handshakeTls(channel_, context, host, nullptr, false, timer);
        !protectedChannel)
        return drop(std::move(protectedChannel).failure());
    traceHandshake(channel_, false);
    return {};
}

Outcome<> ControlConnection::sendAll(const std::vector<std::string>& commands)
{
    if (!channel_)
        return Failure{FailureKind::ConnectionLost, "the control connection is closed"};
    std::string lines;
    for (const std::string& command : commands) {
        if (text::hasControlCharacter(command))
            return Failure{FailureKind::InvalidArgument, "a command with a control character"};
        lines.append(command).append("\r\n");
    }
    for (const std::string_view command : commands) {
        // The password never: not even its length.
        if (auto echo = trace::line())
            echo << "-> "
                 << (command.substr(0, 5) == "PASS " ? "PASS ****" : trace::escape(command))
                 << (commands.size() > 1 ? " (queued)" : "");
    }
    Timer timer = Timer::until(cappedDeadlineIn(kReplyTimeout));
    const IoResult sent = channel_.send(lines, timer);
    if (sent != IoStatus::Ok)
        return drop(failureOf(sent, "the command could not be sent before the deadline",
                              "the connection broke while sending"));
    return {};
}

Outcome<Reply> ControlConnection::readReply(Clock::duration timeout)
{
    return readReplyBefore(cappedDeadlineIn(timeout));
}

Outcome<std::optional<Reply>> ControlConnection::bufferedReply()
{
    Reply reply;
    switch (reader_.next(reply)) {
    case ReplyReader::Status::Ready:
        traceReply(reply);
        if (reply.code == kServiceClosing) {
            trace::line() << "the server closes the connection (421)";
            channel_.close();
        }
        return std::optional<Reply>(std::move(reply));
    case ReplyReader::Status::NeedMore: return std::optional<Reply>();
    default:
        // Nothing after a malformed or oversized reply can be trusted.
        return drop(
            Failure(FailureKind::Refused, "a malformed reply (no code, a NUL byte, or too long)"));
    }
}

Outcome<Reply> ControlConnection::readReplyBefore(Deadline deadline)
{
    if (!channel_)
        return Failure(FailureKind::ConnectionLost, "the control connection is closed");
    std::array<char, 4096> chunk;
    Timer timer = Timer::until(deadline);
    for (;;) {
        auto buffered = bufferedReply();
        if (!buffered)
            return std::move(buffered).failure();
        if (*buffered)
            return std::move(**buffered);
        // A server that keeps sending never lets a read wait, so the clock is
        // checked here too, not only while waiting.
        // A reply is never there the moment its command left: wait, then
        // read, rather than try a read that would only say "not yet".
        std::size_t received = 0;
        IoResult status = timer.expired() ? IoStatus::TimedOut : channel_.awaitInput(timer);
        if (status == IoStatus::Ok)
            status = channel_.receive(chunk.data(), chunk.size(), received, timer);
        if (status != IoStatus::Ok)
            // A late reply would answer the wrong command later on.
            return drop(failureOf(status, "no reply before the deadline",
                                  "the server closed the connection"));
        reader_.feed(std::string_view(chunk.data(), received));
    }
}

Outcome<std::optional<Reply>> ControlConnection::replyIfArrived()
{
    if (!channel_)
        return Failure(FailureKind::ConnectionLost, "the control connection is closed");
    std::array<char, 4096> chunk;
    for (;;) {
        auto buffered = bufferedReply();
        if (!buffered || *buffered)
            return buffered;
        std::size_t received = 0;
        Timer now = Timer::until(Clock::now());
        const IoResult status = channel_.receive(chunk.data(), chunk.size(), received, now);
        if (status == IoStatus::TimedOut)
            return std::optional<Reply>();
        if (status != IoStatus::Ok)
            return drop(failureOf(status, "no reply before the deadline",
                                  "the server closed the connection"));
        reader_.feed(std::string_view(chunk.data(), received));
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
    const IoResult status = channel_.receive(chunk.data(), chunk.size(), received, now);
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

Outcome<Reply> ControlConnection::execute(std::string_view command)
{
    if (auto sent = send(command); !sent)
        return std::move(sent).failure();
    return readReply();
}

Outcome<> ControlConnection::executeEach(const std::vector<std::string>& commands,
                                         const ReplyCheck& check)
{
    if (!queues() || commands.size() < 2) {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            auto reply = execute(commands[i]);
            if (!reply)
                return std::move(reply).failure();
            if (auto checked = check(i, *reply); !checked)
                return checked;
        }
        return {};
    }
    if (auto sent = sendAll(commands); !sent)
        return sent;
    // Every reply is read before any is judged: a server that answers out
    // of turn must show it before a reply in the wrong place is taken for a
    // refusal. A refusal already read still says why reading stopped (a
    // server may close after a refused password).
    std::vector<Reply> replies;
    const Outcome<> read = readQueuedReplies(commands, replies);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        if (auto checked = check(i, replies[i]); !checked)
            return checked;
    }
    return read;
}

Outcome<> ControlConnection::readQueuedReplies(const std::vector<std::string>& commands,
                                               std::vector<Reply>& replies)
{
    for (const std::string& command : commands) {
        auto reply = replies.empty() ? readReply() : readQueuedReply();
        if (!reply)
            return std::move(reply).failure();
        if (!canAnswer(command, reply->code))
            return loseQueueing("the server answered queued commands out of turn");
        replies.push_back(std::move(*reply));
    }
    if (queueing_ == Queueing::Untried)
        queueing_ = Queueing::Proven;
    return {};
}

Outcome<Reply> ControlConnection::readQueuedReply()
{
    if (queueing_ == Queueing::Proven)
        return readReply();
    const Deadline patience = cappedDeadlineIn(kQueuedReplyPatience);
    auto reply = readReplyBefore(patience);
    // Only the patience running out says something of the server; the cap
    // running out says the whole call took too long.
    if (reply || reply.failure().kind != FailureKind::TimedOut || (cap_ && patience >= *cap_))
        return reply;
    return loseQueueing("the server lost commands sent queued");
}

Failure ControlConnection::loseQueueing(const std::string& why)
{
    queueing_ = Queueing::Off;
    rememberLosesQueuedCommands(server_);
    trace::line() << why << ": one command at a time from now on";
    return drop(Failure(FailureKind::ConnectionLost, why));
}

Outcome<std::vector<Reply>> ControlConnection::executeAll(const std::vector<std::string>& commands)
{
    std::vector<Reply> replies;
    auto all = executeEach(commands, [&replies](std::size_t, const Reply& reply) {
        replies.push_back(reply);
        return Outcome<>();
    });
    if (!all)
        return std::move(all).failure();
    return replies;
}

void ControlConnection::quit()
{
    // The goodbye tells the caller nothing: waiting for it would cost a round
    // trip on every log-out. The server reads QUIT before our end.
    if (channel_ && send("QUIT")) {
        Timer timer = Timer::until(cappedDeadlineIn(kQuitTimeout));
        channel_.closeWithoutWaiting(timer);
    }
    channel_.close();
}

}  // namespace quorvane::client
