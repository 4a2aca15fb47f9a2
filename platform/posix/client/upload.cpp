// SPDX-License-Identifier: MIT
// An upload: attempts until one ends whole. After a break it goes on onto
// what the server holds only where those bytes are provably this upload's
// own: the server's file changed from what it was before the first STOR,
// and holds no more than this call sent. Otherwise STOR from the start. An
// upload sent in more than one stream, or whose completion was lost, counts
// as done only once proven (verification.cpp).
#include <sys/stat.h>

#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/client/resumption.h"
#include "posix/local/local_file.h"

namespace quorvane::client {

// What of an upload the server may hold, and what it held before.
struct UploadState {
    explicit UploadState(const LocalFile& from) : local(from) {}

    const LocalFile& local;
    struct stat measured {};  // the local file when the upload began
    FileIdentity before;  // the server's file before the first STOR
    bool started = false;  // `before` is known
    std::uint64_t sent = 0;  // the furthest this call has sent
    bool appends = false;  // REST is refused for STOR: APPE from where it stopped
    bool noRestart = false;  // the server will not store from an offset
    bool startOver = false;  // the next attempt starts at 0
    bool onlyResume = false;  // after silence: resumed, or not at all
    bool pieced = false;  // sent in more than one stream
    std::string cause;  // of the last break

    std::uint64_t length() const { return static_cast<std::uint64_t>(measured.st_size); }

    // The local file as it was when the upload began, else a failure.
    Outcome<> unchanged() const
    {
        struct stat now {};
        if (::fstat(local.fd, &now) != 0)
            return localFailure("read", local.name, errno);
        if (now.st_size != measured.st_size || now.st_mtim.tv_sec != measured.st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != measured.st_mtim.tv_nsec)
            return Failure(FailureKind::LocalFile, "the local file changed during the upload");
        return {};
    }

    // Where the next attempt starts, given what the server holds now.
    std::optional<std::uint64_t> startAt(const FileIdentity& now, const Resumption& resumption)
    {
        if (!started) {
            before = now;
            started = true;
            return 0;
        }
        const bool ours = !noRestart && !startOver && hasChangedFrom(before, now) && now.size &&
                          *now.size <= sent;
        startOver = false;
        if (ours) {
            resumption.announce(*now.size);
            return *now.size;
        }
        if (onlyResume)
            return std::nullopt;
        trace::line() << "the server's file (" << describe(now)
                      << ") is not provably this upload's: it starts over";
        return 0;
    }
};

Outcome<> FtpConnection::upload(const LocalFile& local, std::string_view remote)
{
    std::lock_guard lock(mutex_);
    UploadState state{local};
    if (::fstat(local.fd, &state.measured) != 0)
        return localFailure("read", local.name, errno);
    Resumption resumption("upload");
    for (;;) {
        AttemptResult result =
            attempt({"STOR", remote, true,
                     [&](const FileIdentity& now) { return state.startAt(now, resumption); },
                     [&](Channel& data, std::uint64_t offset, std::uint64_t& moved) {
                         return sendFromFile(local, data, moved, offset);
                     },
                     resumption.wayBack(), state.appends});
        state.sent = std::max(state.sent, result.offset + result.moved);
        resumption.moved(result.moved);
        state.pieced = state.pieced || result.offset > 0;
        auto next = nextUploadStep(remote, state, result, resumption);
        if (!next)
            return std::move(next).failure();
        if (*next)
            return {};
    }
}

Outcome<bool> FtpConnection::nextUploadStep(std::string_view remote, UploadState& state,
                                            const AttemptResult& result, Resumption& resumption)
{
    switch (result.end) {
    case AttemptEnd::Completed:
        if (!state.pieced) {
            // One stream and its completion: the server must hold every byte.
            if (auto holds = serverHolds(remote, state.length()); !holds)
                return std::move(holds).failure();
            return true;
        }
        [[fallthrough]];
    case AttemptEnd::Unconfirmed: return uploadIsStored(remote, state, result, resumption);
    case AttemptEnd::Broken: return resumeUpload(state, result, resumption);
    case AttemptEnd::RestRefused:
        state.appends = true;  // the same attempt, appending
        return false;
    case AttemptEnd::Refused:
        // REST taken, but no STOR from there (proftpd without
        // AllowStoreRestart): from the start, while attempts are left.
        if (result.offset == 0 || !resumption.again())
            return result.outcome.failure();
        trace::line() << "the server will not resume the upload: it starts over";
        state.noRestart = true;
        return false;
    case AttemptEnd::Changed:  // nothing to resume after silence
        return Failure(FailureKind::TimedOut, state.cause);
    }
    return false;
}

Outcome<bool> FtpConnection::uploadIsStored(std::string_view remote, UploadState& state,
                                            const AttemptResult& result, Resumption& resumption)
{
    std::optional<DeadlineCap> cap;
    if (auto back = backToProve(result, resumption, cap); !back)
        return std::move(back).failure();
    auto stored = proveStored(remote, state.local, state.length(), state.before);
    if (!stored || *stored)
        return stored;
    // Not this upload, or not all of it: all of it again, while attempts last.
    if (!resumption.again())
        return Failure(FailureKind::ConnectionLost,
                       "the server's file is not the one sent, and no attempt is left");
    trace::line() << "the server's file is not the one sent: the upload starts over";
    state.startOver = true;
    state.onlyResume = false;
    state.pieced = false;
    return false;
}

Outcome<bool> FtpConnection::resumeUpload(UploadState& state, const AttemptResult& result,
                                          Resumption& resumption)
{
    const Failure& failure = result.outcome.failure();
    if (!resumption.afterBreak(failure, result.offset + result.moved, result.moved))
        return failure;
    if (auto unchanged = state.unchanged(); !unchanged)
        return unchanged.failure();
    if (auto back = reconnectAfterBreak(resumption, resumption.pause()); !back)
        return failure;
    // A silent server is only ever resumed: sent whole again, it would stall again.
    state.onlyResume = failure.kind == FailureKind::TimedOut;
    state.cause = failure.cause;
    return false;
}

}  // namespace quorvane::client
