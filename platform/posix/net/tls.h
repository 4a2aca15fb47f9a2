// SPDX-License-Identifier: MIT
// TLS (OpenSSL 3) over the client's non-blocking sockets, for explicit FTPS:
// the control connection after AUTH TLS, and every data connection, which
// resumes the control connection's session.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "posix/net/socket.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace quorvane::client {

// What every TLS connection of one session shares: the trust store (OpenSSL's
// default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply), TLS 1.2 at least,
// and a first key share (P-256) that the common servers accept at once.
class TlsContext {
public:
    // Null when OpenSSL cannot set one up.
    static std::shared_ptr<TlsContext> create();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* get() const { return context_; }

private:
    explicit TlsContext(SSL_CTX* context) : context_(context) {}
    SSL_CTX* context_;
};

// A session that later connections resume.
using TlsSession = std::shared_ptr<SSL_SESSION>;

struct Transport;

// One TLS connection over a connected, non-blocking socket that the caller
// owns and keeps open for the stream's life. Every call waits at most as its
// timer allows; reads and writes move large chunks, never a system call per
// TLS record.
class TlsStream {
public:
    // `bulk` streams (data connections) read from the socket in large pieces.
    TlsStream(const TlsContext& context, int fd, bool bulk);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // The client handshake, verifying the certificate against `host` (a DNS
    // name, also sent as SNI, or an IP literal) and offering `resume`.
    IoResult handshake(const std::string& host, const TlsSession& resume, Timer& timer);
    // The same in steps, for a caller that waits on more than this stream:
    // prepareHandshake once, then continueHandshake whenever the socket has
    // something to read, until it is no longer TimedOut ("waiting for the
    // server").
    IoResult prepareHandshake(const std::string& host, const TlsSession& resume);
    IoResult continueHandshake(Timer& timer);

    // Up to `capacity` bytes, at least one; Closed at the peer's close_notify,
    // Truncated when the stream ends without one.
    IoResult read(char* buffer, std::size_t capacity, std::size_t& got, Timer& timer);
    // All of `data`, sent before it returns.
    IoResult write(std::string_view data, Timer& timer);
    // Sends close_notify and, unless the peer's has come already, reads up to
    // the peer's close_notify or the end of the stream. A server whose last
    // ticket stays unread would see the connection reset and lose data.
    IoResult shutdown(Timer& timer);
    // Sends close_notify and nothing more: for an end whose answer is of no use.
    IoResult notifyClose(Timer& timer);

    // Decrypted or received bytes not yet read: a read would not have to wait.
    bool hasBufferedInput() const;

    TlsSession session() const;
    bool resumed() const;
    // "TLSv1.3 TLS_AES_128_GCM_SHA256 CN=host (resumed)": for diagnosis.
    std::string description() const;

private:
    template <typename Step>
    IoResult drive(Step step, Timer& timer);
    // One try of `step`, what it had to send flushed: its end (Ok or a
    // failure), or nothing when it must wait for the socket (`error` says
    // for what).
    template <typename Step>
    std::optional<IoResult> attempt(Step step, Timer& timer, int& error);
    IoResult flush(Timer& timer);
    IoResult classify(int result);

    std::unique_ptr<Transport> transport_;
    SSL* ssl_ = nullptr;
    bool peerClosed_ = false;
};

}  // namespace quorvane::client
