// SPDX-License-Identifier: MIT
// The proofs a transfer needs where one stream and its completion do not
// settle it: after a resumption, or when the completion was lost. The
// server's digest settles it where offered; without one, the file's
// identity must: unchanged for a download, changed (and every byte held)
// for an upload. What cannot be proven fails, with the cause.
#include <thread>

#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/client/resumption.h"
#include "posix/local/file_digest.h"
#include "posix/wire/digest_reply.h"

namespace quorvane::client {
namespace {

Failure unproven(const std::string& why)
{
    return Failure(FailureKind::ConnectionLost, "the transfer cannot be proven whole: " + why);
}

}  // namespace

FileIdentity FtpConnection::identityOf(std::string_view remote)
{
    const auto commands = identityCommands(learned_.features, remote);
    if (commands.empty() || !life_.isLive())
        return {};
    auto replies = control().executeAll(commands);
    return replies ? identityFrom(learned_.features, *replies) : FileIdentity{};
}

Outcome<> FtpConnection::reconnectForResume(Clock::duration pause, Deadline deadline)
{
    if (life_.isReadyForCommand())
        return {};
    life_.drop();
    trace::line() << "reconnecting in " << std::chrono::duration<double>(pause);
    std::this_thread::sleep_for(pause);
    return ensureConnected(deadline);
}

Outcome<> FtpConnection::reconnectAfterBreak(Resumption& resumption, Clock::duration pause)
{
    resumption.beginWayBack();
    for (;;) {
        auto back = reconnectForResume(pause, *resumption.wayBack());
        // A server that is not there yet (restarted by its supervisor, say)
        // is tried again after the next pause, while attempts last.
        const FailureKind kind = back ? FailureKind::Internal : back.failure().kind;
        const bool absent = kind == FailureKind::CannotConnect ||
                            kind == FailureKind::ConnectionLost || kind == FailureKind::TimedOut;
        const bool over = Clock::now() >= *resumption.wayBack();
        if (back || !absent || over || !resumption.again())
            return back;
        pause = resumption.pause();
    }
}

Outcome<> FtpConnection::backToProve(const AttemptResult& result, Resumption& resumption,
                                     std::optional<DeadlineCap>& cap)
{
    if (result.end != AttemptEnd::Unconfirmed)
        return {};  // the connection that carried the transfer answers
    trace::line() << "the data ended but the completion never came: asking on a fresh connection";
    if (auto back = reconnectAfterBreak(resumption, Clock::duration::zero()); !back)
        return result.outcome.failure();
    // The proof is part of the way back.
    cap.emplace(life_, *resumption.wayBack());
    return {};
}

std::optional<Outcome<bool>>
FtpConnection::digestsAgree(std::string_view remote, const LocalFile& local, std::uint64_t length)
{
    const auto request = chooseDigest(learned_.features.digests);
    if (!request || !life_.isLive())
        return std::nullopt;
    if (!request->select.empty()) {
        auto selected = control().execute(request->select);
        if (!selected || !selected->isCompletion())
            return std::nullopt;
        learned_.features.digests.hashCurrent = request->algorithm;
    }
    auto reply = control().execute(request->verb + " " + std::string(remote));
    const auto theirs = reply ? parseDigestReply(*reply, *request) : std::nullopt;
    if (!theirs)
        return std::nullopt;  // refused or unreadable: no digest to go by
    auto ours = digestOfFile(local.fd, length, theirs->algorithm, local.name);
    if (!ours)
        return Outcome<bool>(std::move(ours).failure());
    const bool same = *ours == theirs->hex;
    trace::line() << "digest " << nameOf(theirs->algorithm) << (same ? " agrees" : " differs")
                  << ": " << *ours << (same ? "" : " here, " + theirs->hex + " there");
    return Outcome<bool>(same);
}

Outcome<bool> FtpConnection::proveSame(std::string_view remote, const LocalFile& local,
                                       std::uint64_t length, const FileIdentity& identity)
{
    if (auto agree = digestsAgree(remote, local, length))
        return std::move(*agree);
    const FileIdentity now = identityOf(remote);
    if (hasChangedFrom(identity, now))
        return false;
    if (!isSameFile(identity, now))
        return unproven("the server's file is " + describe(now) +
                        (identity.isStrong() ? "" : ", with no time to tell versions apart"));
    if (!now.size || *now.size != length)
        return unproven("the server's file has " +
                        (now.size ? std::to_string(*now.size) : std::string("?")) + " bytes, " +
                        std::to_string(length) + " arrived");
    trace::line() << "verified: the server's file is unchanged (" << describe(now) << ") and all "
                  << length << " bytes arrived";
    return true;
}

Outcome<bool> FtpConnection::proveStored(std::string_view remote, const LocalFile& local,
                                         std::uint64_t length, const FileIdentity& before)
{
    if (auto agree = digestsAgree(remote, local, length))
        return std::move(*agree);
    const FileIdentity now = identityOf(remote);
    if (!hasChangedFrom(before, now)) {
        if (before.presence == FileIdentity::Presence::Unknown || !now.isPresent())
            return unproven("the server tells nothing that shows the upload (" + describe(now) +
                            ")");
        return false;  // the file as it was before: the upload did not land
    }
    if (!now.size)
        return unproven("the server does not say how much it holds");
    if (*now.size != length) {
        trace::line() << "the server holds " << *now.size << " bytes of the " << length << " sent";
        return false;  // not all of it, or damaged: not this upload
    }
    trace::line() << "verified: the server's file changed from before the upload (" << describe(now)
                  << ") and holds all " << length << " bytes";
    return true;
}

}  // namespace quorvane::client
