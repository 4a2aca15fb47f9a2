// SPDX-License-Identifier: MIT
// What a server says of one file: its size and modification time, from the
// replies to SIZE and MDTM (RFC 3659 sections 3 and 4) or MLST (section 7).
// A reply can be a refusal, a value, or neither: a "213" that cannot be read
// is no refusal, and must not be taken for one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "posix/wire/reply_reader.h"

namespace quorvane::client {

template <typename T>
struct Answer {
    enum class Kind { Refused, Unreadable, Value };
    Kind kind = Kind::Refused;
    T value{};

    bool has() const { return kind == Kind::Value; }
};

// "213 1234".
Answer<std::uint64_t> parseSizeReply(const Reply& reply);

// "213 YYYYMMDDHHMMSS[.sss]" (UTC), the time as the server wrote it.
Answer<std::string> parseMdtmReply(const Reply& reply);

struct FileFacts {
    std::optional<std::uint64_t> size;
    std::string modified;  // as MDTM writes it; empty where not told
    bool isFile = true;  // type=file, or no type fact
};

// "250-..." / " type=file;size=12;modify=20261209064137; name" / "250 End":
// the facts of the one line that starts with a space.
Answer<FileFacts> parseMlstReply(const Reply& reply);

}  // namespace quorvane::client
