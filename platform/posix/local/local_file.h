// SPDX-License-Identifier: MIT
// Local files of a transfer. A download is written to a temporary file beside
// its target and only put in its place once complete, so a failed download
// never costs the user the file that was there before, and nobody else sees
// it half written.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "posix/net/failure.h"
#include "posix/net/file_descriptor.h"

namespace quorvane::client {

class TemporaryFile {
public:
    // Creates an empty, private temporary file beside `target`, or beside the
    // file a symbolic link at `target` finally leads to. It has no name while
    // it fills where the file system allows (O_TMPFILE); elsewhere it is a
    // named file, locked while it fills, and leftovers no one holds a lock
    // on and no one has written for ten minutes are removed. Refuses a target that is not a regular file, that its
    // owner made read-only, that a link leads to outside `root` (the device
    // root), or that a link in a sticky world-writable folder leads to when
    // the link is neither the caller's nor the folder owner's (the kernel's
    // rule for links it follows itself).
    static Outcome<TemporaryFile> beside(const std::string& target, const std::string& root);

    // What a kept download already holds of a remote file, as recorded.
    struct Kept {
        std::uint64_t flushed = 0;  // bytes known to be on the disk
        std::optional<std::uint64_t> size;  // the remote file's, when recorded
        std::string modified;  // its MDTM time; empty when none was recorded
    };

    // A download kept across calls and restarts (QUORVANE_KEEP_PARTIAL=1):
    // the named, private, locked partial file for `target`, holding what it
    // held before of `source` (the server and remote path), or empty for a
    // fresh one (a partial of another source, or without a record, starts
    // over). Partials nobody holds that belong to other targets, or that are
    // days old, are removed. Nothing when another process holds this one.
    static std::optional<TemporaryFile> kept(const std::string& target, const std::string& root,
                                             const std::string& source);

    TemporaryFile(TemporaryFile&& other) noexcept = default;
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    // A kept file stays, flushed and recorded, unless it replaced its target.
    ~TemporaryFile();

    // Kept files only: what it holds, the remote file's identity to record,
    // and where the data now ends (every 8 MiB or 2 s it is flushed and
    // recorded).
    const std::optional<Kept>& held() const { return kept_; }
    void identify(std::optional<std::uint64_t> size, const std::string& modified);
    void written(std::uint64_t end);

    int fd() const { return fd_.get(); }
    // Whether a file is replaced, and so flushed to the disk first.
    bool replacesAFile() const { return replacing_; }
    // The file the download ends up as (where links led).
    const std::string& target() const { return target_; }

    // Empties the file, for a download that starts over.
    Outcome<> restart();

    // Gives the file its final mode and puts it in the target's place; the
    // temporary file is gone when that fails. An existing target is only
    // replaced by data already on the disk, so that a power cut cannot leave
    // it empty where the file system does not order data before the rename;
    // the folder is flushed after, so that the new name is on the disk too.
    // A file that will itself replace another later (the listing, renamed
    // over the last one) asks for its data on the disk always.
    enum class DataFlush { WhenReplacing, Always };
    Outcome<> replaceTarget(DataFlush flush = DataFlush::WhenReplacing);

private:
    Outcome<> flushData() const;

    TemporaryFile(FileDescriptor folder, FileDescriptor fd, std::string name, std::string target,
                  bool replacing, mode_t mode)
        : folder_(std::move(folder)), fd_(std::move(fd)), name_(std::move(name)),
          target_(std::move(target)), replacing_(replacing), mode_(mode)
    {
    }

    // Gives the unnamed file `name` in its folder.
    bool link(const std::string& name) const;
    Outcome<> flushFolder() const;
    // Writes the kept file's record beside it (.meta), durably.
    void record() const;

    FileDescriptor folder_;  // where the target lies
    FileDescriptor fd_;
    std::string name_;  // in folder_; empty while it has none (or once it is the target)
    std::string target_;
    bool replacing_;
    mode_t mode_;  // the mode it takes when complete
    std::optional<Kept> kept_;  // a kept download's record
    std::string source_;  // a kept download's server and remote path
    std::chrono::steady_clock::time_point checkpointed_;  // when it was last flushed
};

// Renames `source` over `target` and flushes the folder after it, so that
// the new name is on the disk once it returns. The data should be there
// before (DataFlush::Always): where the file system does not order data before a
// rename, a power cut could otherwise leave the target empty.
Outcome<> renameDurably(const std::string& source, const std::string& target);

// Unnamed temporary files are used where the file system takes them; off,
// every one is named (tests use this to run the fallback anywhere).
void setUnnamedTemporaryFiles(bool enabled);

// Opens an existing local file for reading; fails if it is missing,
// unreadable or not a regular file, or where `beside` would refuse to write
// it: a link that leads out of `root` (the device root), or another user's
// link in a sticky folder writable by all. Never waits: a FIFO without a
// writer is refused at once, not waited on.
Outcome<FileDescriptor> openForReading(const std::string& path, const std::string& root);

// A local file that could not be used, in the words of the transcript:
// "cannot write PATH: No space left on device".
Failure localFailure(std::string_view action, const std::string& path, int error);

}  // namespace quorvane::client
