// SPDX-License-Identifier: MIT
// The digest of a local file's first bytes, to hold against the one a server
// computes of its copy. Only asked where a transfer's outcome is in doubt, so
// it reads the file back rather than slow every transfer down.
#pragma once

#include <cstdint>
#include <string>

#include "posix/net/failure.h"
#include "posix/wire/digest_reply.h"

namespace quorvane::client {

// Lower-case hex, as parseDigestReply gives the server's.
Outcome<std::string> digestOfFile(int fd, std::uint64_t length, DigestAlgorithm algorithm,
                                  const std::string& name);

}  // namespace quorvane::client
