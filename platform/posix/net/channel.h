// SPDX-License-Identifier: MIT
// A connection to the server: a plain TCP socket, or a TLS stream over it.
// The control connection and the data connections move their bytes through
// one, so that deadlines and TLS are handled in one place, not on each path.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "posix/net/socket.h"
#include "posix/net/tls.h"

namespace quorvane::client {

class Channel {
public:
    Channel() = default;
    explicit Channel(FileDescriptor socket) : socket_(std::move(socket)) {}

    explicit operator bool() const { return static_cast<bool>(socket_); }
    // The socket, for zero-copy calls on plain channels.
    int fd() const { return socket_.get(); }
    bool isTls() const { return tls_ != nullptr; }
    const TlsStream* tls() const { return tls_.get(); }
    bool peerAddress(PeerAddress& peer) const { return socket_ && peerAddressOf(fd(), peer); }

    // Turns the channel into a TLS client stream (see TlsStream::handshake).
    // `bulk`: a data connection, read in large pieces.
    // The same in steps (see TlsStream::prepareHandshake).
    IoResult beginTls(const TlsContext& context, const std::string& host, const TlsSession& resume,
                      bool bulk);
    IoResult continueTls(Timer& timer) { return tls_->continueHandshake(timer); }
    IoResult startTls(const TlsContext& context, const std::string& host, const TlsSession& resume,
                      bool bulk, Timer& timer);

    IoResult send(std::string_view data, Timer& timer);
    // At least one byte and at most `capacity`; Closed at the end of the stream.
    IoResult receive(char* buffer, std::size_t capacity, std::size_t& got, Timer& timer);
    // After the last byte of a transfer: TLS says close_notify and hears the
    // peer's; a plain channel ends its side and waits for the peer's end.
    IoResult finish(Timer& timer);

    // Whether receive() would have something without the socket: TLS
    // records already read in.
    bool hasBufferedInput() const { return tls_ && tls_->hasBufferedInput(); }
    // Waits until the socket has something to read, or the timer runs out.
    IoResult awaitInput(const Timer& timer) const;

    // Ends our side without waiting for the peer's (close_notify under TLS),
    // then closes.
    void closeWithoutWaiting(Timer& timer)
    {
        if (tls_)
            static_cast<void>(tls_->notifyClose(timer));
        close();
    }

    void close()
    {
        tls_.reset();
        socket_.reset();
    }

private:
    FileDescriptor socket_;
    std::unique_ptr<TlsStream> tls_;  // destroyed before the socket closes
};

// How a TLS handshake that ended with `result` failed, in words for the
// transcript ("TLS handshake on the data connection failed: certificate has
// expired"). A stream cut short during it is a lost connection, not a TLS
// verdict.
Failure handshakeFailure(const IoResult& result, bool dataConnection);

// The TLS handshake on a control or data connection (see Channel::startTls).
Outcome<> handshakeTls(Channel& channel, const TlsContext& context, const std::string& host,
                       const TlsSession& resume, bool dataConnection, Timer& timer);

}  // namespace quorvane::client
