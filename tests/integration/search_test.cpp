// SPDX-License-Identifier: MIT
// The platform's folder search, called directly (the module keeps it to
// itself): a search closed before its end aborts the listing and leaves the
// connection serving the next call at once, against each real server.
#include <gtest/gtest.h>

#include <chrono>

#include "fault_server_test.h"
#include "harness.h"
#include "wininet_api.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

// A session of the platform's own, without the module.
class PlatformSession {
public:
    PlatformSession()
    {
        internet_ = InternetOpenW(u"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        connect_ = InternetConnectW(internet_, u"127.0.0.1", INTERNET_DEFAULT_FTP_PORT, u"user",
                                    u"secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    }
    ~PlatformSession() { InternetCloseHandle(internet_); }  // its connection with it
    PlatformSession(const PlatformSession&) = delete;
    PlatformSession& operator=(const PlatformSession&) = delete;

    HINTERNET connect() const { return connect_; }

    // Entries of the current folder, all of them; -1 if the search failed.
    // The folder's entries, without its own and its parent's.
    int countEntries()
    {
        WIN32_FIND_DATAW entry{};
        HINTERNET search = FtpFindFirstFileW(connect_, u"*.*", &entry, 0, 0);
        if (!search)
            return GetLastError() == ERROR_NO_MORE_FILES ? 0 : -1;
        const auto counts = [&] {
            const std::u16string name = entry.cFileName;
            return name != u"." && name != u"..";
        };
        int entries = counts();
        while (InternetFindNextFileW(search, &entry))
            entries += counts();
        const bool ended = GetLastError() == ERROR_NO_MORE_FILES;
        InternetCloseHandle(search);
        return ended ? entries : -1;
    }

private:
    HINTERNET internet_ = nullptr;
    HINTERNET connect_ = nullptr;
};

class SearchAgainstServers : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override
    {
        fs::create_directories(root_.path() / "many");
        for (int i = 0; i < 3000; ++i)
            writeFile(root_.path() / "many" / ("file-" + std::to_string(i)), "");
        fs::create_directories(root_.path() / "empty");
        writeFile(root_.path() / "x.txt", "fetched");
        server_ = std::make_unique<ServerProcess>(serverCommand(GetParam(), root_.path()));
        ASSERT_TRUE(server_->ready()) << nameOf(GetParam()) << " did not start";
    }

    TempFolder root_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_P(SearchAgainstServers, SearchClosedAfterItsFirstEntryLeavesTheConnectionReady)
{
    PlatformSession session;
    ASSERT_NE(session.connect(), nullptr);
    ASSERT_TRUE(FtpSetCurrentDirectoryW(session.connect(), u"/many"));
    // The session's first LIST listing is read whole, to learn the server's
    // zone at its end; from then on they stream.
    EXPECT_EQ(session.countEntries(), 3000);
    WIN32_FIND_DATAW entry{};
    HINTERNET search = FtpFindFirstFileW(session.connect(), u"*.*", &entry, 0, 0);
    ASSERT_NE(search, nullptr);
    // One transfer at a time, as on the platform.
    EXPECT_FALSE(FtpCreateDirectoryW(session.connect(), u"/other"));
    EXPECT_EQ(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(InternetCloseHandle(search));
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 5.0);

    // At once: the listing again, whole, and a download.
    EXPECT_EQ(session.countEntries(), 3000);
    DeviceFolder device;
    const std::u16string local = device.devicePath("x.txt");
    EXPECT_TRUE(FtpGetFileW(session.connect(), u"/x.txt", local.c_str(), FALSE, 0,
                            FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(readFile(device.hostPath("x.txt")), "fetched");
    EXPECT_TRUE(FtpSetCurrentDirectoryW(session.connect(), u"/empty"));
    EXPECT_EQ(session.countEntries(), 0);
}

INSTANTIATE_TEST_SUITE_P(Interop, SearchAgainstServers, ::testing::ValuesIn(allServers()),
                         [](const auto& info) { return nameOf(info.param); });

class SearchAgainstFaultServer : public FaultServerTest {};

TEST_F(SearchAgainstFaultServer, SearchClosedEarlyEndsInStepWithTheServer)
{
    struct Row {
        int entries;
        // A short rest is read to its end; a long one costs a new log-in.
        std::vector<std::string> commands;
    };
    for (const Row& row :
         {Row{50000,
              {"USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "EPSV", "LIST",
               "DATA 127.0.0.1", "EPSV", "LIST", "DATA 127.0.0.1"}},
          Row{1000000,
              {"USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "EPSV", "LIST",
               "DATA 127.0.0.1", "USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON",
               "EPSV", "LIST", "DATA 127.0.0.1"}}}) {
        startServer(R"({"listing_bulk": {"entries": )" + std::to_string(row.entries) + R"(},
                        "replies": {"FEAT": "211-Features:\r\n EPSV\r\n211 End"}})");
        PlatformSession session;
        ASSERT_NE(session.connect(), nullptr);
        WIN32_FIND_DATAW entry{};
        HINTERNET search = FtpFindFirstFileW(session.connect(), u"*.*", &entry, 0, 0);
        ASSERT_NE(search, nullptr);
        EXPECT_EQ(std::u16string(entry.cFileName), u"file-0");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(InternetCloseHandle(search));
        EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 5.0);
        EXPECT_EQ(session.countEntries(), row.entries);
        // Where the server notes the abandoned data connection comes as it may.
        expectNext(row.commands, std::to_string(row.entries), {"DATA ABORTED"});
        stopServer();
    }
}

}  // namespace
