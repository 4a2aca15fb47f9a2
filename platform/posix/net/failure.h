// SPDX-License-Identifier: MIT
// Why something the client tried did not work: one value that travels from
// the socket, the TLS stream, the local file or the server's reply up to the
// WinINet entry point, which turns it into the caller's error code and the
// transcript's cause line, once (wininet/errors.h).
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvane::client {

enum class FailureKind {
    Refused,  // the server answered no: a 4xx or 5xx, or a reply out of turn
    LogInRefused,  // the user name or password was not accepted
    NotResolved,  // the host name has no address
    CannotConnect,  // no connection could be made, or the server turned the session down
    TimedOut,  // a time limit passed: connecting, a reply, data that stopped moving
    ConnectionLost,  // a connection broke, or ended before it should have
    Tls,  // TLS could not be set up or went wrong (`tls` says why)
    LocalFile,  // a local file could not be opened, read, written or replaced
    InvalidArgument,  // something the client cannot send: a name with a control character
    WrongHandle,  // a handle that is not open, or not of the kind the call takes
    Busy,  // a listing is still in progress on the connection
    EndOfListing,  // no fault: a search has no more entries
    Internal,  // out of memory, or anything else that should not happen
};

// Why a TLS connection could not be made or went wrong.
enum class TlsFailure {
    None,
    Untrusted,  // the chain does not lead to a trusted certificate
    Expired,  // a certificate is out of its validity period
    WrongName,  // the certificate names another host or address
    Protocol,  // anything else: a broken or refused handshake, bad records
};

struct Failure {
    Failure(FailureKind kind, std::string cause = {}) : kind(kind), cause(std::move(cause)) {}

    FailureKind kind;
    std::string cause;  // what happened, in words, for the transcript; may be empty
    int replyCode = 0;  // Refused, LogInRefused: the server's code
    int error = 0;  // LocalFile, Internal: the errno
    TlsFailure tls = TlsFailure::None;
};

// TLS could not be set up or went wrong.
inline Failure tlsFailure(TlsFailure why, std::string cause)
{
    Failure failure(FailureKind::Tls, std::move(cause));
    failure.tls = why;
    return failure;
}

// A value, or the failure that stood in its way. Outcome<> carries no value:
// default-constructed, it is a success.
template <typename T = std::monostate>
class [[nodiscard]] Outcome {
public:
    Outcome() requires std::is_same_v<T, std::monostate>
    = default;
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    explicit operator bool() const { return state_.index() == 0; }

    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }

    const Failure& failure() const& { return std::get<1>(state_); }
    Failure&& failure() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, Failure> state_;
};

}  // namespace quorvane::client
