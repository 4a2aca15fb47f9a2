// SPDX-License-Identifier: MIT
// Time limits on the monotonic clock: a fixed instant (a reply, a
// handshake) or a spell without progress (a transfer, where slow but moving
// data is fine).
#pragma once

#include <chrono>

namespace quorvane::client {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline deadlineIn(Clock::duration timeout) { return Clock::now() + timeout; }

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
