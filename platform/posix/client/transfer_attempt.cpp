// SPDX-License-Identifier: MIT
// One attempt at a transfer, top to bottom (see transfer_attempt.h).
#include "posix/client/transfer_attempt.h"

#include "posix/client/ftp_connection.h"
#include "posix/wire/passive_reply.h"

namespace quorvane::client {
namespace {

bool isBreak(const Failure& failure)
{
    return failure.kind == FailureKind::TimedOut || failure.kind == FailureKind::ConnectionLost;
}

AttemptResult ended(AttemptResult result, AttemptEnd end, Outcome<> outcome)
{
    result.end = end;
    result.outcome = std::move(outcome);
    return result;
}

// A failure before the stream: a break, or the server's no.
AttemptResult failedBefore(AttemptResult result, Failure failure)
{
    const AttemptEnd end = isBreak(failure) ? AttemptEnd::Broken : AttemptEnd::Refused;
    return ended(std::move(result), end, std::move(failure));
}

}  // namespace

AttemptResult FtpConnection::attempt(const AttemptPlan& plan)
{
    AttemptResult result;
    if (auto ready = readyFor({plan.remote}); !ready)
        return failedBefore(std::move(result), std::move(ready).failure());
    // Until the stream starts, no wait outlasts the way back.
    std::optional<DeadlineCap> cap;
    if (plan.wayBack)
        cap.emplace(life_, *plan.wayBack);

    // What the server says of the file, in the same write as EPSV.
    bool extended = usesEpsv();
    std::vector<Reply> facts;
    auto address =
        passiveAddress(extended, identityCommands(learned_.features, plan.remote), &facts);
    result.identity = identityFrom(learned_.features, facts);
    if (!address && extended && control().isAlive()) {
        learned_.epsvBroken = true;  // broken EPSV stays broken: PASV from now on
        extended = false;
        address = passiveAddress(false);
    }
    if (!address)
        return failedBefore(std::move(result), std::move(address).failure());
    const auto offset = plan.startAt(result.identity);
    if (!offset)
        return ended(std::move(result), AttemptEnd::Changed,
                     Failure(FailureKind::Refused, "the server's file changed"));
    result.offset = *offset;

    const bool appends = plan.appendWhenResumed && *offset > 0;
    std::string command(appends ? "APPE" : plan.verb);
    command.append(" ").append(plan.remote);
    TransferStart start =
        startTransfer(command, *address, extended, appends ? 0 : *offset, !plan.sending);
    if (start.restRefused)
        return ended(std::move(result), AttemptEnd::RestRefused,
                     std::move(start.transfer).failure());
    if (!start.transfer)
        return failedBefore(std::move(result), std::move(start.transfer).failure());
    cap.reset();  // the stream is moving: its own inactivity limit holds now
    DataTransfer& transfer = *start.transfer;
    result.announced = parseAnnouncedSize(transfer.started.text, plan.remote);
    auto moved = plan.move(transfer.data, *offset, transfer.bytes);
    result.moved = transfer.bytes;
    TransferEnd end = completeTransfer(transfer, std::move(moved));
    // A short stream with a 226 is still a short file.
    if (end.end == AttemptEnd::Completed && !plan.sending && *offset == 0 && result.announced &&
        *result.announced != result.moved)
        return ended(std::move(result), AttemptEnd::Broken,
                     Failure(FailureKind::ConnectionLost,
                             "the server announced " + std::to_string(*result.announced) +
                                 " bytes, " + std::to_string(result.moved) + " arrived"));
    return ended(std::move(result), end.end, std::move(end.outcome));
}

}  // namespace quorvane::client
