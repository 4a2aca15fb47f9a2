// SPDX-License-Identifier: MIT
// A download: attempts until one ends whole. After a break it goes on from
// where it stopped only while the server's file is provably the one being
// read, reading the last 64 KiB again to see that they are the same; a file
// that came in more than one stream, or whose completion was lost, counts
// as whole only once proven (verification.cpp). Never two versions stitched.
#include "common/transcript.h"
#include "posix/client/ftp_connection.h"
#include "posix/client/resumption.h"
#include "posix/local/local_file.h"

namespace quorvane::client {
namespace {

// What a resumed download reads again before it goes on.
constexpr std::uint64_t kOverlap = 64 << 10;

bool isSilence(const Outcome<>& outcome)
{
    return !outcome && outcome.failure().kind == FailureKind::TimedOut;
}

}  // namespace

// What the temporary file holds of the remote file, and which file that is.
struct DownloadState {
    // A kept download goes on from what it held, of the file it recorded.
    explicit DownloadState(TemporaryFile& into) : file(into)
    {
        if (const auto& kept = file.held(); kept && kept->flushed > 0) {
            bytes = kept->flushed;
            identity = {FileIdentity::Presence::Present, kept->size, kept->modified};
            pieced = true;
            trace::line() << "a kept download holds " << bytes << " bytes of "
                          << describe(identity);
        }
    }

    TemporaryFile& file;
    std::uint64_t bytes = 0;  // from the start of the file
    FileIdentity identity;  // as the server told it before the first byte
    bool digest = false;  // the server offers one, to settle a doubt
    bool restartable = true;  // the server takes REST
    bool pieced = false;  // from more than one stream

    LocalFile local() const { return {file.fd(), file.target()}; }
    bool canResume() const { return restartable && (identity.isStrong() || digest); }

    // Where the next attempt starts: a little before what is held, while
    // the server's file is the one being read; nothing where it is not.
    std::optional<std::uint64_t> startAt(const FileIdentity& now)
    {
        if (bytes == 0) {
            // Recorded before the first byte: a kept file always says of
            // which file it holds a part.
            file.identify(now.size, now.modified);
            return 0;
        }
        const bool same = isSameFile(identity, now) ||
                          (digest && now.isPresent() && !hasChangedFrom(identity, now));
        if (!same || (now.size && *now.size < bytes))
            return std::nullopt;
        return bytes - std::min(bytes, kOverlap);
    }

    // The stream from `offset` on: what the file holds from there is
    // compared, what comes beyond it is added.
    Outcome<> receive(Channel& data, std::uint64_t offset, std::uint64_t& moved)
    {
        std::uint64_t beyond = 0;
        if (offset < bytes) {
            auto same = receiveOverlap(data, local(), offset,
                                       static_cast<std::size_t>(bytes - offset), beyond);
            if (!same)
                return std::move(same).failure();
            if (!*same)
                return Failure(FailureKind::Refused, "the server's file changed");
        }
        std::uint64_t rest = 0;
        auto received = receiveToFile(data, local(), bytes + beyond, file.replacesAFile(), rest,
                                      [this](std::uint64_t end) { file.written(end); });
        moved = beyond + rest;
        return received;
    }

    Outcome<> startOver(const char* why)
    {
        trace::line() << why << ": the download starts over";
        bytes = 0;
        pieced = false;
        identity = {};
        return file.restart();
    }
};

Outcome<> FtpConnection::download(std::string_view remote, TemporaryFile& local)
{
    std::lock_guard lock(mutex_);
    DownloadState state{local};
    state.digest = chooseDigest(learned_.features.digests).has_value();
    Resumption resumption("download");
    for (;;) {
        const bool fromStart = state.bytes == 0;
        AttemptResult result = attempt(
            {"RETR", remote, false, [&](const FileIdentity& now) { return state.startAt(now); },
             [&](Channel& data, std::uint64_t offset, std::uint64_t& moved) {
                 return state.receive(data, offset, moved);
             },
             resumption.wayBack()});
        if (fromStart && result.end != AttemptEnd::Changed)
            state.identity = result.identity;
        state.bytes += result.moved;
        resumption.moved(result.moved);
        state.pieced = state.pieced || result.offset > 0;
        judgeDownloadLength(state, result);
        auto next = nextDownloadStep(remote, state, result, resumption);
        if (!next)
            return std::move(next).failure();
        if (*next)
            return local.replaceTarget();
    }
}

void FtpConnection::judgeDownloadLength(DownloadState& state, AttemptResult& result)
{
    // A stream that ended at another length than the file's was not all of
    // it: short, a break; long, another file.
    const auto size = state.identity.size  ? state.identity.size
                      : result.offset == 0 ? result.announced
                                           : std::nullopt;
    const bool ended = result.end == AttemptEnd::Completed || result.end == AttemptEnd::Unconfirmed;
    if (!ended || !size || state.bytes == *size)
        return;
    const std::string counts =
        std::to_string(state.bytes) + " of the file's " + std::to_string(*size) + " bytes";
    result.end = state.bytes < *size ? AttemptEnd::Broken : AttemptEnd::Changed;
    result.outcome = Failure(FailureKind::ConnectionLost, "the data ended at " + counts);
}

Outcome<bool> FtpConnection::nextDownloadStep(std::string_view remote, DownloadState& state,
                                              const AttemptResult& result, Resumption& resumption)
{
    switch (result.end) {
    case AttemptEnd::Completed:
        if (!state.pieced)
            return true;  // one stream, and the server's word that it was whole
        [[fallthrough]];
    case AttemptEnd::Unconfirmed: return downloadIsWhole(remote, state, result, resumption);
    case AttemptEnd::Broken: return resumeDownload(state, result, resumption);
    case AttemptEnd::RestRefused: state.restartable = false; [[fallthrough]];
    case AttemptEnd::Changed: {
        const bool changed = result.end == AttemptEnd::Changed;
        if (!resumption.again(changed))
            return Failure(FailureKind::ConnectionLost,
                           "the server's file kept changing during the download");
        if (auto emptied = state.startOver(changed ? "the server's file changed" : "no REST");
            !emptied)
            return std::move(emptied).failure();
        return false;
    }
    case AttemptEnd::Refused:
        // Refused (or found different) after REST: all of it again, once.
        if (result.offset == 0 || !resumption.again(true))
            return result.outcome.failure();
        if (auto emptied = state.startOver("the server's file is not the one being read"); !emptied)
            return std::move(emptied).failure();
        return false;
    }
    return false;
}

Outcome<bool> FtpConnection::downloadIsWhole(std::string_view remote, DownloadState& state,
                                             const AttemptResult& result, Resumption& resumption)
{
    std::optional<DeadlineCap> cap;
    if (auto back = backToProve(result, resumption, cap); !back)
        return std::move(back).failure();
    auto whole = proveSame(remote, state.local(), state.bytes, state.identity);
    if (!whole || *whole)
        return whole;
    if (!resumption.again(true))
        return Failure(FailureKind::ConnectionLost,
                       "the server's file kept changing during the download");
    if (auto emptied = state.startOver("the server's file is not the one received"); !emptied)
        return std::move(emptied).failure();
    return false;
}

Outcome<bool> FtpConnection::resumeDownload(DownloadState& state, const AttemptResult& result,
                                            Resumption& resumption)
{
    const Failure& failure = result.outcome.failure();
    // A silent server is only ever resumed: read whole again, it would stall again.
    if (!resumption.afterBreak(failure, state.bytes, result.moved) ||
        (!state.canResume() && isSilence(result.outcome)))
        return failure;
    if (auto back = reconnectAfterBreak(resumption, resumption.pause()); !back)
        return failure;
    if (!state.canResume()) {
        if (auto emptied = state.startOver(
                state.restartable ? "nothing tells whether the server's file changed" : "no REST");
            !emptied)
            return std::move(emptied).failure();
        return false;
    }
    resumption.announce(state.bytes);
    return false;
}

}  // namespace quorvane::client
