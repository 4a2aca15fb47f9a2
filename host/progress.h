// SPDX-License-Identifier: MIT
// Progress of a long transfer, shown on a terminal. The module has no
// callbacks, so a side thread watches this process's own I/O counters, which
// grow as the module reads or writes the local file.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

enum class Progress { None, LocalWrites, LocalReads };

class ProgressDisplay {
public:
    // Starts watching when `kind` is not None and stderr is a terminal.
    explicit ProgressDisplay(Progress kind);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

private:
    void watch(Progress kind);

    std::atomic<bool> done_{false};
    std::thread watcher_;
    bool shown_ = false;
};
