// SPDX-License-Identifier: MIT
// Time limits on the monotonic clock: a fixed instant (a reply, a
// handshake) or a spell without progress (a transfer, where slow but moving
// data is fine).
#pragma once

#include <algorithm>
#include <chrono>

namespace quorvane::client {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline deadlineIn(Clock::duration timeout) { return Clock::now() + timeout; }

// A wait until `deadline` as poll() takes it: milliseconds, rounded up (a
// wait that ends just short of the deadline would only spin), 0 once passed.
inline int millisecondsUntil(Deadline deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// When a wait gives up.
class Timer {
public:
    static Timer until(Deadline deadline) { return Timer(deadline, Clock::duration::zero()); }
    static Timer idleFor(Clock::duration idle) { return Timer(deadlineIn(idle), idle); }

    Deadline deadline() const { return deadline_; }
    bool expired() const { return Clock::now() >= deadline_; }
    // Bytes moved: an inactivity limit starts again.
    void progressed()
    {
        if (idle_ != Clock::duration::zero())
            deadline_ = deadlineIn(idle_);
    }

private:
    Timer(Deadline deadline, Clock::duration idle) : deadline_(deadline), idle_(idle) {}

    Deadline deadline_;
    Clock::duration idle_;
};

}  // namespace quorvane::client
