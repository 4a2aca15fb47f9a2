// SPDX-License-Identifier: MIT
// Log-in and log-out of the built module against each real server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "harness.h"

using namespace harness;

namespace {

class LogInAgainstServers : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.ready()) << nameOf(GetParam()) << " did not start";
    }
    void TearDown() override { module().logOut(); }

    FTPResult logIn(const std::string& host, const std::string& user, const std::string& password)
    {
        return module().logIn(wide(host).c_str(), wide(user).c_str(), wide(password).c_str());
    }

    TempFolder root_;
    ServerProcess server_{serverCommand(GetParam(), root_.path())};
};

TEST_P(LogInAgainstServers, GoodCredentialsLogInAndOut)
{
    const int socketsBefore = openSocketCount();
    EXPECT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK);
    EXPECT_EQ(openSocketCount(), socketsBefore + 1);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
    EXPECT_EQ(openSocketCount(), socketsBefore);
}

TEST_P(LogInAgainstServers, HostNameWithSeveralAddressesFindsTheListeningOne)
{
    // "localhost" may resolve to ::1 first, where nothing listens.
    EXPECT_EQ(logIn("localhost", "user", "secret"), FTP_RESULT_OK);
}

TEST_P(LogInAgainstServers, WrongPasswordGivesTwoAndLeavesNothingOpen)
{
    const int descriptorsBefore = openDescriptorCount();
    EXPECT_EQ(logIn("127.0.0.1", "user", "wrong"), FTP_RESULT_FAILED);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

TEST_P(LogInAgainstServers, UnknownUserGivesTwo)
{
    EXPECT_EQ(logIn("127.0.0.1", "nobody", "secret"), FTP_RESULT_FAILED);
}

TEST_P(LogInAgainstServers, LogInAgainAfterLogOutWorks)
{
    ASSERT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK);
    ASSERT_EQ(module().logOut(), FTP_RESULT_OK);
    EXPECT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK);
}

TEST_P(LogInAgainstServers, LogInWhileOpenKeepsExactlyOneControlConnection)
{
    const int socketsBefore = openSocketCount();
    ASSERT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK);
    ASSERT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK);
    EXPECT_EQ(openSocketCount(), socketsBefore + 1);
    // A failed log-in over an open session leaves none.
    EXPECT_EQ(logIn("127.0.0.1", "user", "wrong"), FTP_RESULT_FAILED);
    EXPECT_EQ(openSocketCount(), socketsBefore);
}

TEST_P(LogInAgainstServers, TwoHundredCyclesLeakNoDescriptors)
{
    // Warm up once: the resolver may open and keep descriptors of its own.
    ASSERT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK);
    ASSERT_EQ(module().logOut(), FTP_RESULT_OK);
    const int descriptorsBefore = openDescriptorCount();

    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(logIn("127.0.0.1", "user", "secret"), FTP_RESULT_OK) << "cycle " << cycle;
        ASSERT_EQ(module().logOut(), FTP_RESULT_OK) << "cycle " << cycle;
    }
    const Seconds took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    std::printf("200 log-in/log-out cycles: %.3f s (%.2f ms each)\n", took.count(),
                took.count() * 1000 / 200);
}

INSTANTIATE_TEST_SUITE_P(Interop, LogInAgainstServers, ::testing::ValuesIn(allServers()),
                         [](const auto& info) { return nameOf(info.param); });

TEST(LogInWithoutServer, NothingListeningGivesTwo)
{
    const int descriptorsBefore = openDescriptorCount();
    EXPECT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_FAILED);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(LogInWithoutServer, UnresolvableNameGivesTwo)
{
    EXPECT_EQ(module().logIn(u"no-such-host.invalid", u"user", u"secret"), FTP_RESULT_FAILED);
}

TEST(LogInWithoutServer, LogOutBeforeAnyLogInGives999)
{
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

}  // namespace
