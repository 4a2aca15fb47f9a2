// Local files of a transfer. A download is written to a temporary file beside
// its target and only renamed over it once complete, so a failed download
// never costs the user the file that was there before.
#pragma once

#include <optional>
#include <string_view>
#include <string>
#include <utility>

#include "posix/net/failure.h"
#include "posix/net/file_descriptor.h"

namespace quorvane::client {

class TemporaryFile {
public:
    // Creates an empty temporary file beside `target`, or beside the file a
    // symbolic link at `target` finally leads to. Refuses a target that is
    // not a regular file or that its owner made read-only.
    static Outcome<TemporaryFile> beside(const std::string& target);

    TemporaryFile(TemporaryFile&& other) noexcept
        : fd_(std::move(other.fd_)), path_(std::exchange(other.path_, {})),
          target_(std::move(other.target_)), replacing_(other.replacing_)
    {
    }
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    ~TemporaryFile();

    int fd() const { return fd_.get(); }
    // Whether a file is replaced, and so flushed to the disk first.
    bool replacesAFile() const { return replacing_; }
    // The file the download ends up as (where links led).
    const std::string& target() const { return target_; }

    // Closes the file and renames it over the target (the temporary file is
    // removed when that fails). An existing target is only replaced by data
    // already on the disk, so that a power cut cannot leave it empty where
    // the file system does not order data before the rename.
    Outcome<> replaceTarget();

private:
    TemporaryFile(FileDescriptor fd, std::string path, std::string target, bool replacing)
        : fd_(std::move(fd)), path_(std::move(path)), target_(std::move(target)),
          replacing_(replacing)
    {
    }

    FileDescriptor fd_;
    std::string path_;  // empty once renamed
    std::string target_;
    bool replacing_;
};

// Opens an existing local file for reading; fails if it is missing,
// unreadable or not a regular file. Never waits: a FIFO without a writer is
// refused at once, not waited on.
Outcome<FileDescriptor> openForReading(const std::string& path);

// A local file that could not be used, in the words of the transcript:
// "cannot write PATH: No space left on device".
Failure localFailure(std::string_view action, const std::string& path, int error);

}  // namespace quorvane::client
