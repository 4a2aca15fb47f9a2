// SPDX-License-Identifier: MIT
// What a remote file was at one moment, as far as the server tells: whether
// it was there, its size, its modification time. A transfer takes it before
// its first byte and again after a break: a download resumes only while the
// file is the same, and an upload only onto bytes provably its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/wire/feature_reply.h"
#include "posix/wire/reply_reader.h"

namespace quorvane::client {

struct FileIdentity {
    enum class Presence { Unknown, Absent, Present };
    Presence presence = Presence::Unknown;
    std::optional<std::uint64_t> size;
    std::string modified;  // as MDTM or MLST's modify fact writes it

    bool isPresent() const { return presence == Presence::Present; }
    // Enough to tell another version of the file: its time is known.
    bool isStrong() const { return isPresent() && !modified.empty(); }
};

// The same file as far as both say: present both times with the same time,
// and the same size where both tell it.
bool isSameFile(const FileIdentity& before, const FileIdentity& now);

// Provably another file now: there now and absent before, or another time
// or size than before.
bool hasChangedFrom(const FileIdentity& before, const FileIdentity& now);

// The commands that ask for it: MLST where offered, else SIZE and MDTM where
// offered; none where the server tells nothing of its files.
std::vector<std::string> identityCommands(const ServerFeatures& features, std::string_view remote);

// What the replies to those commands say, in their order.
FileIdentity identityFrom(const ServerFeatures& features, const std::vector<Reply>& replies);

// "size 1234, modified 20261209064137" for the transcript.
std::string describe(const FileIdentity& identity);

}  // namespace quorvane::client
