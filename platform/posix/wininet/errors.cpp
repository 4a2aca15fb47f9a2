#include "posix/wininet/errors.h"

#include <cerrno>
#include <optional>

#include "common/transcript.h"

namespace quorvane::client {
namespace {

constexpr DWORD ERROR_DISK_FULL = 112;

// The sub-tables: what refines a kind's code. Nothing where the kind's own
// code stands.
std::optional<DWORD> tlsErrorOf(TlsFailure failure)
{
    switch (failure) {
    case TlsFailure::Untrusted: return ERROR_INTERNET_INVALID_CA;
    case TlsFailure::Expired: return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case TlsFailure::WrongName: return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case TlsFailure::None:
    case TlsFailure::Protocol: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<DWORD> localErrorOf(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return std::nullopt;
    }
}

std::optional<DWORD> refinedErrorOf(const Failure& failure)
{
    switch (failure.kind) {
    case FailureKind::Tls: return tlsErrorOf(failure.tls);
    case FailureKind::LocalFile: return localErrorOf(failure.error);
    case FailureKind::Internal:
        if (failure.error == ENOMEM)
            return ERROR_NOT_ENOUGH_MEMORY;
        return std::nullopt;
    default: return std::nullopt;
    }
}

}  // namespace

DWORD winInetErrorOf(const Failure& failure)
{
    if (const auto refined = refinedErrorOf(failure))
        return *refined;
    switch (failure.kind) {
#define QUORVANE_FAILURE_KIND(kind, winInetError)                                                  \
  case FailureKind::kind: return winInetError;
        QUORVANE_FAILURE_KINDS(QUORVANE_FAILURE_KIND)
#undef QUORVANE_FAILURE_KIND
    }
    return ERROR_INTERNET_INTERNAL_ERROR;
}

void reportFailure(const Failure& failure)
{
    trace::cause(failure.cause);
    SetLastError(winInetErrorOf(failure));
}

}  // namespace quorvane::client
