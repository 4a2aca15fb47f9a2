#include "posix/net/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

namespace quorvane::client {

// The socket under a TLS stream, as OpenSSL sees it. Reads take large
// pieces from the socket into `in` and hand OpenSSL a record at a time:
// OpenSSL's own read-ahead moves all it holds to the front of its buffer at
// every record, which costs more than this one copy. Writes collect here and
// leave in one send per chunk, not one per record.
struct Transport {
    explicit Transport(std::size_t readSize)
        : in(std::make_unique_for_overwrite<char[]>(readSize)), inCapacity(readSize)
    {
    }

    std::size_t buffered() const { return inEnd - inStart; }

    int fd = -1;
    std::unique_ptr<char[]> in;  // ciphertext received, not yet taken by OpenSSL
    std::size_t inCapacity;
    std::size_t inStart = 0;
    std::size_t inEnd = 0;
    std::string out;  // ciphertext not sent yet
    std::uint64_t moved = 0;  // bytes received: progress
    bool eof = false;
    int error = 0;  // errno of a receive that failed in the step under way
    std::optional<IoResult> deferred;  // an error met after data was returned
};

namespace {

// Data connections read from the socket in pieces this large; control
// connections, whose replies are short, in one record's.
constexpr std::size_t kBulkReadSize = 256 << 10;
constexpr std::size_t kReadSize = 17 << 10;
// TLS 1.3 AES-128 first: as safe, and the fastest here.
constexpr const char* kCipherSuites =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
// OpenSSL sends a key share for the first group only. vsftpd takes nothing
// but P-256 and pure-ftpd prefers it: X25519 first would cost a
// HelloRetryRequest (a round trip) on every data connection there.
constexpr const char* kGroups = "P-256:X25519:P-384:P-521";

Transport& transportOf(BIO* bio) { return *static_cast<Transport*>(BIO_get_data(bio)); }

int transportWrite(BIO* bio, const char* data, std::size_t size, std::size_t* written)
{
    BIO_clear_retry_flags(bio);
    transportOf(bio).out.append(data, size);
    *written = size;
    return 1;
}

// Whatever the socket has, up to a piece: false (and the BIO told why) when
// it has nothing.
bool receiveIntoBuffer(BIO* bio, Transport& transport)
{
    transport.inStart = transport.inEnd = 0;
    for (;;) {
        const ssize_t got = ::recv(transport.fd, transport.in.get(), transport.inCapacity, 0);
        if (got > 0) {
            transport.inEnd = static_cast<std::size_t>(got);
            transport.moved += static_cast<std::uint64_t>(got);
            return true;
        }
        if (got == 0) {
            transport.eof = true;
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        else
            transport.error = errno;
        return false;
    }
}

int transportRead(BIO* bio, char* data, std::size_t size, std::size_t* read)
{
    Transport& transport = transportOf(bio);
    BIO_clear_retry_flags(bio);
    *read = 0;
    if (transport.buffered() == 0 && !receiveIntoBuffer(bio, transport))
        return 0;
    const std::size_t taken = std::min(size, transport.buffered());
    std::memcpy(data, transport.in.get() + transport.inStart, taken);
    transport.inStart += taken;
    *read = taken;
    return 1;
}

long transportControl(BIO* bio, int command, long, void*)
{
    switch (command) {
    case BIO_CTRL_FLUSH: return 1;  // the stream flushes, waiting as its timer allows
    case BIO_CTRL_EOF: return transportOf(bio).eof ? 1 : 0;
    default: return 0;
    }
}

int transportCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* transportMethod()
{
    // Freed when the module is unloaded: a host that loads it again and
    // again loses nothing.
    static const std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> method(
        [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quorvane");
            if (m) {
                BIO_meth_set_write_ex(m, transportWrite);
                BIO_meth_set_read_ex(m, transportRead);
                BIO_meth_set_ctrl(m, transportControl);
                BIO_meth_set_create(m, transportCreate);
            }
            return m;
        }(),
        BIO_meth_free);
    return method.get();
}

TlsFailure failureOfVerification(long result)
{
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID: return TlsFailure::Expired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return TlsFailure::WrongName;
    default: return TlsFailure::Untrusted;
    }
}

// Whether the peer's certificate would name `host` if its subject's CN
// counted: a name it carries only there, which is not taken (RFC 6125).
bool namesHostOnlyInCommonName(SSL* ssl)
{
    // The chain as received: a refused certificate never becomes the peer's.
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
    X509* certificate = chain && sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : nullptr;
    const char* host = X509_VERIFY_PARAM_get0_host(SSL_get0_param(ssl), 0);
    return certificate && host && X509_check_host(certificate, host, 0, 0, nullptr) == 1;
}

// OpenSSL's words for a refused certificate, and what a user can do.
std::string verificationText(SSL* ssl, long result)
{
    std::string text = X509_verify_cert_error_string(result);
    switch (result) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return text + " (a private CA? SSL_CERT_FILE names the certificates to trust)";
    case X509_V_ERR_HOSTNAME_MISMATCH:
        if (namesHostOnlyInCommonName(ssl))
            return text + " (the certificate names the host only in its CN, which is not "
                          "taken: it needs the name among its DNS subjectAltNames)";
        return text;
    default: return text;
    }
}

// OpenSSL's words for a failed handshake, and what they mean to a user.
std::string protocolText(unsigned long reason)
{
    if (!reason)
        return "protocol error";
    char text[256];
    ERR_error_string_n(reason, text, sizeof text);
    // Plain text where a TLS record should be: "220 ..." read as a header.
    if (ERR_GET_LIB(reason) == ERR_LIB_SSL &&
        (ERR_GET_REASON(reason) == SSL_R_WRONG_VERSION_NUMBER ||
         ERR_GET_REASON(reason) == SSL_R_PACKET_LENGTH_TOO_LONG))
        return std::string(text) + " (the server offers no TLS here: it answered in the clear)";
    return text;
}

}  // namespace

std::shared_ptr<TlsContext> TlsContext::create()
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    auto owned = std::shared_ptr<TlsContext>(new TlsContext(context));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    // A store that stays empty verifies nothing: every handshake then fails.
    SSL_CTX_set_default_verify_paths(context);
    if (SSL_CTX_set1_groups_list(context, kGroups) != 1 ||
        SSL_CTX_set_ciphersuites(context, kCipherSuites) != 1)
        return nullptr;
    return owned;
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

TlsStream::TlsStream(const TlsContext& context, int fd, bool bulk)
    : transport_(std::make_unique<Transport>(bulk ? kBulkReadSize : kReadSize))
{
    transport_->fd = fd;
    const BIO_METHOD* method = transportMethod();
    ssl_ = SSL_new(context.get());
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!ssl_ || !bio) {
        BIO_free(bio);
        SSL_free(ssl_);
        throw std::bad_alloc();
    }
    BIO_set_data(bio, transport_.get());
    SSL_set_bio(ssl_, bio, bio);
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

IoResult TlsStream::flush(Timer& timer)
{
    // One send for all the records a step made; the buffer keeps its memory.
    IoResult status = sendAll(transport_->fd, transport_->out, timer);
    transport_->out.clear();
    return status;
}

IoResult TlsStream::classify(int error)
{
    if (error == SSL_ERROR_ZERO_RETURN) {
        peerClosed_ = true;
        return IoStatus::Closed;
    }
    if (error == SSL_ERROR_SYSCALL) {
        // The transport failed or ended without an alert. A reset is no
        // end, with or without an alert: what was in flight is lost.
        IoResult ended = IoResult::failed(transport_->error,
                                          transport_->eof ? IoStatus::Truncated : IoStatus::Failed);
        ended.tlsText = "the connection ended without close_notify";
        return ended;
    }
    IoResult failed(IoStatus::Failed);
    failed.tls = TlsFailure::Protocol;
    failed.tlsText = "protocol error";
    if (error != SSL_ERROR_SSL)
        return failed;
    if (const long verified = SSL_get_verify_result(ssl_); verified != X509_V_OK) {
        failed.tls = failureOfVerification(verified);
        failed.tlsText = verificationText(ssl_, verified);
        return failed;
    }
    const unsigned long reason = ERR_peek_error();
    if (ERR_GET_LIB(reason) == ERR_LIB_SSL &&
        ERR_GET_REASON(reason) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        IoResult truncated(IoStatus::Truncated);
        truncated.tlsText = "the stream ended without close_notify";
        return truncated;
    }
    failed.tlsText = protocolText(reason);
    return failed;
}

template <typename Step>
std::optional<IoResult> TlsStream::attempt(Step step, Timer& timer, int& error)
{
    const std::uint64_t before = transport_->moved;
    transport_->error = 0;  // what this step meets, nothing from before
    ERR_clear_error();
    const int result = step();
    if (transport_->moved != before)
        timer.progressed();
    if (result > 0)
        return flush(timer);
    error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        // Let an alert OpenSSL queued (a refused certificate, say) reach
        // the server, without waiting for it.
        Timer now = Timer::until(Clock::now());
        IoResult status = classify(error);
        flush(now);
        return status;
    }
    if (IoResult flushed = flush(timer); flushed != IoStatus::Ok)
        return flushed;
    return std::nullopt;
}

template <typename Step>
IoResult TlsStream::drive(Step step, Timer& timer)
{
    for (;;) {
        int error = 0;
        if (const auto done = attempt(step, timer, error))
            return *done;
        // A peer that keeps sending never lets a wait happen: the clock is
        // looked at here too.
        if (timer.expired())
            return IoStatus::TimedOut;
        bool timedOut = false;
        if (error == SSL_ERROR_WANT_READ &&
            !waitFor(transport_->fd, POLLIN, timer.deadline(), timedOut))
            return timedOut ? IoStatus::TimedOut : IoStatus::Failed;
    }
}

IoResult TlsStream::handshake(const std::string& host, const TlsSession& resume, Timer& timer)
{
    if (IoResult prepared = prepareHandshake(host, resume); prepared != IoStatus::Ok)
        return prepared;
    return drive([&] { return SSL_connect(ssl_); }, timer);
}

IoResult TlsStream::prepareHandshake(const std::string& host, const TlsSession& resume)
{
    SSL_set_connect_state(ssl_);
    X509_VERIFY_PARAM* parameters = SSL_get0_param(ssl_);
    // An address literal is checked against the certificate's IP names; a
    // host name against its DNS names, and sent as SNI.
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) != 1) {
        // DNS names only: never a fallback to the subject's CN.
        X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                                        X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        if (SSL_set1_host(ssl_, host.c_str()) != 1 ||
            SSL_set_tlsext_host_name(ssl_, host.c_str()) != 1) {
            IoResult refused(IoStatus::Failed);
            refused.tls = TlsFailure::WrongName;
            refused.tlsText = "a host name OpenSSL cannot check";
            return refused;
        }
    }
    // A copy: a connection that breaks makes OpenSSL mark its session as not
    // to be resumed, and the session shared by every data connection of the
    // session must not be spoilt by one of them.
    if (resume) {
        if (SSL_SESSION* copy = SSL_SESSION_dup(resume.get())) {
            SSL_set_session(ssl_, copy);
            SSL_SESSION_free(copy);
        }
    }
    return IoStatus::Ok;
}

IoResult TlsStream::continueHandshake(Timer& timer)
{
    int error = 0;
    return attempt([&] { return SSL_connect(ssl_); }, timer, error).value_or(IoStatus::TimedOut);
}

IoResult TlsStream::read(char* buffer, std::size_t capacity, std::size_t& got, Timer& timer)
{
    got = 0;
    if (transport_->deferred)
        return *transport_->deferred;
    std::size_t read = 0;
    IoResult status = drive([&] { return SSL_read_ex(ssl_, buffer, capacity, &read); }, timer);
    if (status != IoStatus::Ok)
        return status;
    got = read;
    // What is already received fills the rest; a record cut short asks the
    // socket once, without waiting.
    while (got < capacity && hasBufferedInput()) {
        ERR_clear_error();
        const int result = SSL_read_ex(ssl_, buffer + got, capacity - got, &read);
        if (result == 1) {
            got += read;
            continue;
        }
        const int error = SSL_get_error(ssl_, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            transport_->deferred = classify(error);  // for the next call
        break;
    }
    return IoStatus::Ok;
}

IoResult TlsStream::write(std::string_view data, Timer& timer)
{
    while (!data.empty()) {
        std::size_t written = 0;
        IoResult status =
            drive([&] { return SSL_write_ex(ssl_, data.data(), data.size(), &written); }, timer);
        if (status != IoStatus::Ok)
            return status;
        data.remove_prefix(written);
    }
    return IoStatus::Ok;
}

IoResult TlsStream::shutdown(Timer& timer)
{
    ERR_clear_error();
    const int result = SSL_shutdown(ssl_);
    if (IoResult flushed = flush(timer); flushed != IoStatus::Ok)
        return flushed;
    if (result < 0)
        return classify(SSL_get_error(ssl_, result));
    if (result == 1 || peerClosed_)
        return IoStatus::Ok;
    char scratch[16 << 10];
    IoResult status;
    std::size_t got = 0;
    while ((status = read(scratch, sizeof scratch, got, timer)) == IoStatus::Ok) {
        // anything after the data is dropped
    }
    // The peer's end, with or without its close_notify, is the end asked for.
    return status == IoStatus::Closed || status == IoStatus::Truncated ? IoStatus::Ok : status;
}

IoResult TlsStream::notifyClose(Timer& timer)
{
    ERR_clear_error();
    const int result = SSL_shutdown(ssl_);
    if (IoResult flushed = flush(timer); flushed != IoStatus::Ok)
        return flushed;
    return result < 0 ? classify(SSL_get_error(ssl_, result)) : IoStatus::Ok;
}

bool TlsStream::hasBufferedInput() const
{
    return transport_->buffered() > 0 || SSL_has_pending(ssl_) == 1;
}

TlsSession TlsStream::session() const
{
    SSL_SESSION* session = SSL_get1_session(ssl_);
    return session ? TlsSession(session, SSL_SESSION_free) : TlsSession();
}

bool TlsStream::resumed() const { return SSL_session_reused(ssl_) == 1; }

std::string TlsStream::description() const
{
    std::string text = SSL_get_version(ssl_);
    text.append(" ").append(SSL_get_cipher_name(ssl_));
    if (const X509* certificate = SSL_get0_peer_certificate(ssl_)) {
        char subject[256];
        X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
        text.append(" ").append(subject);
    }
    if (resumed())
        text.append(" (resumed)");
    return text;
}

}  // namespace quorvane::client
