// SPDX-License-Identifier: MIT
// The attempts of one transfer call, and the way back after each break. At
// most four attempts; each must get further than every one before it (an
// attempt that moved nothing may be tried once more); 1, 2, then 4 s before
// a new connection; and one deadline, the inactivity limit, over the whole
// way back after a break: the pause, the reconnection, the file's identity,
// REST and the command, up to the first byte that moves again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "posix/net/deadline.h"
#include "posix/net/failure.h"

namespace quorvane::client {

class Resumption {
public:
    static constexpr int kAttempts = 4;
    // The whole way back after a break, up to the first byte moving again.
    static constexpr auto kWayBack = std::chrono::seconds(60);

    explicit Resumption(const char* what) : what_(what) {}

    int attempt() const { return attempt_; }

    // After each attempt: bytes that moved end the way back. Until then,
    // attempts that move nothing do not renew its deadline.
    void moved(std::uint64_t bytes)
    {
        if (bytes > 0)
            wayBack_.reset();
    }

    // After an attempt that broke with `failure`, having reached `reached`
    // bytes of the file and moved `moved`: whether another may follow. Only
    // a broken or silent connection is tried again.
    bool afterBreak(const Failure& failure, std::uint64_t reached, std::uint64_t moved);

    // Once more, from the start or to look again, while attempts are left;
    // where the file changed, what the old one reached no longer counts.
    bool again(bool fileChanged = false);

    // "resuming the download at N bytes (attempt 2 of 4): why".
    void announce(std::uint64_t at) const;

    // Before a new connection: 1, 2, then 4 s.
    Clock::duration pause() const;

    // No wait on the way back lasts past it; none before the first break.
    std::optional<Deadline> wayBack() const { return wayBack_; }
    // The way back starts now, unless it already has.
    void beginWayBack()
    {
        if (!wayBack_)
            wayBack_ = deadlineIn(kWayBack);
    }

private:
    const char* what_;
    int attempt_ = 1;
    std::uint64_t furthest_ = 0;
    bool retriedEmpty_ = false;
    std::string cause_;
    std::optional<Deadline> wayBack_;
};

}  // namespace quorvane::client
