// SPDX-License-Identifier: MIT
// Every failure kind as the platform reports it: the one table from the
// client's failures to WinINet error codes.
#include <gtest/gtest.h>

#include <cerrno>

#include "posix/wininet/errors.h"

using namespace quorvane::client;

namespace {

Failure with(FailureKind kind, int error = 0, TlsFailure tls = TlsFailure::None)
{
    Failure failure(kind);
    failure.error = error;
    failure.tls = tls;
    return failure;
}

TEST(FailureTable, EveryKindHasItsWinInetCode)
{
    const struct {
        Failure failure;
        DWORD code;
    } rows[] = {
        {with(FailureKind::Refused), ERROR_INTERNET_EXTENDED_ERROR},
        {with(FailureKind::LogInRefused), ERROR_INTERNET_LOGIN_FAILURE},
        {with(FailureKind::NotResolved), ERROR_INTERNET_NAME_NOT_RESOLVED},
        {with(FailureKind::CannotConnect), ERROR_INTERNET_CANNOT_CONNECT},
        {with(FailureKind::TimedOut), ERROR_INTERNET_TIMEOUT},
        {with(FailureKind::ConnectionLost), ERROR_INTERNET_CONNECTION_ABORTED},
        {with(FailureKind::Tls, 0, TlsFailure::Untrusted), ERROR_INTERNET_INVALID_CA},
        {with(FailureKind::Tls, 0, TlsFailure::Expired), ERROR_INTERNET_SEC_CERT_DATE_INVALID},
        {with(FailureKind::Tls, 0, TlsFailure::WrongName), ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {with(FailureKind::Tls, 0, TlsFailure::Protocol), ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
        {with(FailureKind::LocalFile, ENOENT), ERROR_FILE_NOT_FOUND},
        {with(FailureKind::LocalFile, ENOTDIR), ERROR_PATH_NOT_FOUND},
        {with(FailureKind::LocalFile, EEXIST), ERROR_FILE_EXISTS},
        {with(FailureKind::LocalFile, ENOSPC), 112u},  // ERROR_DISK_FULL
        {with(FailureKind::LocalFile, EACCES), ERROR_ACCESS_DENIED},
        {with(FailureKind::LocalFile, EIO), ERROR_ACCESS_DENIED},
        {with(FailureKind::InvalidArgument), ERROR_INVALID_PARAMETER},
        {with(FailureKind::WrongHandle), ERROR_INVALID_HANDLE},
        {with(FailureKind::Busy), ERROR_FTP_TRANSFER_IN_PROGRESS},
        {with(FailureKind::EndOfListing), ERROR_NO_MORE_FILES},
        {with(FailureKind::Internal, ENOMEM), ERROR_NOT_ENOUGH_MEMORY},
        {with(FailureKind::Internal), ERROR_INTERNET_INTERNAL_ERROR},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(winInetErrorOf(row.failure), row.code) << static_cast<int>(row.failure.kind);
        SetLastError(ERROR_SUCCESS);
        reportFailure(row.failure);
        EXPECT_EQ(GetLastError(), row.code);
    }
}

}  // namespace
