#include <gtest/gtest.h>

#include "fake_platform.h"
#include "ftp/session.h"

namespace {

const char16_t kServer[] = u"ftp.example.net";
const char16_t kUser[] = u"alice";
const char16_t kPassword[] = u"s3cret";

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gFTPSession = {};
        fakePlatform().reset();
    }

    static FakePlatform& fake() { return fakePlatform(); }
};

TEST_F(SessionTest, LogInOpensTheClientAndConnectsWithTheFixedArguments)
{
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);

    ASSERT_EQ(fake().opens.size(), 1u);
    const OpenCall& open = fake().opens[0];
    EXPECT_EQ(open.agent, u"Quorvane");
    EXPECT_EQ(open.accessType, 1u);
    EXPECT_EQ(open.proxy, nullptr);
    EXPECT_EQ(open.proxyBypass, nullptr);

    ASSERT_EQ(fake().connects.size(), 1u);
    const ConnectCall& connect = fake().connects[0];
    EXPECT_EQ(connect.internet, gFTPSession.hInternet);
    // The caller's strings are handed on unchanged, not copied or converted.
    EXPECT_EQ(connect.server, kServer);
    EXPECT_EQ(connect.user, kUser);
    EXPECT_EQ(connect.password, kPassword);
    EXPECT_EQ(connect.port, 21);
    EXPECT_EQ(connect.service, 1u);
    EXPECT_EQ(connect.context, 0u);

    EXPECT_NE(gFTPSession.hInternet, nullptr);
    EXPECT_NE(gFTPSession.hConnect, nullptr);
    EXPECT_TRUE(fake().closes.empty());
}

TEST_F(SessionTest, ClientThatCannotBeOpenedGivesOneAndNoConnect)
{
    fake().openSucceeds = false;
    EXPECT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_NO_INTERNET);
    EXPECT_TRUE(fake().connects.empty());
    EXPECT_EQ(gFTPSession.hInternet, nullptr);
    EXPECT_EQ(gFTPSession.hConnect, nullptr);
}

TEST_F(SessionTest, ClientThatCannotBeOpenedLeavesAnOpenSessionAsItWas)
{
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);
    const FTPSession before = gFTPSession;
    fake().openSucceeds = false;

    EXPECT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_NO_INTERNET);
    EXPECT_EQ(gFTPSession.hInternet, before.hInternet);
    EXPECT_EQ(gFTPSession.hConnect, before.hConnect);
    EXPECT_TRUE(fake().closes.empty());
}

TEST_F(SessionTest, FailedConnectGivesTwoClosesTheClientAndLeavesTheSessionClosed)
{
    fake().connectSucceeds = false;
    EXPECT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_FAILED);
    EXPECT_EQ(gFTPSession.hInternet, nullptr);
    EXPECT_EQ(gFTPSession.hConnect, nullptr);
    EXPECT_TRUE(fake().openHandles.empty()) << "the client handle leaked";
}

TEST_F(SessionTest, LogInWhileOpenClosesTheEarlierSessionAndKeepsTheNewOne)
{
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);
    const FTPSession first = gFTPSession;

    ASSERT_EQ(FTPServerLogIn(u"other.example.net", kUser, kPassword), FTP_RESULT_OK);
    const std::vector<HINTERNET> closedFirst{first.hConnect, first.hInternet};
    EXPECT_EQ(fake().closes, closedFirst);
    EXPECT_EQ(fake().openHandles.size(), 2u);
    EXPECT_TRUE(fake().openHandles.count(gFTPSession.hInternet));
    EXPECT_TRUE(fake().openHandles.count(gFTPSession.hConnect));
    EXPECT_EQ(fake().connects.back().internet, gFTPSession.hInternet);
}

TEST_F(SessionTest, FailedLogInWhileOpenLeavesNothingOpen)
{
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);
    fake().connectSucceeds = false;
    EXPECT_EQ(FTPServerLogIn(kServer, kUser, u"wrong"), FTP_RESULT_FAILED);
    EXPECT_TRUE(fake().openHandles.empty());
    EXPECT_EQ(gFTPSession.hInternet, nullptr);
    EXPECT_EQ(gFTPSession.hConnect, nullptr);
}

TEST_F(SessionTest, LogOutClosesTheConnectionThenTheClient)
{
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);
    const FTPSession open = gFTPSession;

    EXPECT_EQ(FTPServerLogOut(), FTP_RESULT_OK);
    const std::vector<HINTERNET> expected{open.hConnect, open.hInternet};
    EXPECT_EQ(fake().closes, expected);
    EXPECT_TRUE(fake().openHandles.empty());
    EXPECT_EQ(gFTPSession.hInternet, nullptr);
    EXPECT_EQ(gFTPSession.hConnect, nullptr);
}

TEST_F(SessionTest, LogOutWhenClosedStillSucceeds)
{
    EXPECT_EQ(FTPServerLogOut(), FTP_RESULT_OK);
    EXPECT_EQ(FTPServerLogOut(), FTP_RESULT_OK);
    EXPECT_TRUE(fake().opens.empty());
}

TEST_F(SessionTest, SecondLogInAfterLogOutUsesTheNewHandles)
{
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);
    const FTPSession first = gFTPSession;
    ASSERT_EQ(FTPServerLogOut(), FTP_RESULT_OK);
    ASSERT_EQ(FTPServerLogIn(kServer, kUser, kPassword), FTP_RESULT_OK);
    EXPECT_NE(gFTPSession.hConnect, first.hConnect);
    EXPECT_NE(gFTPSession.hInternet, first.hInternet);
    EXPECT_EQ(fake().openHandles.size(), 2u);
}

}  // namespace
