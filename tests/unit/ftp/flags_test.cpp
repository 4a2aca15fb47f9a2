// SPDX-License-Identifier: MIT
// The flags each exported call hands the platform, as one table: the
// platform's behaviour hangs on them (passive mode, binary type, no cache).
#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"
#include "ftp/session.h"

namespace {

// WinINet's values, written out: a constant that changed would pass a
// test that named it.
constexpr DWORD kPassive = 0x08000000;  // INTERNET_FLAG_PASSIVE
constexpr DWORD kNoCacheWrite = 0x04000000;  // INTERNET_FLAG_NO_CACHE_WRITE
constexpr DWORD kBinary = 0x00000002;  // FTP_TRANSFER_TYPE_BINARY

struct Row {
    const char* call;
    std::function<void()> run;  // after a log-in; the first two rows are the log-in's
    std::function<DWORD(const FakePlatform&)> flags;  // what the platform saw
    DWORD expected;
};

TEST(FlagPins, EachCallPassesItsFixedFlags)
{
    const std::vector<Row> rows = {
        {"FTPServerLogIn: InternetOpenW", [] {},
         [](const FakePlatform& fake) { return fake.opens.at(0).flags; }, 0},
        {"FTPServerLogIn: InternetConnectW", [] {},
         [](const FakePlatform& fake) { return fake.connects.at(0).flags; }, kPassive},
        {"FTPFileDownload: FtpGetFileW", [] { FTPFileDownload(u"\\Temp\\a.txt", u"a.txt"); },
         [](const FakePlatform& fake) { return fake.ftpCalls.at(0).flags; },
         kNoCacheWrite | kBinary},
        {"FTPFileUpload: FtpPutFileW", [] { FTPFileUpload(u"\\Temp\\a.txt", u"a.txt"); },
         [](const FakePlatform& fake) { return fake.ftpCalls.at(0).flags; },
         kNoCacheWrite | kBinary},
        {"FTPServerFiles: FtpFindFirstFileW",
         [] { FTPServerFiles(nullptr, nullptr, nullptr, u"/"); },
         [](const FakePlatform& fake) { return fake.findFirsts.at(0).flags; }, kNoCacheWrite},
    };
    for (const Row& row : rows) {
        gFTPSession = {};
        fakePlatform().reset();
        ASSERT_EQ(FTPServerLogIn(u"server", u"user", u"password"), FTP_RESULT_OK);
        row.run();
        EXPECT_EQ(row.flags(fakePlatform()), row.expected) << row.call;
        FTPServerLogOut();
    }
}

}  // namespace
