#include "posix/wininet/errors.h"

#include <cerrno>

#include "common/transcript.h"

namespace quorvane::client {
namespace {

constexpr DWORD ERROR_DISK_FULL = 112;

DWORD tlsErrorOf(TlsFailure failure)
{
    switch (failure) {
    case TlsFailure::Untrusted: return ERROR_INTERNET_INVALID_CA;
    case TlsFailure::Expired: return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case TlsFailure::WrongName: return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case TlsFailure::None:
    case TlsFailure::Protocol: break;
    }
    return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

DWORD localErrorOf(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;
    }
}

}  // namespace

DWORD winInetErrorOf(const Failure& failure)
{
    switch (failure.kind) {
    case FailureKind::Refused: return ERROR_INTERNET_EXTENDED_ERROR;
    case FailureKind::LogInRefused: return ERROR_INTERNET_LOGIN_FAILURE;
    case FailureKind::NotResolved: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case FailureKind::CannotConnect: return ERROR_INTERNET_CANNOT_CONNECT;
    case FailureKind::TimedOut: return ERROR_INTERNET_TIMEOUT;
    case FailureKind::ConnectionLost: return ERROR_INTERNET_CONNECTION_ABORTED;
    case FailureKind::Tls: return tlsErrorOf(failure.tls);
    case FailureKind::LocalFile: return localErrorOf(failure.error);
    case FailureKind::InvalidArgument: return ERROR_INVALID_PARAMETER;
    case FailureKind::WrongHandle: return ERROR_INVALID_HANDLE;
    case FailureKind::Busy: return ERROR_FTP_TRANSFER_IN_PROGRESS;
    case FailureKind::EndOfListing: return ERROR_NO_MORE_FILES;
    case FailureKind::Internal:
        return failure.error == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNET_INTERNAL_ERROR;
    }
    return ERROR_INTERNET_INTERNAL_ERROR;
}

void reportFailure(const Failure& failure)
{
    trace::cause(failure.cause);
    SetLastError(winInetErrorOf(failure));
}

}  // namespace quorvane::client
