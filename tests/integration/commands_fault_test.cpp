// SPDX-License-Identifier: MIT
// Transfers and commands against a scripted server that misbehaves.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>

#include "fault_server_test.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

class CommandsAgainstFaultServer : public FaultServerTest {
protected:
    void play(const std::string& scenario) { startServerAndLogIn(scenario); }

    // Downloads `remote` over a local file holding "old"; measures the time.
    FTPResult downloadOverOldFile(const char16_t* remote = u"f.txt")
    {
        writeFile(device_.hostPath("local.txt"), "old");
        const auto start = std::chrono::steady_clock::now();
        const FTPResult result = module().download(device_.devicePath("local.txt").c_str(), remote);
        took_ = std::chrono::steady_clock::now() - start;
        return result;
    }

    void expectOldFileUntouched()
    {
        EXPECT_EQ(readFile(device_.hostPath("local.txt")), "old");
        EXPECT_EQ(device_.names(), std::vector<std::string>{"local.txt"});
    }

    DeviceFolder device_;
    Seconds took_{};
};

// The interop notes' "Round trips per call", row by row: each call's exact
// commands (with the data connections the server accepted) and which of
// them went queued behind the next, on one session.
TEST_F(CommandsAgainstFaultServer, EachCallTakesTheRoundTripsTheInteropTableSays)
{
    play(R"({"files": {"/f.txt": "hello"}, "sizes": true,
             "listing": "type=file;size=5;modify=20240101000000; f.txt\r\n",
             "replies": {"FEAT": "211-Features:\r\n EPSV\r\n UTF8\r\n SIZE\r\n MLST type*;size*;modify*;\r\n211 End",
                         "CWD": "250 ok", "PWD": "257 \"/d/d\"", "DELE": "250 deleted",
                         "MKD": "257 \"e\" created", "RMD": "250 removed",
                         "RNFR": "350 go on", "RNTO": "250 renamed"}})");
    writeFile(device_.hostPath("up.txt"), "up");
    using Call = std::function<FTPResult()>;
    struct Row {
        const char* call;
        Call run;
        std::vector<std::string> commands;
        std::vector<std::string> queued;
    };
    const std::vector<Row> rows = {
        {"listing, absolute folder",
         [] { return module().listFolder(nullptr, nullptr, nullptr, u"/d"); },
         {"CWD /d", "EPSV", "MLSD", "DATA 127.0.0.1"},
         {}},
        {"listing, relative folder",
         [] { return module().listFolder(nullptr, nullptr, nullptr, u"d"); },
         {"CWD d", "PWD", "EPSV", "MLSD", "DATA 127.0.0.1"},
         {}},
        {"download",
         [this] { return module().download(device_.devicePath("local.txt").c_str(), u"/f.txt"); },
         {"MLST /f.txt", "EPSV", "RETR /f.txt", "DATA 127.0.0.1"},
         {"MLST /f.txt"}},
        {"upload",
         [this] { return module().upload(device_.devicePath("up.txt").c_str(), u"/up.txt"); },
         {"MLST /up.txt", "EPSV", "STOR /up.txt", "DATA 127.0.0.1", "STORED 2", "SIZE /up.txt"},
         {"MLST /up.txt"}},
        {"delete", [] { return module().deleteFile(u"/a"); }, {"DELE /a"}, {}},
        {"create a folder", [] { return module().createFolder(u"/e"); }, {"MKD /e"}, {}},
        {"remove a folder", [] { return module().deleteFolder(u"/e"); }, {"RMD /e"}, {}},
        {"rename", [] { return module().rename(u"/a", u"/b"); }, {"RNFR /a", "RNTO /b"}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        const std::size_t before = commands().size();
        const std::size_t queuedBefore = queuedCommands().size();
        ASSERT_EQ(row.run(), FTP_RESULT_OK);
        const auto sent = commands();
        const auto queued = queuedCommands();
        EXPECT_EQ(std::vector<std::string>(sent.begin() + before, sent.end()), row.commands);
        EXPECT_EQ(std::vector<std::string>(queued.begin() + queuedBefore, queued.end()),
                  row.queued);
    }
    ASSERT_EQ(module().logOut(), FTP_RESULT_OK);
    awaitSessionsEnded();
    EXPECT_EQ(commands().back(), "QUIT");
}

TEST_F(CommandsAgainstFaultServer, DownloadUsesEpsvWhereOffered)
{
    play(R"({"files": {"f.txt": "hello"}})");
    EXPECT_EQ(downloadOverOldFile(), FTP_RESULT_OK);
    EXPECT_EQ(readFile(device_.hostPath("local.txt")), "hello");
    // Two round trips, as the interop table says: what the server holds
    // under the name asked in one write with EPSV, then RETR.
    const std::vector<std::string> expected = {"USER user", "PASS secret",  "TYPE I",
                                               "FEAT",      "OPTS UTF8 ON", "MLST f.txt",
                                               "EPSV",      "RETR f.txt",   "DATA 127.0.0.1"};
    EXPECT_EQ(commands(), expected);
    EXPECT_EQ(queuedCommands(),
              (std::vector<std::string>{"PASS secret", "TYPE I", "FEAT", "MLST f.txt"}));
}

TEST_F(CommandsAgainstFaultServer, DataPortThatRefusesFailsAtOnce)
{
    // Port 9 (discard) has no listener in the private network.
    play(R"json({"replies": {"EPSV": "229 Extended Passive Mode (|||9|)"}})json");
    EXPECT_EQ(downloadOverOldFile(), FTP_RESULT_FAILED);
    EXPECT_LT(took_.count(), 5.0);
    expectOldFileUntouched();
}

TEST_F(CommandsAgainstFaultServer, DataPortThatNeverAcceptsFailsAtTheInactivityLimit)
{
    play(R"({"files": {"f.txt": "hello"}, "never_accept": true})");
    EXPECT_EQ(downloadOverOldFile(), FTP_RESULT_FAILED);
    EXPECT_GE(took_.count(), 59.0);
    EXPECT_LT(took_.count(), 75.0);
    expectOldFileUntouched();
}

TEST_F(CommandsAgainstFaultServer, ServerDyingMidDownloadKeepsTheOldFile)
{
    play(R"({"replies": {"RETR": [{"send": "150 here it comes (100000 bytes)\r\n"},
                                  {"data": "the first part"}, {"sleep": 0.2}, {"die": true}]}})");
    EXPECT_EQ(downloadOverOldFile(), FTP_RESULT_FAILED);
    EXPECT_LT(took_.count(), 10.0);
    expectOldFileUntouched();
}

TEST_F(CommandsAgainstFaultServer, SlowButSteadyDataSucceeds)
{
    play(R"({"replies": {"RETR": [{"send": "150 Opening (6 bytes)\r\n"},
                                  {"data_slow": "steady", "interval": 0.5},
                                  {"data_close": true}, {"send": "226 done\r\n"}]}})");
    EXPECT_EQ(downloadOverOldFile(), FTP_RESULT_OK);
    EXPECT_EQ(readFile(device_.hostPath("local.txt")), "steady");
}

TEST_F(CommandsAgainstFaultServer, StalledDataFailsAtTheInactivityLimit)
{
    play(R"({"replies": {"RETR": [{"send": "150 Opening\r\n"}, {"data": "a little"},
                                  {"sleep": 90}]}})");
    EXPECT_EQ(downloadOverOldFile(), FTP_RESULT_FAILED);
    EXPECT_GE(took_.count(), 59.0);
    EXPECT_LT(took_.count(), 75.0);
    expectOldFileUntouched();
}

TEST_F(CommandsAgainstFaultServer, UploadSendsTheWholeFile)
{
    play(R"({})");
    writeFile(device_.hostPath("up.txt"), std::string(300000, 'u'));
    const auto loggedIn = commands().size();
    EXPECT_EQ(module().upload(device_.devicePath("up.txt").c_str(), u"up.txt"), FTP_RESULT_OK);
    EXPECT_EQ(commandsFrom(loggedIn),
              (std::vector<std::string>{"MLST up.txt", "EPSV", "STOR up.txt", "DATA 127.0.0.1",
                                        "STORED 300000"}));
}

TEST_F(CommandsAgainstFaultServer, UploadOfAFifoOrFolderFailsAtOnce)
{
    play(R"({})");
    const auto loggedIn = commands().size();
    ASSERT_EQ(::mkfifo(device_.hostPath("fifo").c_str(), 0644), 0);
    fs::create_directories(device_.hostPath("folder"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(module().upload(device_.devicePath("fifo").c_str(), u"x"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().upload(device_.devicePath("folder").c_str(), u"x"), FTP_RESULT_FAILED);
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 5.0);
    EXPECT_EQ(commandsFrom(loggedIn), std::vector<std::string>{});
}

TEST_F(CommandsAgainstFaultServer, ReadOnlyLocalFileIsNotReplaced)
{
    play(R"({"files": {"f.txt": "hello"}})");
    const auto loggedIn = commands().size();
    writeFile(device_.hostPath("local.txt"), "old");
    fs::permissions(device_.hostPath("local.txt"), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(module().download(device_.devicePath("local.txt").c_str(), u"f.txt"),
              FTP_RESULT_FAILED);
    expectOldFileUntouched();
    EXPECT_EQ(commandsFrom(loggedIn), std::vector<std::string>{});
}

}  // namespace
