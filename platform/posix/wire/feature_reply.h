// SPDX-License-Identifier: MIT
// What a server's "211" reply to FEAT offers (RFC 2389): one feature per
// line, its name first. A refused FEAT offers nothing.
#pragma once

#include "posix/wire/digest_reply.h"
#include "posix/wire/reply_reader.h"

namespace quorvane::client {

struct ServerFeatures {
    bool mlst = false;
    bool epsv = false;
    bool utf8 = false;
    bool size = false;
    bool mdtm = false;
    DigestFeatures digests;
};

ServerFeatures parseFeatures(const Reply& featReply);

}  // namespace quorvane::client
