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

// The kinds of failure, in one list as libuv keeps its errno map: each with
// the WinINet error it becomes, expanded only where those codes are known
// (wininet/errors.cpp). Where a sub-table there refines the code (TLS, a
// local file's errno), the one named here is its default.
#define QUORVANE_FAILURE_KINDS(X)                                                                  \
  /* the server answered no: a 4xx or 5xx, or a reply out of turn */                               \
  X(Refused, ERROR_INTERNET_EXTENDED_ERROR)                                                        \
  /* the user name or password was not accepted */                                                 \
  X(LogInRefused, ERROR_INTERNET_LOGIN_FAILURE)                                                    \
  /* the host name has no address */                                                               \
  X(NotResolved, ERROR_INTERNET_NAME_NOT_RESOLVED)                                                 \
  /* no connection could be made, or the server turned the session down */                         \
  X(CannotConnect, ERROR_INTERNET_CANNOT_CONNECT)                                                  \
  /* a time limit passed: connecting, a reply, data that stopped moving */                         \
  X(TimedOut, ERROR_INTERNET_TIMEOUT)                                                              \
  /* a connection broke, or ended before it should have */                                         \
  X(ConnectionLost, ERROR_INTERNET_CONNECTION_ABORTED)                                             \
  /* TLS could not be set up or went wrong (`tls` says why) */                                     \
  X(Tls, ERROR_INTERNET_SECURITY_CHANNEL_ERROR)                                                    \
  /* a local file could not be opened, read, written or replaced (`error`) */                      \
  X(LocalFile, ERROR_ACCESS_DENIED)                                                                \
  /* something the client cannot send: a name with a control character */                          \
  X(InvalidArgument, ERROR_INVALID_PARAMETER)                                                      \
  /* a handle that is not open, or not of the kind the call takes */                               \
  X(WrongHandle, ERROR_INVALID_HANDLE)                                                             \
  /* a listing is still in progress on the connection */                                           \
  X(Busy, ERROR_FTP_TRANSFER_IN_PROGRESS)                                                          \
  /* no fault: a search has no more entries */                                                     \
  X(EndOfListing, ERROR_NO_MORE_FILES)                                                             \
  /* out of memory (`error` ENOMEM), or anything else that should not happen */                    \
  X(Internal, ERROR_INTERNET_INTERNAL_ERROR)

enum class FailureKind {
#define QUORVANE_FAILURE_KIND(kind, winInetError) kind,
    QUORVANE_FAILURE_KINDS(QUORVANE_FAILURE_KIND)
#undef QUORVANE_FAILURE_KIND
};

// "Refused", "TimedOut": for diagnostics.
constexpr const char* nameOf(FailureKind kind)
{
    switch (kind) {
#define QUORVANE_FAILURE_KIND(kind, winInetError)                                                  \
  case FailureKind::kind: return #kind;
        QUORVANE_FAILURE_KINDS(QUORVANE_FAILURE_KIND)
#undef QUORVANE_FAILURE_KIND
    }
    return "?";
}

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
