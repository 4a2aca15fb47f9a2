#include "posix/net/socket.h"

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace quorvane::client {

bool waitFor(int fd, short events, Deadline deadline, bool& timedOut)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready > 0)
            return true;
        if (ready == 0) {
            timedOut = true;
            return false;
        }
        if (errno != EINTR)
            return false;
    }
}

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

// A socket whose connect to `address` is under way (or already done).
FileDescriptor beginConnect(const sockaddr* address, socklen_t length)
{
    FileDescriptor fd(::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // An interrupted connect goes on in the background, as one in progress.
    if (fd && ::connect(fd.get(), address, length) != 0 && errno != EINPROGRESS && errno != EINTR)
        fd.reset();
    return fd;
}

// After the socket became writable: whether the connect succeeded.
bool finishConnect(int fd, int* failed = nullptr)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        if (failed)
            *failed = error;
        return false;
    }
    // Commands are small and answered one at a time: send each at once.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Keepalive probes after 30 s of quiet, every 10 s, four unanswered
    // ones ending the connection: they keep a NAT's mapping of an idle
    // control connection alive through a long transfer, and find one that
    // died without waiting out a reply's deadline.
    constexpr int kIdle = 30, kInterval = 10, kProbes = 4;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kIdle, sizeof kIdle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kInterval, sizeof kInterval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kProbes, sizeof kProbes);
    // Bytes sent and never acknowledged end the connection as soon as the
    // probes would, not after the kernel's minutes of retransmission.
    constexpr unsigned kUnacknowledgedMs = (kIdle + kInterval * kProbes) * 1000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedMs, sizeof kUnacknowledgedMs);
    return true;
}

FileDescriptor connectOne(const sockaddr* address, socklen_t length, Deadline deadline,
                          bool& timedOut)
{
    FileDescriptor fd = beginConnect(address, length);
    if (!fd || !waitFor(fd.get(), POLLOUT, deadline, timedOut) || !finishConnect(fd.get()))
        return {};
    return fd;
}

Failure connectFailure(bool timedOut, const std::string& where)
{
    if (timedOut)
        return Failure{FailureKind::TimedOut, "no connection (deadline) to " + where};
    return Failure{FailureKind::CannotConnect, "cannot connect to " + where};
}

}  // namespace

Outcome<FileDescriptor> connectTcp(const std::string& host, std::uint16_t port, Deadline deadline)
{
    const std::string where = host + " port " + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (host.empty() ||
        ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return Failure{FailureKind::NotResolved, "cannot resolve " + where};
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);

    bool timedOut = false;
    for (const addrinfo* address = list.get(); address && !timedOut; address = address->ai_next) {
        if (FileDescriptor fd =
                connectOne(address->ai_addr, address->ai_addrlen, deadline, timedOut))
            return fd;
    }
    return connectFailure(timedOut, where);
}

bool PeerAddress::withPort(std::uint16_t port)
{
    if (storage.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(storage).sin_port = htons(port);
    else if (storage.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(storage).sin6_port = htons(port);
    else
        return false;
    return true;
}

bool peerAddressOf(int fd, PeerAddress& peer)
{
    peer.length = sizeof peer.storage;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer.storage), &peer.length) == 0;
}

bool isIpv6(const PeerAddress& peer) { return peer.storage.ss_family == AF_INET6; }

std::string addressText(const PeerAddress& peer)
{
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&peer.storage), peer.length, host,
                      sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    std::string text;
    if (isIpv6(peer))
        text.append("[").append(host).append("]");
    else
        text.append(host);
    return text.append(":").append(port);
}

Outcome<FileDescriptor> startConnect(const PeerAddress& address)
{
    FileDescriptor fd =
        beginConnect(reinterpret_cast<const sockaddr*>(&address.storage), address.length);
    if (!fd)
        return connectFailure(false, addressText(address));
    return fd;
}

Outcome<> completeConnect(int fd, const PeerAddress& address)
{
    int error = 0;
    if (finishConnect(fd, &error))
        return {};
    // Connected, and already reset: whatever had arrived is lost with it
    // (the socket would read as an empty stream from here on).
    if (error == ECONNRESET || error == EPIPE || error == ECONNABORTED)
        return Failure(FailureKind::ConnectionLost, "the data connection broke");
    return connectFailure(false, addressText(address));
}

Failure failureOf(const IoResult& result, std::string_view timedOut, std::string_view lost)
{
    if (result == IoStatus::TimedOut)
        return Failure(FailureKind::TimedOut, std::string(timedOut));
    Failure failure(FailureKind::ConnectionLost, std::string(lost));
    if (result == IoStatus::Failed && result.error == ETIMEDOUT)
        failure.cause += " (keepalive probes went unanswered)";
    return failure;
}

IoResult sendAll(int fd, std::string_view data, Timer& timer)
{
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            timer.progressed();
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            bool timedOut = false;
            if (!waitFor(fd, POLLOUT, timer.deadline(), timedOut))
                return timedOut ? IoStatus::TimedOut : IoStatus::Failed;
            continue;
        }
        const int error = errno;
        return IoResult::failed(error, error == EPIPE || error == ECONNRESET ? IoStatus::Closed
                                                                             : IoStatus::Failed);
    }
    return IoStatus::Ok;
}

IoResult receiveSome(int fd, char* buffer, std::size_t capacity, Timer& timer,
                     std::size_t& received)
{
    received = 0;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, capacity, 0);
        if (got > 0) {
            received = static_cast<std::size_t>(got);
            timer.progressed();
            return IoStatus::Ok;
        }
        if (got == 0)
            return IoStatus::Closed;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            bool timedOut = false;
            if (!waitFor(fd, POLLIN, timer.deadline(), timedOut))
                return timedOut ? IoStatus::TimedOut : IoStatus::Failed;
            continue;
        }
        // A reset is no end of the stream: what was in flight is lost.
        return IoResult::failed(errno);
    }
}

}  // namespace quorvane::client
