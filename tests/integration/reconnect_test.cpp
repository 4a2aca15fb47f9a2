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

TEST_F(ReconnectAgainstFaultServer, SignalsToTheHostThreadNeverForceANewLogIn)
{
    play(R"({"replies": {"DELE": "250 deleted"}})");
    const auto loggedIn = commands().size();
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
    // Each DELE once, on the one session.
    EXPECT_EQ(commandsFrom(loggedIn), std::vector<std::string>(1000, "DELE f"));
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
    const auto loggedIn = commands().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_FAILED);
    const Seconds took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took.count(), 59.0);
    EXPECT_LT(took.count(), 62.0);
    // A new connection: the next call gets its own reply, not the stale 250.
    EXPECT_EQ(module().createFolder(u"d"), FTP_RESULT_OK);
    EXPECT_EQ(commandsFrom(loggedIn),
              (std::vector<std::string>{"DELE a", "USER user", "PASS secret", "TYPE I", "FEAT",
                                        "OPTS UTF8 ON", "MKD d"}));
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
