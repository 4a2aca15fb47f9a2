// SPDX-License-Identifier: MIT
// Non-blocking TCP sockets with deadlines: no call here can wait past the
// deadline it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/socket.h>

#include "posix/net/deadline.h"
#include "posix/net/failure.h"
#include "posix/net/file_descriptor.h"

namespace quorvane::client {

// Where a connected socket leads: its peer's address, for reuse with another port.
struct PeerAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    bool withPort(std::uint16_t port);
};

bool peerAddressOf(int fd, PeerAddress& peer);
bool isIpv6(const PeerAddress& peer);
// "127.0.0.1:21", "[::1]:21": for the transcript.
std::string addressText(const PeerAddress& peer);

// A connect to one address in two steps, for a caller that waits on more
// than this: a socket whose connect is under way, and once it is writable,
// whether the connect succeeded (one reset at once is a broken connection,
// not a refused one).
Outcome<FileDescriptor> startConnect(const PeerAddress& address);
Outcome<> completeConnect(int fd, const PeerAddress& address);

// Resolves `host` (a name or a literal IPv4/IPv6 address) and tries each
// address in turn until one accepts, all within `deadline`.
Outcome<FileDescriptor> connectTcp(const std::string& host, std::uint16_t port, Deadline deadline);

enum class IoStatus {
    Ok,
    TimedOut,
    Closed,  // the peer ended the stream (for TLS: with close_notify)
    Truncated,  // TLS only: the stream ended without close_notify
    Failed,  // a network error, or for TLS a protocol or certificate error
};

// How an I/O call ended and, where it failed, why. The reason travels up
// with the status, never through the thread or the stream, so that nothing
// left from an earlier failure is blamed for a later one.
struct IoResult {
    IoResult(IoStatus status = IoStatus::Ok) : status(status) {}
    // A socket call failed with `error`.
    static IoResult failed(int error, IoStatus status = IoStatus::Failed)
    {
        IoResult result(status);
        result.error = error;
        return result;
    }

    bool operator==(IoStatus other) const { return status == other; }

    IoStatus status;
    int error = 0;  // the failed socket call's errno (ETIMEDOUT: keepalive found the peer gone)
    TlsFailure tls = TlsFailure::None;  // why TLS failed, where it did
    std::string tlsText;  // the same in OpenSSL's words ("certificate has expired")
};

// The failure a result other than Ok stands for, in the words of the step it
// ended: `timedOut` when a time limit passed, `lost` when the connection broke
// or ended.
Failure failureOf(const IoResult& result, std::string_view timedOut, std::string_view lost);

IoResult sendAll(int fd, std::string_view data, Timer& timer);

// Polls `fd` for `events` until the deadline. False on timeout (`timedOut`
// set) or on a poll failure.
bool waitFor(int fd, short events, Deadline deadline, bool& timedOut);

// Waits for and reads whatever is available, at most `capacity` bytes.
IoResult receiveSome(int fd, char* buffer, std::size_t capacity, Timer& timer,
                     std::size_t& received);

}  // namespace quorvane::client
