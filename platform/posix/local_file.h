// Local files of a transfer. A download is written to a temporary file beside
// its target and only renamed over it once complete, so a failed download
// never costs the user the file that was there before.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "socket.h"

namespace quorvane::client {

class TemporaryFile {
public:
    // Creates an empty temporary file in the folder of `target`.
    static std::optional<TemporaryFile> besides(const std::string& target);

    TemporaryFile(TemporaryFile&& other) noexcept
        : fd_(std::move(other.fd_)), path_(std::exchange(other.path_, {})),
          target_(std::move(other.target_)) {}
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    ~TemporaryFile();

    int fd() const { return fd_.get(); }

    // Closes the file and renames it over the target; false (and the
    // temporary file removed) when that fails.
    bool replaceTarget();

private:
    TemporaryFile(FileDescriptor fd, std::string path, std::string target)
        : fd_(std::move(fd)), path_(std::move(path)), target_(std::move(target)) {}

    FileDescriptor fd_;
    std::string path_;  // empty once renamed
    std::string target_;
};

// Opens an existing local file for reading; an empty descriptor if it is
// missing, unreadable or not a regular file.
FileDescriptor openForReading(const std::string& path);

}  // namespace quorvane::client
