// SPDX-License-Identifier: MIT
// Transfers and commands against a scripted server that misbehaves.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>

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
