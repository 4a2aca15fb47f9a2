// Non-blocking TCP sockets with deadlines: no call here can wait past the
// deadline it is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/socket.h>

namespace quorvane::client {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline deadlineIn(Clock::duration timeout) { return Clock::now() + timeout; }

// When a wait gives up: at a fixed instant (a reply, a handshake), or after a
// spell without progress (a transfer: slow but moving data is fine).
class Timer {
public:
    static Timer until(Deadline deadline) { return Timer(deadline, Clock::duration::zero()); }
    static Timer idleFor(Clock::duration idle) { return Timer(deadlineIn(idle), idle); }

    Deadline deadline() const { return deadline_; }
    bool expired() const { return Clock::now() >= deadline_; }
    // Bytes moved: an inactivity limit starts again.
    void progressed()
    {
        if (idle_ != Clock::duration::zero())
            deadline_ = deadlineIn(idle_);
    }

private:
    Timer(Deadline deadline, Clock::duration idle) : deadline_(deadline), idle_(idle) {}

    Deadline deadline_;
    Clock::duration idle_;
};

// Owns one file descriptor.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    void reset();

private:
    int fd_ = -1;
};

enum class ConnectError { None, NotResolved, Unreachable, TimedOut };

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

// Connects to one address within `deadline`.
FileDescriptor connectAddress(const PeerAddress& address, Deadline deadline, ConnectError& error);

// Resolves `host` (a name or a literal IPv4/IPv6 address) and tries each
// address in turn until one accepts, all within `deadline`.
FileDescriptor connectTcp(const std::string& host, std::uint16_t port, Deadline deadline,
                          ConnectError& error);

enum class IoStatus {
    Ok,
    TimedOut,
    Closed,     // the peer ended the stream (for TLS: with close_notify)
    Truncated,  // TLS only: the stream ended without close_notify
    Failed,     // a network error, or for TLS a protocol or certificate error
};

IoStatus sendAll(int fd, std::string_view data, Timer& timer);

// Polls `fd` for `events` until the deadline. False on timeout (`timedOut`
// set) or on a poll failure.
bool waitFor(int fd, short events, Deadline deadline, bool& timedOut);

// Waits for and reads whatever is available, at most `capacity` bytes.
IoStatus receiveSome(int fd, char* buffer, std::size_t capacity, Timer& timer,
                     std::size_t& received);

}  // namespace quorvane::client
