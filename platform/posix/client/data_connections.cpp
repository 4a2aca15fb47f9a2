// SPDX-License-Identifier: MIT
// The rungs of a passive transfer that listings and file transfers share:
// the passive address, the start (REST, the command, the 1xx) and the end.
#include <cstdio>
#include <optional>

#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/client/transfer_start.h"
#include "posix/wire/file_facts.h"
#include "posix/wire/passive_reply.h"

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

bool isBreak(const Failure& failure)
{
    return failure.kind == FailureKind::TimedOut || failure.kind == FailureKind::ConnectionLost;
}

}  // namespace

Outcome<PeerAddress> FtpConnection::passiveAddress(bool extended,
                                                   const std::vector<std::string>& first,
                                                   std::vector<Reply>* firstReplies)
{
    std::vector<std::string> commands = first;
    commands.push_back(extended ? "EPSV" : "PASV");
    auto replies = control().executeAll(commands);
    if (!replies)
        return std::move(replies).failure();
    const Reply& reply = replies->back();
    if (firstReplies)
        firstReplies->assign(replies->begin(), replies->end() - 1);
    const auto port = !extended && reply.code == 227  ? parsePasvPort(reply.text)
                      : extended && reply.code == 229 ? parseEpsvPort(reply.text)
                                                      : std::nullopt;
    // The data connection goes where the control connection goes, whatever
    // host a 227 names: a hostile server must not aim us elsewhere.
    PeerAddress peer;
    if (!port || !control().peerAddress(peer) || !peer.withPort(*port))
        return refusal(reply);
    return peer;
}

bool FtpConnection::usesEpsv() const
{
    // EPSV where offered, and always over IPv6, where PASV cannot say much.
    PeerAddress peer;
    const bool ipv6 = control().peerAddress(peer) && isIpv6(peer);
    return !learned_.epsvBroken && (learned_.features.epsv || ipv6);
}

TransferStart FtpConnection::startTransfer(std::string_view command, PeerAddress address,
                                           bool extended, std::uint64_t restart, bool receiving)
{
    std::optional<DataProtection> protection;
    if (tls_)
        protection.emplace(DataProtection{*tls_, credentials_.host, tlsSession_, learned_});
    for (;;) {
        // The restart marker is for the next command: right before it.
        if (restart > 0) {
            if (auto marked = simpleCommand("REST", std::to_string(restart), 3); !marked)
                return {std::move(marked).failure(), life_.isLive()};
        }
        bool unreachable = false;
        auto started = startPassiveTransfer(control(), address, command,
                                            protection ? &*protection : nullptr, unreachable);
        if (started) {
            DataTransfer transfer{std::move(started->data), std::move(started->preliminary),
                                  std::string(command), receiving};
            transfer.since = Clock::now();
            return {std::move(transfer)};
        }
        // An EPSV port that cannot be reached (a NAT that passes only
        // PASV's, say): PASV for this transfer and the rest of the session.
        if (!unreachable || !extended || !control().isAlive())
            return {naming(std::move(started).failure(), command)};
        learned_.epsvBroken = true;
        extended = false;
        auto again = passiveAddress(false);
        if (!again)
            return {std::move(again).failure()};
        address = *again;
    }
}

Outcome<DataTransfer> FtpConnection::startListing(std::string_view command)
{
    if (auto ready = readyFor({}); !ready)
        return std::move(ready).failure();
    for (;;) {
        const bool extended = usesEpsv();
        auto address = passiveAddress(extended);
        if (!address && extended && control().isAlive()) {
            learned_.epsvBroken = true;  // broken EPSV stays broken: PASV from now on
            continue;
        }
        if (!address)
            return std::move(address).failure();
        return startTransfer(command, *address, extended, 0, true).transfer;
    }
}

TransferEnd FtpConnection::completeTransfer(DataTransfer& transfer, Outcome<> moved)
{
    if (moved) {
        // TLS: close_notify both ways. After an upload that is how the server
        // learns that the file is whole.
        Timer timer = Timer::until(deadlineIn(kDataInactivityTimeout));
        const IoResult finished = transfer.data.finish(timer);
        if (!transfer.receiving && finished != IoStatus::Ok)
            moved = failureOf(finished, "no data for 60 s (inactivity limit)",
                              "the data connection broke");
    }
    transfer.data.close();  // for a plain upload, this is the end of the file
    traceClosed(transfer);
    if (!moved) {
        // Only the server's word on the failed transfer; the failure stands.
        if (!control().readReply(kAfterFailureReplyTimeout))
            trace::line() << "no word on the failed transfer: the connection is dropped";
        return {isBreak(moved.failure()) ? AttemptEnd::Broken : AttemptEnd::Refused,
                std::move(moved)};
    }
    auto completion = control().readReply();
    if (!completion) {
        const bool lost = isBreak(completion.failure());
        return {lost ? AttemptEnd::Unconfirmed : AttemptEnd::Refused,
                std::move(completion).failure()};
    }
    // 426: the server says the data connection broke, as a link does.
    if (completion->code == 426)
        return {AttemptEnd::Broken, refusal(*completion, FailureKind::ConnectionLost)};
    if (!completion->isCompletion())
        return {AttemptEnd::Refused, refusal(*completion)};
    return {};
}

Outcome<> FtpConnection::serverHolds(std::string_view remote, std::uint64_t length)
{
    if (!learned_.features.size || !life_.isLive())
        return {};  // nothing to ask: the completion is the verdict
    auto reply = control().execute(std::string("SIZE ").append(remote));
    if (!reply)
        return std::move(reply).failure();
    const auto size = parseSizeReply(*reply);
    // A refused SIZE (upload-only folders hide what they hold) leaves the
    // completion as the verdict; one that cannot be read proves nothing.
    if (size.kind == Answer<std::uint64_t>::Kind::Refused || (size.has() && size.value == length))
        return {};
    return Failure{FailureKind::ConnectionLost,
                   size.has() ? "the server holds " + std::to_string(size.value) +
                                    " bytes of the " + std::to_string(length) + " sent"
                              : "the server's size of the file cannot be read: " +
                                    trace::escape(reply->text)};
}

}  // namespace quorvane::client
