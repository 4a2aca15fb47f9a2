// SPDX-License-Identifier: MIT
// Passive data connections and the transfers that use them.
#include <cstdio>
#include <optional>

#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/client/transfer_start.h"
#include "posix/local/local_file.h"
#include "posix/wire/passive_reply.h"
#include "posix/wire/size_reply.h"

namespace quorvane::client {
namespace {

// After a transfer went wrong, the server's last word is only waited for
// briefly; if it does not come, the connection is dropped rather than left
// out of step.
constexpr auto kAfterFailureReplyTimeout = std::chrono::seconds(5);

// How a data connection ended, for the transcript.
void traceClosed(const DataTransfer& transfer)
{
    if (!trace::current())
        return;
    const std::chrono::duration<double> took = Clock::now() - transfer.since;
    auto line = trace::line();
    line << "data connection closed: " << transfer.bytes << " bytes in " << took;
    if (took.count() > 0) {
        char rate[32];
        std::snprintf(rate, sizeof rate, " (%.1f MB/s)",
                      double(transfer.bytes) / took.count() / 1e6);
        line << rate;
    }
}

}  // namespace

Outcome<PeerAddress> FtpConnection::passiveAddress(bool extended)
{
    auto reply = control_->execute(extended ? "EPSV" : "PASV");
    if (!reply)
        return std::move(reply).failure();
    const auto port = !extended && reply->code == 227  ? parsePasvPort(reply->text)
                      : extended && reply->code == 229 ? parseEpsvPort(reply->text)
                                                       : std::nullopt;
    // The data connection goes where the control connection goes, whatever
    // host a 227 names: a hostile server must not aim us elsewhere.
    PeerAddress peer;
    if (!port || !control_->peerAddress(peer) || !peer.withPort(*port))
        return refusal(*reply);
    return peer;
}

bool FtpConnection::usesEpsv() const
{
    // EPSV where offered, and always over IPv6, where PASV cannot say much.
    PeerAddress peer;
    const bool ipv6 = control_->peerAddress(peer) && isIpv6(peer);
    return !epsvFailed_ && (features_.epsv || ipv6);
}

Outcome<DataTransfer> FtpConnection::startTransfer(std::string_view verb, std::string_view argument,
                                                   DataTransfer::Direction direction,
                                                   std::uint64_t restart, bool* restRefused)
{
    if (auto ready = readyFor({argument}); !ready)
        return std::move(ready).failure();
    std::string command(verb);
    if (!argument.empty())
        command.append(" ").append(argument);
    std::optional<DataProtection> protection;
    if (tls_)
        protection.emplace(
            DataProtection{*tls_, credentials_.host, tlsSession_, handshakeBeforeReply_});
    for (;;) {
        const bool extended = usesEpsv();
        auto address = passiveAddress(extended);
        if (!address && extended && control_->isAlive()) {
            epsvFailed_ = true;  // broken EPSV stays broken: PASV from now on
            continue;
        }
        if (!address)
            return std::move(address).failure();
        // The restart marker is for the next command: right before it.
        if (restart > 0) {
            if (auto marked = simpleCommand("REST", std::to_string(restart), 3); !marked) {
                if (restRefused)
                    *restRefused = control_ && control_->isAlive();
                return std::move(marked).failure();
            }
        }
        bool unreachable = false;
        auto started = startPassiveTransfer(*control_, *address, command,
                                            protection ? &*protection : nullptr, unreachable);
        if (started) {
            DataTransfer transfer{std::move(started->data), std::move(started->preliminary),
                                  std::string(argument), direction};
            transfer.since = Clock::now();
            return transfer;
        }
        // An EPSV port that cannot be reached (a NAT that passes only
        // PASV's, say): PASV for this transfer and the rest of the session.
        if (!unreachable || !extended || !control_->isAlive())
            return naming(std::move(started).failure(), command);
        epsvFailed_ = true;
    }
}

Outcome<> FtpConnection::completeTransfer(DataTransfer& transfer, Outcome<> moved)
{
    if (moved) {
        // TLS: close_notify both ways. After an upload that is how the server
        // learns that the file is whole.
        Timer timer = Timer::until(deadlineIn(kDataInactivityTimeout));
        const IoStatus finished = transfer.data.finish(timer);
        if (transfer.direction == DataTransfer::Direction::Send && finished != IoStatus::Ok)
            moved = failureOf(finished, "no data for 60 s (inactivity limit)",
                              "the data connection broke");
    }
    transfer.data.close();  // for a plain upload, this is the end of the file
    traceClosed(transfer);

    if (!moved) {
        // Only the server's word on the failed transfer; the failure stands.
        if (!control_->readReply(kAfterFailureReplyTimeout))
            trace::line() << "no word on the failed transfer: the connection is dropped";
        return moved;
    }
    transfer.dataEnded = true;
    auto completion = control_->readReply();
    if (!completion) {
        const FailureKind kind = completion.failure().kind;
        transfer.completionMissing =
            kind == FailureKind::TimedOut || kind == FailureKind::ConnectionLost;
        return std::move(completion).failure();
    }
    // 426: the server says the data connection broke, as a link does.
    if (completion->code == 426)
        return refusal(*completion, FailureKind::ConnectionLost);
    if (!completion->isCompletion())
        return refusal(*completion);
    // A short stream with a 226 is still a short file.
    const auto announced = parseAnnouncedSize(transfer.started.text, transfer.argument);
    if (transfer.direction == DataTransfer::Direction::Receive && !transfer.resumed && announced &&
        *announced != transfer.bytes)
        return Failure{FailureKind::ConnectionLost,
                       "the server announced " + std::to_string(*announced) + " bytes, " +
                           std::to_string(transfer.bytes) + " arrived"};
    return {};
}

TransferAttempt FtpConnection::transfer(std::string_view verb, std::string_view argument,
                                        DataTransfer::Direction direction, std::uint64_t restart,
                                        bool resumed, const Move& move)
{
    TransferAttempt attempt;
    auto open = startTransfer(verb, argument, direction, restart, &attempt.restRefused);
    if (!open) {
        attempt.outcome = std::move(open).failure();
        return attempt;
    }
    attempt.started = true;
    open->resumed = resumed;
    attempt.announced = parseAnnouncedSize(open->started.text, argument);
    auto moved = move(open->data, open->bytes);
    attempt.outcome = completeTransfer(*open, std::move(moved));
    attempt.bytes = open->bytes;
    attempt.dataEnded = open->dataEnded;
    attempt.completionMissing = open->completionMissing;
    return attempt;
}

Outcome<> FtpConnection::serverHolds(std::string_view remote, std::uint64_t bytes)
{
    if (!features_.size || !control_ || !control_->isAlive())
        return {};  // nothing to ask: the completion is the verdict
    auto reply = control_->execute(std::string("SIZE ").append(remote));
    const auto size = reply ? parseSizeReply(*reply) : std::nullopt;
    // A refused SIZE (upload-only folders hide what they hold) leaves the
    // completion as the verdict.
    if (!size || *size == bytes)
        return {};
    return Failure{FailureKind::ConnectionLost, "the server holds " + std::to_string(*size) +
                                                    " bytes of the " + std::to_string(bytes) +
                                                    " sent"};
}

}  // namespace quorvane::client
