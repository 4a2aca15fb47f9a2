// SPDX-License-Identifier: MIT
// Every failure kind as the platform reports it: the one table from the
// client's failures to WinINet error codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>

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

// The list gives each kind its code; the sub-tables refine three of them.
TEST(FailureTable, SubRowsRefineTheKindsCode)
{
    const struct {
        Failure failure;
        DWORD code;
    } rows[] = {
        {with(FailureKind::Tls, 0, TlsFailure::Untrusted), ERROR_INTERNET_INVALID_CA},
        {with(FailureKind::Tls, 0, TlsFailure::Expired), ERROR_INTERNET_SEC_CERT_DATE_INVALID},
        {with(FailureKind::Tls, 0, TlsFailure::WrongName), ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {with(FailureKind::Tls, 0, TlsFailure::Protocol), ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
        {with(FailureKind::LocalFile, ENOENT), ERROR_FILE_NOT_FOUND},
        {with(FailureKind::LocalFile, ENOTDIR), ERROR_PATH_NOT_FOUND},
        {with(FailureKind::LocalFile, EEXIST), ERROR_FILE_EXISTS},
        {with(FailureKind::LocalFile, ENOSPC), 112u},  // ERROR_DISK_FULL
        {with(FailureKind::LocalFile, EDQUOT), 112u},
        {with(FailureKind::LocalFile, ENOMEM), ERROR_NOT_ENOUGH_MEMORY},
        {with(FailureKind::LocalFile, EACCES), ERROR_ACCESS_DENIED},
        {with(FailureKind::LocalFile, EIO), ERROR_ACCESS_DENIED},
        {with(FailureKind::Internal, ENOMEM), ERROR_NOT_ENOUGH_MEMORY},
        {with(FailureKind::Internal, EIO), ERROR_INTERNET_INTERNAL_ERROR},
        // An errno means nothing to a kind without a sub-table.
        {with(FailureKind::Refused, ENOMEM), ERROR_INTERNET_EXTENDED_ERROR},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(winInetErrorOf(row.failure), row.code)
            << nameOf(row.failure.kind) << " " << row.failure.error;
        SetLastError(ERROR_SUCCESS);
        reportFailure(row.failure);
        EXPECT_EQ(GetLastError(), row.code) << nameOf(row.failure.kind);
    }
}

// A caller tells failures apart by their codes alone: no two kinds share one.
TEST(FailureTable, NoTwoKindsShareACode)
{
    std::map<DWORD, std::string> kindOf;
#define QUORVANE_FAILURE_KIND(kind, winInetError)                                                  \
  EXPECT_TRUE(kindOf.emplace(winInetErrorOf(Failure(FailureKind::kind)), #kind).second)            \
      << #kind << " has the code of " << kindOf[winInetErrorOf(Failure(FailureKind::kind))];
    QUORVANE_FAILURE_KINDS(QUORVANE_FAILURE_KIND)
#undef QUORVANE_FAILURE_KIND
    EXPECT_STREQ(nameOf(FailureKind::LogInRefused), "LogInRefused");
}

}  // namespace
