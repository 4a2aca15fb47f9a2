// SPDX-License-Identifier: MIT
#include "posix/client/resumption.h"

#include <algorithm>

#include "common/transcript.h"

namespace quorvane::client {

bool Resumption::afterBreak(const Failure& failure, std::uint64_t reached, std::uint64_t moved)
{
    const bool breaks =
        failure.kind == FailureKind::ConnectionLost || failure.kind == FailureKind::TimedOut;
    const bool further = reached > furthest_ || (moved == 0 && !retriedEmpty_);
    retriedEmpty_ = retriedEmpty_ || moved == 0;
    furthest_ = std::max(furthest_, reached);
    const bool wayBackOver = wayBack_ && Clock::now() >= *wayBack_;
    if (!breaks || !further || attempt_ >= kAttempts || wayBackOver)
        return false;
    ++attempt_;
    cause_ = failure.cause;
    beginWayBack();
    return true;
}

bool Resumption::again(bool fileChanged)
{
    if (attempt_ >= kAttempts)
        return false;
    ++attempt_;
    if (fileChanged)
        furthest_ = 0;
    beginWayBack();
    return true;
}

void Resumption::announce(std::uint64_t at) const
{
    trace::line() << "resuming the " << what_ << " at " << at << " bytes (attempt " << attempt_
                  << " of " << kAttempts << "): " << trace::escape(cause_);
}

Clock::duration Resumption::pause() const
{
    return std::chrono::seconds(1 << std::clamp(attempt_ - 2, 0, 2));
}

}  // namespace quorvane::client
