// SPDX-License-Identifier: MIT
// What a session learns about its server on the way. It outlives any one
// control connection: a reconnection keeps it.
#pragma once

#include <cstdint>
#include <optional>

#include "posix/wire/feature_reply.h"

namespace quorvane::client {

// The zone the server lists LIST times in, as learnt once a session:
// seconds east of UTC, nothing while not yet asked. Once `settled`, it is
// not asked again.
struct ListZone {
    std::optional<std::int64_t> offset;
    bool settled = false;
    bool unknownSaid = false;  // the transcript said it is not known yet
};

struct ServerKnowledge {
    ServerFeatures features;  // as FEAT told them at the last log-in
    bool epsvBroken = false;  // broken EPSV stays broken: PASV from then on
    // The server answers a data command only once the data connection's
    // TLS handshake is done (ftp-srv does): the handshake then starts at
    // once, not after the preliminary reply.
    bool handshakeBeforeReply = false;
    ListZone listZone;
};

}  // namespace quorvane::client
