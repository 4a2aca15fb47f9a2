#include "posix/net/channel.h"

#include <poll.h>
#include <sys/socket.h>

namespace quorvane::client {

IoResult Channel::beginTls(const TlsContext& context, const std::string& host,
                           const TlsSession& resume, bool bulk)
{
    tls_ = std::make_unique<TlsStream>(context, fd(), bulk);
    return tls_->prepareHandshake(host, resume);
}

IoResult Channel::startTls(const TlsContext& context, const std::string& host,
                           const TlsSession& resume, bool bulk, Timer& timer)
{
    tls_ = std::make_unique<TlsStream>(context, fd(), bulk);
    return tls_->handshake(host, resume, timer);
}

IoResult Channel::send(std::string_view data, Timer& timer)
{
    if (!socket_)
        return IoStatus::Failed;
    return tls_ ? tls_->write(data, timer) : sendAll(fd(), data, timer);
}

IoResult Channel::receive(char* buffer, std::size_t capacity, std::size_t& got, Timer& timer)
{
    got = 0;
    if (!socket_)
        return IoStatus::Failed;
    return tls_ ? tls_->read(buffer, capacity, got, timer)
                : receiveSome(fd(), buffer, capacity, timer, got);
}

IoResult Channel::awaitInput(const Timer& timer) const
{
    if (hasBufferedInput())
        return IoStatus::Ok;
    bool timedOut = false;
    if (waitFor(fd(), POLLIN, timer.deadline(), timedOut))
        return IoStatus::Ok;
    return timedOut ? IoStatus::TimedOut : IoStatus::Failed;
}

Failure handshakeFailure(const IoResult& result, bool dataConnection)
{
    const std::string where = dataConnection ? " on the data connection" : "";
    if (result == IoStatus::TimedOut)
        return Failure(FailureKind::TimedOut, "no TLS handshake" + where + " before the deadline");
    const std::string cause = "TLS handshake" + where + " failed: " + result.tlsText;
    if (result == IoStatus::Truncated)
        return Failure(FailureKind::ConnectionLost, cause);
    return tlsFailure(result.tls, cause);
}

Outcome<> handshakeTls(Channel& channel, const TlsContext& context, const std::string& host,
                       const TlsSession& resume, bool dataConnection, Timer& timer)
{
    const IoResult result = channel.startTls(context, host, resume, dataConnection, timer);
    if (result != IoStatus::Ok)
        return handshakeFailure(result, dataConnection);
    return {};
}

IoResult Channel::finish(Timer& timer)
{
    if (tls_)
        return tls_->shutdown(timer);
    // Our end of the stream, then the peer's: a server closes the data
    // connection once it has read all, and a reset on the way (the data lost
    // in flight) shows here rather than never.
    ::shutdown(fd(), SHUT_WR);
    char scratch[4096];
    std::size_t got = 0;
    IoResult status;
    while ((status = receiveSome(fd(), scratch, sizeof scratch, timer, got)) == IoStatus::Ok) {
    }
    return status == IoStatus::Closed ? IoResult() : status;
}

}  // namespace quorvane::client
