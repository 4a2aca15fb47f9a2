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
    // No wait lasts past `cap` (the control connection's).
    DataConnection(FileDescriptor socket, const PeerAddress& address,
                   const DataProtection* protection, Deadline cap)
        : channel_(std::move(socket)), address_(address), protection_(protection),
          deadline_(std::min(deadlineIn(kConnectTimeout), cap)), cap_(cap)
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
            graceEnds_ = protection_->learned.handshakeBeforeReply ? Clock::now()
                                                                   : deadlineIn(kHandshakeGrace);
        }
        if (state_ == State::Connected) {
            if (!replied && Clock::now() < graceEnds_)
                return {};
            handshakeUnasked_ = !replied;
            const IoResult begun = channel_.beginTls(protection_->context, protection_->host,
                                                     protection_->session, true);
            if (begun != IoStatus::Ok)
                return handshakeFailure(begun, true);
            state_ = State::Handshaking;
            deadline_ = std::min(deadlineIn(kConnectTimeout), cap_);
            timer_ = Timer::until(deadline_);
        }
        // Under way: the first flight leaves at once, each later one once
        // the server's has come.
        const IoResult status = channel_.continueTls(timer_);
        if (status == IoStatus::Ok) {
            traceHandshake(channel_, true);
            state_ = State::Ready;
            if (handshakeUnasked_ && !replied && !protection_->learned.handshakeBeforeReply) {
                trace::line() << "the server answers only after the data connection's "
                                 "handshake: handshaking at once from now on";
                protection_->learned.handshakeBeforeReply = true;
            }
        } else if (status != IoStatus::TimedOut) {
            return handshakeFailure(status, true);
        }
        return {};
    }

    // The deadline passed before it was ready.
    Failure timedOut() const
    {
        if (state_ == State::Connecting)
            return dataConnectionFailure(Failure(FailureKind::TimedOut), address_);
        return handshakeFailure(IoStatus::TimedOut, true);
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
    Deadline cap_;
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

using Started = Outcome<StartedTransfer>;

// The command's 1xx and the data connection, awaited together. Each step
// gives the outcome once there is one.
class StartWait {
public:
    StartWait(ControlConnection& control, DataConnection& connection, bool& unreachable)
        : control_(control), connection_(connection), unreachable_(unreachable),
          replyDeadline_(control.cappedDeadlineIn(kReplyTimeout))
    {
    }

    std::optional<Started> step()
    {
        if (auto ended = takeReply())
            return ended;
        if (connection_.awaitsReply() &&
            (preliminary_ || Clock::now() >= connection_.graceEnds())) {
            if (auto begun = connection_.advance(preliminary_.has_value()); !begun)
                return failed(std::move(begun).failure());
        }
        if (preliminary_ && connection_.ready())
            return StartedTransfer{connection_.take(), std::move(*preliminary_)};
        return await();
    }

private:
    // The 1xx, if it has come: a refusal ends the wait.
    std::optional<Started> takeReply()
    {
        if (preliminary_)
            return std::nullopt;
        auto reply = control_.replyIfArrived();
        if (!reply)
            return Started(std::move(reply).failure());
        if (*reply && !(*reply)->isPreliminary())
            return Started(refusal(**reply));  // the data connection closes unused
        if (*reply)
            preliminary_ = std::move(**reply);
        return std::nullopt;
    }

    // Until the control or the data connection has something, or a time is up.
    std::optional<Started> await()
    {
        pollfd entries[2];
        nfds_t count = 0;
        Deadline until = Deadline::max();
        if (!preliminary_) {
            entries[count++] = {control_.socket(), POLLIN, 0};
            until = replyDeadline_;
        }
        const nfds_t dataEntry = count;
        const bool watchesData = !connection_.ready() && !connection_.awaitsReply();
        if (watchesData) {
            entries[count++] = connection_.pollEntry();
            until = std::min(until, connection_.deadline());
        } else if (connection_.awaitsReply()) {
            until = std::min(until, connection_.graceEnds());
        }
        const int ready = ::poll(entries, count, millisecondsUntil(until));
        if (ready < 0 && errno == EINTR)
            return std::nullopt;
        if (ready < 0)
            return failed(Failure(FailureKind::Internal, "poll failed"));
        if (ready == 0 && connection_.awaitsReply() && Clock::now() >= connection_.graceEnds())
            return std::nullopt;  // no 1xx yet: the handshake goes first
        if (ready == 0 && Clock::now() >= until)
            return timeUp();
        if (watchesData && entries[dataEntry].revents != 0) {
            if (auto advanced = connection_.advance(preliminary_.has_value()); !advanced) {
                // Unreachable only where the connect itself failed: one step
                // may connect and fail its TLS handshake, and that port was
                // reached.
                unreachable_ = connection_.connecting() &&
                               advanced.failure().kind != FailureKind::ConnectionLost;
                return failed(std::move(advanced).failure());
            }
        }
        return std::nullopt;
    }

    std::optional<Started> timeUp()
    {
        if (!preliminary_ && Clock::now() >= replyDeadline_) {
            // The last look, which drops the connection if nothing came.
            auto late = control_.readReply(Clock::duration::zero());
            if (!late)
                return Started(std::move(late).failure());
            if (!late->isPreliminary())
                return Started(refusal(*late));
            preliminary_ = std::move(*late);
            return std::nullopt;
        }
        unreachable_ = connection_.connecting();
        return failed(connection_.timedOut());
    }

    Started failed(Failure failure)
    {
        return afterDataFailure(control_, std::move(preliminary_), std::move(failure));
    }

    ControlConnection& control_;
    DataConnection& connection_;
    bool& unreachable_;
    const Deadline replyDeadline_;
    std::optional<Reply> preliminary_;
};

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
    DataConnection connection(std::move(*socket), data, protection,
                              control.cappedDeadlineIn(kConnectTimeout));
    if (auto sent = control.send(command); !sent)
        return std::move(sent).failure();
    StartWait wait(control, connection, unreachable);
    for (;;) {
        if (auto started = wait.step())
            return std::move(*started);
    }
}

}  // namespace quorvane::client
