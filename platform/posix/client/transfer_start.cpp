#include "posix/client/transfer_start.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "common/transcript.h"

namespace quorvane::client {
namespace {

// After the data connection failed, the server's answer to the command is
// only waited for briefly; if it does not come, the control connection is
// dropped rather than left out of step.
constexpr auto kAfterFailureReplyTimeout = std::chrono::seconds(5);
// How long a connected TLS data connection waits for the 1xx before it
// handshakes anyway, for a server that answers only after the handshake.
constexpr auto kHandshakeGrace = std::chrono::milliseconds(250);

int millisecondsUntil(Deadline deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 1 << 30));
}

Failure dataConnectionFailure(const Failure& failure, const PeerAddress& address)
{
    Failure named = failure;
    named.cause = (failure.kind == FailureKind::TimedOut ? "no data connection (deadline) to "
                                                         : "cannot open the data connection to ") +
                  addressText(address);
    return named;
}

// The data connection, from its connect to the end of its handshake.
class DataConnection {
public:
    DataConnection(FileDescriptor socket, const PeerAddress& address,
                   const DataProtection* protection)
        : channel_(std::move(socket)), address_(address), protection_(protection),
          deadline_(deadlineIn(kConnectTimeout))
    {
    }

    bool ready() const { return state_ == State::Ready; }
    bool connecting() const { return state_ == State::Connecting; }
    // Connected, and waits for the server's 1xx before its handshake.
    bool awaitsReply() const { return state_ == State::Connected; }
    Deadline deadline() const { return deadline_; }
    // Until when it waits for the 1xx before it handshakes all the same.
    Deadline graceEnds() const { return graceEnds_; }
    pollfd pollEntry() const
    {
        return {channel_.fd(), static_cast<short>(state_ == State::Connecting ? POLLOUT : POLLIN),
                0};
    }

    // Takes the next step once the socket is ready for it. The handshake
    // starts once the server has `replied` to the command, or the grace is
    // over, or the session has learnt that this server waits for it.
    Outcome<> advance(bool replied)
    {
        if (state_ == State::Connecting) {
            if (auto connected = completeConnect(channel_.fd(), address_); !connected) {
                if (connected.failure().kind == FailureKind::ConnectionLost)
                    return std::move(connected).failure();
                return dataConnectionFailure(connected.failure(), address_);
            }
            trace::line() << "data connection to " << addressText(address_);
            if (!protection_) {
                state_ = State::Ready;
                return {};
            }
            state_ = State::Connected;
            graceEnds_ =
                protection_->handshakeBeforeReply ? Clock::now() : deadlineIn(kHandshakeGrace);
        }
        if (state_ == State::Connected) {
            if (!replied && Clock::now() < graceEnds_)
                return {};
            handshakeUnasked_ = !replied;
            const IoStatus begun = channel_.beginTls(protection_->context, protection_->host,
                                                     protection_->session, true);
            if (begun != IoStatus::Ok)
                return handshakeFailure(channel_, begun, true);
            state_ = State::Handshaking;
            deadline_ = deadlineIn(kConnectTimeout);
            timer_ = Timer::until(deadline_);
        }
        // Under way: the first flight leaves at once, each later one once
        // the server's has come.
        const IoStatus status = channel_.continueTls(timer_);
        if (status == IoStatus::Ok) {
            traceHandshake(channel_, true);
            state_ = State::Ready;
            if (handshakeUnasked_ && !replied && !protection_->handshakeBeforeReply) {
                trace::line() << "the server answers only after the data connection's "
                                 "handshake: handshaking at once from now on";
                protection_->handshakeBeforeReply = true;
            }
        } else if (status != IoStatus::TimedOut) {
            return handshakeFailure(channel_, status, true);
        }
        return {};
    }

    // The deadline passed before it was ready.
    Failure timedOut() const
    {
        if (state_ == State::Connecting)
            return dataConnectionFailure(Failure(FailureKind::TimedOut), address_);
        return handshakeFailure(channel_, IoStatus::TimedOut, true);
    }

    Channel take() { return std::move(channel_); }

private:
    enum class State { Connecting, Connected, Handshaking, Ready };

    Channel channel_;
    PeerAddress address_;
    const DataProtection* protection_;
    State state_ = State::Connecting;
    Deadline graceEnds_{};
    bool handshakeUnasked_ = false;  // begun before any 1xx
    Deadline deadline_;
    Timer timer_ = Timer::until(Clock::now());
};

// After the data connection failed: the server's word on the command, so
// that the control connection stays in step. A refusal is the better cause.
Failure afterDataFailure(ControlConnection& control, std::optional<Reply> preliminary,
                         Failure failure)
{
    if (!preliminary) {
        auto reply = control.readReply(kAfterFailureReplyTimeout);
        if (!reply)
            return failure;
        if (!reply->isPreliminary())
            return refusal(*reply);
    }
    if (!control.readReply(kAfterFailureReplyTimeout))
        trace::line() << "no word on the failed transfer: the connection is dropped";
    return failure;
}

}  // namespace

Outcome<StartedTransfer> startPassiveTransfer(ControlConnection& control, const PeerAddress& data,
                                              std::string_view command,
                                              const DataProtection* protection, bool& unreachable)
{
    unreachable = false;
    auto socket = startConnect(data);
    if (!socket) {
        unreachable = true;
        return dataConnectionFailure(socket.failure(), data);
    }
    DataConnection connection(std::move(*socket), data, protection);
    if (auto sent = control.send(command); !sent)
        return std::move(sent).failure();

    const Deadline replyDeadline = control.cappedDeadlineIn(kReplyTimeout);
    std::optional<Reply> preliminary;
    for (;;) {
        if (!preliminary) {
            auto reply = control.replyIfArrived();
            if (!reply)
                return std::move(reply).failure();
            if (*reply && !(*reply)->isPreliminary())
                return refusal(**reply);  // the data connection closes unused
            if (*reply)
                preliminary = std::move(**reply);
        }
        if (connection.awaitsReply() && (preliminary || Clock::now() >= connection.graceEnds())) {
            if (auto begun = connection.advance(preliminary.has_value()); !begun)
                return afterDataFailure(control, std::move(preliminary),
                                        std::move(begun).failure());
        }
        if (preliminary && connection.ready())
            return StartedTransfer{connection.take(), std::move(*preliminary)};

        pollfd entries[2];
        nfds_t count = 0;
        Deadline until = Deadline::max();
        if (!preliminary) {
            entries[count++] = {control.socket(), POLLIN, 0};
            until = replyDeadline;
        }
        const nfds_t dataEntry = count;
        const bool watchesData = !connection.ready() && !connection.awaitsReply();
        if (watchesData) {
            entries[count++] = connection.pollEntry();
            until = std::min(until, connection.deadline());
        } else if (connection.awaitsReply()) {
            until = std::min(until, connection.graceEnds());
        }
        const int ready = ::poll(entries, count, millisecondsUntil(until));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return afterDataFailure(control, std::move(preliminary),
                                    Failure(FailureKind::Internal, "poll failed"));
        if (ready == 0 && connection.awaitsReply() && Clock::now() >= connection.graceEnds())
            continue;  // no 1xx yet: the handshake goes first
        if (ready == 0 && Clock::now() >= until) {
            if (!preliminary && Clock::now() >= replyDeadline) {
                // The last look, which drops the connection if nothing came.
                auto late = control.readReply(Clock::duration::zero());
                if (!late)
                    return std::move(late).failure();
                if (!late->isPreliminary())
                    return refusal(*late);
                preliminary = std::move(*late);
                continue;
            }
            unreachable = connection.connecting();
            return afterDataFailure(control, std::move(preliminary), connection.timedOut());
        }
        if (watchesData && entries[dataEntry].revents != 0) {
            const bool wasConnecting = connection.connecting();
            if (auto advanced = connection.advance(preliminary.has_value()); !advanced) {
                unreachable =
                    wasConnecting && advanced.failure().kind != FailureKind::ConnectionLost;
                return afterDataFailure(control, std::move(preliminary),
                                        std::move(advanced).failure());
            }
        }
    }
}

}  // namespace quorvane::client
