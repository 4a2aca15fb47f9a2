// SPDX-License-Identifier: MIT
// Downloads and uploads, resumed in the same call when the link breaks: a
// data connection reset, closed short or silent past the inactivity limit
// after bytes moved, or the control connection lost on the way. Never two
// versions of a file stitched together, and never without end: a few
// attempts, each of which must get further than the last.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <thread>

#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/local/local_file.h"
#include "posix/wire/size_reply.h"

namespace quorvane::client {
namespace {

// The attempts of one call, and how long the way back may take after a
// break: a transfer goes on only while each attempt gets further, and no
// call spends longer than the inactivity limit without progress.
class Resumption {
public:
    static constexpr int kAttempts = 4;

    explicit Resumption(const char* what) : what_(what) {}

    int attempt() const { return attempt_; }

    // After an attempt that ended with `failure`: whether another may follow,
    // as far as the failure and the attempts left go.
    bool allowsAnother(const Failure& failure)
    {
        const bool breaks =
            failure.kind == FailureKind::ConnectionLost || failure.kind == FailureKind::TimedOut;
        if (!breaks || attempt_ >= kAttempts)
            return false;
        ++attempt_;
        cause_ = failure.cause;
        deadline_ = deadlineIn(kDataInactivityTimeout);
        return true;
    }

    // Whether the last attempt got further than every one before it: to
    // `reached` bytes of the file.
    // An attempt whose data connection broke before a byte moved (a server
    // that dropped it during the handshake, say) is tried once more.
    bool gotFurther(std::uint64_t reached, std::uint64_t moved)
    {
        const bool further = reached > furthest_ || (moved == 0 && !retriedEmpty_);
        retriedEmpty_ = retriedEmpty_ || moved == 0;
        furthest_ = std::max(furthest_, reached);
        return further;
    }

    // Once it is known where the next attempt starts.
    void announce(std::uint64_t at) const
    {
        trace::line() << "resuming the " << what_ << " at " << at << " bytes (attempt " << attempt_
                      << " of " << kAttempts << "): " << trace::escape(cause_);
    }

    // Once more from the start, while attempts are left; where the file
    // changed, what the old one reached no longer counts.
    bool startsOver(bool fileChanged)
    {
        if (attempt_ >= kAttempts)
            return false;
        ++attempt_;
        if (fileChanged)
            furthest_ = 0;
        return true;
    }

    // Before a reconnection: 1, 2, then 4 s.
    Clock::duration pause() const { return std::chrono::seconds(1 << std::min(attempt_ - 2, 2)); }
    Deadline deadline() const { return deadline_; }

private:
    const char* what_;
    int attempt_ = 1;
    std::uint64_t furthest_ = 0;
    bool retriedEmpty_ = false;
    std::string cause_;
    Deadline deadline_{};
};

bool isSilence(const Failure& failure) { return failure.kind == FailureKind::TimedOut; }

}  // namespace

FtpConnection::RemoteState FtpConnection::remoteState(std::string_view remote)
{
    RemoteState state;
    if (features_.size) {
        auto reply = control_->execute(std::string("SIZE ").append(remote));
        if (reply)
            state.size = parseSizeReply(*reply);
    }
    if (features_.mdtm && control_ && control_->isAlive()) {
        auto reply = control_->execute(std::string("MDTM ").append(remote));
        if (reply && reply->code == 213)
            state.modified = reply->text;
    }
    return state;
}

Outcome<> FtpConnection::reconnectForResume(Clock::duration pause, Deadline deadline)
{
    if (control_ && control_->isReadyForCommand())
        return {};
    control_.reset();
    trace::line() << "reconnecting in " << std::chrono::duration<double>(pause);
    std::this_thread::sleep_for(pause);
    return ensureConnected(deadline);
}

Outcome<> FtpConnection::download(std::string_view remote, TemporaryFile& local)
{
    // A resumed download reads this much of what it has again, and goes on
    // only if it finds it unchanged: never two versions stitched together.
    constexpr std::uint64_t kOverlap = 64 << 10;
    std::lock_guard lock(mutex_);
    const LocalFile file{local.fd(), local.target()};
    Resumption resumption("download");
    std::uint64_t held = 0;  // what the temporary file holds
    std::optional<std::uint64_t> size;  // the file's, when the transfer started
    std::string modified;  // its time, where the server tells
    const auto startOver = [&](const char* why) -> Outcome<> {
        trace::line() << why << ": the download starts over";
        held = 0;
        size.reset();
        modified.clear();
        return local.restart();
    };
    for (;;) {
        const std::uint64_t overlap = std::min(held, kOverlap);
        // From a little before where it stopped.
        const bool resumed = held > 0;
        bool changed = false;
        auto attempt =
            transfer("RETR", remote, DataTransfer::Direction::Receive, held - overlap, resumed,
                     [&](Channel& data, std::uint64_t& bytes) -> Outcome<> {
                         std::uint64_t first = 0;
                         if (resumed) {
                             auto same = receiveOverlap(data, file, held - overlap,
                                                        static_cast<std::size_t>(overlap), first);
                             if (!same)
                                 return std::move(same).failure();
                             changed = !*same;
                             if (changed)
                                 return Failure(FailureKind::Refused, "the server's file changed");
                         }
                         auto moved = receiveToFile(data, file, local.replacesAFile(), bytes);
                         bytes += first;
                         return moved;
                     });
        if (attempt.restRefused) {
            if (!resumption.startsOver(false))
                return attempt.outcome;
            if (auto emptied = startOver("no REST"); !emptied)
                return emptied;
            continue;
        }
        if (!resumed && attempt.announced)
            size = attempt.announced;
        held += attempt.bytes;
        if (resumed && !attempt.outcome && !attempt.started &&
            attempt.outcome.failure().kind == FailureKind::Refused)
            changed = true;  // RETR refused after REST: all of it again
        if (changed) {
            if (!resumption.startsOver(true))
                return Failure(FailureKind::ConnectionLost,
                               "the server's file kept changing during the download");
            if (auto emptied = startOver("the server's file changed"); !emptied)
                return emptied;
            continue;
        }
        if (attempt.outcome && !resumed)
            return local.replaceTarget();
        // Resumed, or whole on the wire but never confirmed: the server's
        // size as it is now must be every byte there is.
        if (attempt.outcome || (attempt.dataEnded && attempt.completionMissing)) {
            if (!attempt.outcome) {
                trace::line() << "the data ended whole but the completion never came: "
                                 "asking on a fresh connection";
                if (auto back =
                        reconnectForResume(std::chrono::seconds(0), deadlineIn(kLogInTimeout));
                    !back)
                    return attempt.outcome;
            }
            const auto now = features_.size ? remoteState(remote).size : std::nullopt;
            if (now && *now == held) {
                trace::line() << "verified: the server's file has the " << held
                              << " bytes received";
                return local.replaceTarget();
            }
            if (attempt.outcome)
                return Failure(FailureKind::ConnectionLost,
                               "the resumed download has " + std::to_string(held) +
                                   " bytes, the server's file " +
                                   (now ? std::to_string(*now) : std::string("?")));
            if (!now)
                return attempt.outcome;
            // Not all of it after all: on as from any other break.
        }
        const Failure& failure = attempt.outcome.failure();
        if (!resumption.gotFurther(held, attempt.bytes) || !resumption.allowsAnother(failure))
            return attempt.outcome;
        if (auto back = reconnectForResume(resumption.pause(), resumption.deadline()); !back)
            return attempt.outcome;
        // On from where it stopped only where the server still has that much
        // of a file of the same size and time; else over, fresh (a silent
        // server is only ever resumed, never read again whole).
        const RemoteState state = remoteState(remote);
        const bool same = state.size && *state.size >= held && (!size || *state.size == *size) &&
                          (modified.empty() || state.modified == modified);
        if (!same && isSilence(failure))
            return attempt.outcome;
        if (!same) {
            if (auto emptied = startOver("the server's file is not the one being read"); !emptied)
                return emptied;
        }
        resumption.announce(held);
        size = state.size;
        modified = state.modified;
    }
}

Outcome<> FtpConnection::upload(const LocalFile& local, std::string_view remote)
{
    std::lock_guard lock(mutex_);
    struct stat before {};
    if (::fstat(local.fd, &before) != 0)
        return localFailure("read", local.name, errno);
    const auto length = static_cast<std::uint64_t>(before.st_size);
    Resumption resumption("upload");
    std::uint64_t offset = 0;  // what the server holds of it
    bool append = false;  // REST is refused for STOR: append from where it stopped
    for (;;) {
        const bool appending = append && offset > 0;
        auto attempt =
            transfer(appending ? "APPE" : "STOR", remote, DataTransfer::Direction::Send,
                     appending ? 0 : offset, offset > 0, [&](Channel& data, std::uint64_t& bytes) {
                         return sendFromFile(local, data, bytes, offset);
                     });
        if (attempt.restRefused) {
            append = true;
            continue;
        }
        std::uint64_t reached = offset + attempt.bytes;
        if (attempt.outcome)
            return serverHolds(remote, length);
        // A server that takes REST but will not store from there (proftpd
        // without AllowStoreRestart): from the start, while attempts are left.
        if (offset > 0 && !attempt.started &&
            attempt.outcome.failure().kind == FailureKind::Refused) {
            if (!resumption.startsOver(false))
                return attempt.outcome;
            trace::line() << "the server will not resume the upload: it starts over";
            offset = 0;
            continue;
        }
        if (attempt.dataEnded && attempt.completionMissing && reached == length) {
            trace::line() << "every byte went but the completion never came: "
                             "asking on a fresh connection";
            if (auto back = reconnectForResume(std::chrono::seconds(0), deadlineIn(kLogInTimeout));
                !back)
                return attempt.outcome;
            const auto now = features_.size ? remoteState(remote).size : std::nullopt;
            if (!now)
                return attempt.outcome;
            if (*now == length) {
                trace::line() << "verified: the server holds the " << length << " bytes sent";
                return {};
            }
            // It holds less: on as from any other break.
            reached = std::min(*now, length);
        }
        const Failure failure = attempt.outcome.failure();
        if (!resumption.allowsAnother(failure))
            return attempt.outcome;
        if (auto back = reconnectForResume(resumption.pause(), resumption.deadline()); !back)
            return attempt.outcome;
        struct stat now {};
        if (::fstat(local.fd, &now) != 0 || now.st_size != before.st_size ||
            now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
            return Failure(FailureKind::LocalFile, "the local file changed during the upload");
        // On from what the server holds; from the start where it will not say.
        const auto holds = features_.size ? remoteState(remote).size : std::nullopt;
        offset = holds && *holds <= length ? *holds : 0;
        // Progress is what the server holds, or what this attempt moved
        // (a server may keep nothing of a broken upload).
        if (!resumption.gotFurther(std::max(holds.value_or(0), attempt.bytes), attempt.bytes))
            return attempt.outcome;
        if (offset == 0 && isSilence(failure))
            return attempt.outcome;  // a silent server is only ever resumed
        if (offset == 0)
            trace::line() << "the server will not say what it holds: the upload starts over";
        resumption.announce(offset);
    }
}

}  // namespace quorvane::client
