// SPDX-License-Identifier: MIT
// For a file that is flushed to the disk once complete (a download that
// replaces a file, the listing): its pages go to the disk while it is still
// being written, so that the flush at the end has little left to wait for.
#pragma once

#include <fcntl.h>

#include <cstdint>

namespace quorvane::client {

class WriteBehind {
public:
    // Bytes counted from `base`, where the writing starts in the file; a
    // write-out starts once `step` more bytes have been written.
    WriteBehind(int fd, std::uint64_t base, std::uint64_t step) : fd_(fd), base_(base), step_(step)
    {
    }

    void advance(std::uint64_t written)
    {
        if (written - started_ < step_)
            return;
        // Only a hint: where it fails, the final flush does it all.
        ::sync_file_range(fd_, static_cast<off_t>(base_ + started_),
                          static_cast<off_t>(written - started_), SYNC_FILE_RANGE_WRITE);
        started_ = written;
    }

private:
    int fd_;
    std::uint64_t base_;
    std::uint64_t step_;
    std::uint64_t started_ = 0;
};

}  // namespace quorvane::client
