// SPDX-License-Identifier: MIT
// Sessions that outlive the server's idle time-out: the module logs in again
// before a command when the server has dropped the connection, and never
// sends a command twice.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fault_server_test.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

class ReconnectAgainstFaultServer : public FaultServerTest {
protected:
    void play(const std::string& scenario) { startServerAndLogIn(scenario); }
};

TEST_F(ReconnectAgainstFaultServer, ServerClosingBetweenCallsIsLoggedInAgain)
{
    play(R"({"replies": {"DELE": [{"send": "250 deleted\r\n"}, {"close": true}]}})");
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(module().deleteFile(u"b"), FTP_RESULT_OK);
    EXPECT_EQ(count("USER"), 2);
    EXPECT_EQ(count("DELE a"), 1);
    EXPECT_EQ(count("DELE b"), 1);
}

TEST_F(ReconnectAgainstFaultServer, IdleTimeOut421BetweenCallsIsLoggedInAgain)
{
    play(R"({"replies": {"DELE": [{"send": "250 deleted\r\n"}, {"sleep": 0.1},
                                  {"send": "421 Timeout.\r\n"}, {"close": true}],
                         "PWD": "257 \"/pub/sub dir\" is the current directory",
                         "CWD": "250 ok"}})");
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"sub dir"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(module().deleteFile(u"b"), FTP_RESULT_OK);
    EXPECT_EQ(count("USER"), 2);
    // Back in the folder the server named, before the command.
    const auto lines = commands();
    const auto cwd = std::find(lines.begin(), lines.end(), "CWD /pub/sub dir");
    const auto dele = std::find(lines.begin(), lines.end(), "DELE b");
    ASSERT_NE(cwd, lines.end());
    EXPECT_LT(cwd, dele);
}

TEST_F(ReconnectAgainstFaultServer, ConnectionLostAfterSendingFailsThatCallOnly)
{
    play(R"({"replies": {"DELE": [{"close": true}], "MKD": "257 \"d\" created"}})");
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().createFolder(u"d"), FTP_RESULT_OK);
    EXPECT_EQ(count("DELE a"), 1) << "the lost command was sent again";
    EXPECT_EQ(count("USER"), 2);
}

TEST_F(ReconnectAgainstFaultServer, FolderThatCannotBeNamedIsNotGuessed)
{
    // Without a PWD answer the folder cannot be restored: acting in the
    // server's default folder instead would hit the wrong files.
    play(R"({"replies": {"CWD": "250 ok", "PWD": "502 no",
                         "DELE": [{"send": "250 deleted\r\n"}, {"close": true}]}})");
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"pub"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(module().deleteFile(u"b"), FTP_RESULT_FAILED);
    EXPECT_EQ(count("DELE b"), 0);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

TEST_F(ReconnectAgainstFaultServer, FolderGoneMeanwhileKeepsTheSessionForAbsoluteNames)
{
    // The first CWD succeeds; after the reconnection the folder is gone.
    play(R"({"replies": {"CWD": {"sequence": ["250 ok", "550 gone", "250 ok"]},
                         "DELE": [{"send": "250 deleted\r\n"}, {"close": true}],
                         "MKD": "257 made", "RNFR": "350 go on", "RNTO": "250 renamed"}})");
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/pub/gone"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(module().createFolder(u"/pub/new"), FTP_RESULT_OK);  // reconnects, CWD fails
    EXPECT_EQ(module().rename(u"/pub/x", u"/pub/y"), FTP_RESULT_OK);
    // Relative names would act in the wrong folder: refused, never sent.
    EXPECT_EQ(module().createFolder(u"rel"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().rename(u"/pub/x", u"y"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"sub"), FTP_RESULT_NO_FOLDER);
    EXPECT_EQ(count("MKD rel"), 0);
    EXPECT_EQ(count("RNFR"), 1);
    EXPECT_EQ(count("USER"), 2);
    // The next listing of an absolute folder sets one again.
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/pub"), FTP_RESULT_OK);
    EXPECT_EQ(module().createFolder(u"rel"), FTP_RESULT_OK);
    EXPECT_EQ(count("MKD rel"), 1);
    EXPECT_EQ(count("USER"), 2);
}

TEST_F(ReconnectAgainstFaultServer, SignalsToTheHostThreadNeverForceANewLogIn)
{
    play(R"({"replies": {"DELE": "250 deleted"}})");
    // A handler without SA_RESTART: interrupted calls fail with EINTR.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<bool> done{false};
    const pthread_t host = ::pthread_self();
    std::thread signaller([&] {
        while (!done) {
            ::pthread_kill(host, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    int failed = 0;
    for (int i = 0; i < 1000; ++i)
        failed += module().deleteFile(u"f") != FTP_RESULT_OK;
    done = true;
    signaller.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(count("USER"), 1);
    EXPECT_EQ(count("DELE f"), 1000);
}

TEST_F(ReconnectAgainstFaultServer, FailedReconnectionFailsTheCallAndLogOutStillWorks)
{
    play(R"({"replies": {"DELE": [{"send": "250 deleted\r\n"}, {"die": true}]}})");
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int socketsBefore = openSocketCount();
    EXPECT_EQ(module().deleteFile(u"b"), FTP_RESULT_FAILED);
    EXPECT_LE(openSocketCount(), socketsBefore);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

TEST_F(ReconnectAgainstFaultServer, ReplyPastTheDeadlineIsNeverReadByTheNextCall)
{
    play(R"({"replies": {"DELE": [{"sleep": 62}, {"send": "250 late\r\n"}],
                         "MKD": "257 \"d\" created"}})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_FAILED);
    const Seconds took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took.count(), 59.0);
    EXPECT_LT(took.count(), 62.0);
    // A new connection: the next call gets its own reply, not the stale 250.
    EXPECT_EQ(module().createFolder(u"d"), FTP_RESULT_OK);
    EXPECT_EQ(count("USER"), 2);
}

TEST(ReconnectAgainstPyftpdlib, IdleTimeOutBetweenCallsIsTransparent)
{
    TempFolder root;
    fs::create_directories(root.path() / "sub");
    writeFile(root.path() / "sub" / "x.txt", "in sub");
    writeFile(root.path() / "x.txt", "at the top");
    ServerProcess server(pyftpdCommand(root.path(), {"--idle-timeout", "2"}));
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    ASSERT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/sub"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::seconds(3));  // pyftpdlib says 421 and closes
    EXPECT_EQ(module().deleteFile(u"x.txt"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists(root.path() / "sub" / "x.txt"));
    EXPECT_TRUE(fs::exists(root.path() / "x.txt"));
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

}  // namespace
