// SPDX-License-Identifier: MIT
// One FTP control connection: sends command lines and reads their replies,
// never waiting past the client's fixed time limits.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/net/channel.h"
#include "posix/net/failure.h"
#include "posix/wire/reply_reader.h"

namespace quorvane::client {

inline constexpr auto kConnectTimeout = std::chrono::seconds(30);
// For a whole reply, however many lines it has and however they trickle in.
inline constexpr auto kReplyTimeout = std::chrono::seconds(60);
// For a whole log-in or reconnection: connecting, the greeting (with any
// "120 wait" lines before it) and every command up to the first real one.
inline constexpr auto kLogInTimeout = std::chrono::seconds(120);
// Log-out should not keep the host waiting on a server that reads nothing.
inline constexpr auto kQuitTimeout = std::chrono::seconds(2);
// Until a server has answered a queue, each reply behind the first must come
// this soon after the one before; later, it has the whole reply time. The
// queued replies of a log-in leave the server together, and the slow one
// (PASS, where servers pause a failed log-in for seconds) is the first.
inline constexpr auto kQueuedReplyPatience = std::chrono::seconds(5);

class ControlConnection {
public:
    // Connects and waits for the server's greeting, all before `deadline`,
    // which stays the connection's cap (see DeadlineCap). With `implicitTls`,
    // the TLS handshake comes first, and the greeting over it.
    static Outcome<std::unique_ptr<ControlConnection>>
    open(const std::string& host, std::uint16_t port, Deadline deadline,
         const TlsContext* implicitTls = nullptr);

    // Sends one command line and reads its reply. The command must not hold
    // control characters (checked: such a line is refused, nothing is sent).
    Outcome<Reply> execute(std::string_view command);

    // Sends several in one write and reads their replies in order: one round
    // trip for all. Only for commands that change nothing on the server, as
    // every server of the tests takes them (each reply is still read whole).
    // `check` sees the replies in order; the first failure it returns is
    // the outcome (queued, after every reply is read: see executeEach).
    // Where the server is known to lose queued commands or answer them out
    // of turn, each waits for the reply before it; a server that first
    // shows it here (a reply that cannot answer its command, or none within
    // kQueuedReplyPatience) is remembered and the connection dropped.
    using ReplyCheck = std::function<Outcome<>(std::size_t index, const Reply& reply)>;
    Outcome<> executeEach(const std::vector<std::string>& commands, const ReplyCheck& check);
    Outcome<std::vector<Reply>> executeAll(const std::vector<std::string>& commands);
    // Whether commands go queued on this connection.
    bool queues() const { return queueing_ != Queueing::Off; }

    // Reads the next reply, e.g. the completion after a preliminary one,
    // within `timeout` (and the cap, if one is set).
    Outcome<Reply> readReply(Clock::duration timeout = kReplyTimeout);

    // The two halves of execute(), for a caller that waits on more than this
    // connection: send a command, then take its reply once it has arrived
    // (none while it is on its way; nothing here waits). The socket is what
    // to wait on.
    Outcome<> send(std::string_view command) { return sendAll({std::string(command)}); }
    Outcome<std::optional<Reply>> replyIfArrived();
    int socket() const { return channel_.fd(); }

    // A deadline `timeout` from now, or the cap if that comes first.
    Deadline cappedDeadlineIn(Clock::duration timeout) const;

    // While set, no wait of this connection lasts past `cap`: a log-in is
    // bounded as a whole, not only step by step.
    void setDeadlineCap(std::optional<Deadline> cap) { cap_ = cap; }

    // Says goodbye (briefly waiting for the answer) and closes the socket.
    void quit();

    bool isAlive() const { return static_cast<bool>(channel_); }

    // Checked without waiting before a command is sent: false when the server
    // has gone (end of stream, a 421) or has said anything unasked, which
    // would leave every later reply answering the wrong command. The
    // connection is dropped then.
    bool isReadyForCommand();

    // After "234" to AUTH TLS: the TLS handshake, within the connect time
    // limit. Fails when the server sent anything after its 234 in the clear:
    // that could only be forged replies.
    Outcome<> startTls(const TlsContext& context, const std::string& host);
    // The control connection's TLS session, for the data connections to resume.
    TlsSession tlsSession() const { return channel_.tls() ? channel_.tls()->session() : nullptr; }

    // The server's address, where data connections go too.
    bool peerAddress(PeerAddress& peer) const { return channel_.peerAddress(peer); }

    explicit ControlConnection(Channel channel) : channel_(std::move(channel)) {}

private:
    Outcome<> sendAll(const std::vector<std::string>& commands);
    Outcome<> handshake(const TlsContext& context, const std::string& host);
    Outcome<Reply> readReplyBefore(Deadline deadline);
    // The replies to commands sent in one write, in order, while each can
    // answer its command; then the reply to one queued behind another.
    Outcome<> readQueuedReplies(const std::vector<std::string>& commands,
                                std::vector<Reply>& replies);
    Outcome<Reply> readQueuedReply();
    // The server mishandles queued commands: remembered, and this
    // connection, out of step, dropped.
    Failure loseQueueing(const std::string& why);
    // A whole reply from the bytes already read, if they hold one.
    Outcome<std::optional<Reply>> bufferedReply();
    // Closes the connection, which cannot be trusted after `failure`.
    Failure drop(Failure failure);

    Channel channel_;
    ReplyReader reader_;
    std::optional<Deadline> cap_;
    std::string server_;  // "host:port", what queued_commands.h remembers
    enum class Queueing { Untried, Proven, Off } queueing_ = Queueing::Untried;
};

// A reply that fails what was asked, with its first line as the cause.
Failure refusal(const Reply& reply, FailureKind kind = FailureKind::Refused);
// The same failure, where it is the server's answer to `command`, saying
// which command and name it refused ("RETR a.txt: 550 No such file").
Failure naming(Failure failure, std::string_view command);

// The transcript's line for a TLS handshake that succeeded.
void traceHandshake(const Channel& channel, bool dataConnection);

}  // namespace quorvane::client
