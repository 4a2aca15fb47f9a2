// SPDX-License-Identifier: MIT
// The start of a passive transfer without a round trip lost: the command
// leaves while the data connection's TCP connect is still in flight, and the
// connect, the server's preliminary reply and, under TLS, the data
// connection's handshake are awaited together, in whatever order the server
// takes them (most send 150 and then handshake; some handshake first). The
// handshake waits a moment for the 1xx, since a server may drop a data
// connection that speaks before its command has been read (pyftpdlib does).
// A refusal on the control connection ends the wait at once.
#pragma once

#include <string>
#include <string_view>

#include "posix/client/control_connection.h"
#include "posix/client/server_knowledge.h"

namespace quorvane::client {

// What a protected data connection needs: the context, the name its
// certificate must carry, the session it resumes, and what the session has
// learnt of the server, which a transfer may add to (the handshake's order).
struct DataProtection {
    const TlsContext& context;
    const std::string& host;
    const TlsSession& session;
    ServerKnowledge& learned;
};

struct StartedTransfer {
    Channel data;
    Reply preliminary;
};

// Connects to `data` and sends `command` on `control`. Nothing is left in
// flight when it fails: the data connection is closed, and the server's
// answer to the command is read (or the control connection dropped);
// `unreachable` says whether the data connection could not be made at all.
Outcome<StartedTransfer> startPassiveTransfer(ControlConnection& control, const PeerAddress& data,
                                              std::string_view command,
                                              const DataProtection* protection, bool& unreachable);

}  // namespace quorvane::client
