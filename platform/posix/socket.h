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

// Connects to one address within `deadline`.
FileDescriptor connectAddress(const PeerAddress& address, Deadline deadline, ConnectError& error);

// Resolves `host` (a name or a literal IPv4/IPv6 address) and tries each
// address in turn until one accepts, all within `deadline`.
FileDescriptor connectTcp(const std::string& host, std::uint16_t port, Deadline deadline,
                          ConnectError& error);

enum class IoStatus { Ok, TimedOut, Closed, Failed };

IoStatus sendAll(int fd, std::string_view data, Deadline deadline);

// Polls `fd` for `events` until the deadline. False on timeout (`timedOut`
// set) or on a poll failure.
bool waitFor(int fd, short events, Deadline deadline, bool& timedOut);

// Waits for and reads whatever is available, at most `capacity` bytes.
IoStatus receiveSome(int fd, char* buffer, std::size_t capacity, Deadline deadline,
                     std::size_t& received);

}  // namespace quorvane::client
