// SPDX-License-Identifier: MIT
// Log-in against a scripted server that misbehaves: every case ends with a
// clear result, in bounded time, with nothing left open.
#include <gtest/gtest.h>

#include <chrono>

#include "fault_server_test.h"

using namespace harness;

namespace {

class LogInAgainstFaultServer : public FaultServerTest {
protected:
    void play(const std::string& scenario) { startServer(scenario); }

    // Logs in as user/secret; checks that nothing stays open after a failure.
    FTPResult logIn(const char16_t* user = u"user", const char16_t* password = u"secret")
    {
        const int socketsBefore = openSocketCount();
        const auto start = std::chrono::steady_clock::now();
        const FTPResult result = module().logIn(server_, user, password);
        took_ = std::chrono::steady_clock::now() - start;
        if (result != FTP_RESULT_OK) {
            EXPECT_EQ(openSocketCount(), socketsBefore) << "a failed log-in left a socket";
        }
        return result;
    }

    Seconds took_{};
    const char16_t* server_ = u"127.0.0.1";
};

// Servers that mishandle queued commands: one reads a buffer and keeps only
// its first line; one runs commands side by side and answers an unknown one
// at once, ahead of the rest (as aioftp does). Each log-in is made again one
// command at a time (OPTS only where FEAT offers it), and every later log-in
// to that server starts that way.
TEST_F(LogInAgainstFaultServer, ServersThatMishandleQueuedCommandsGetThemOneAtATime)
{
    struct Case {
        const char* scenario;
        std::vector<std::string> firstSession;  // what reached the server before the retry
        std::vector<std::string> oneAtATime;
        std::vector<std::string> queued;  // arrived with the next behind them
    };
    const std::vector<Case> cases = {
        {R"({"drop_queued": "PASS",
             "replies": {"FEAT": "211-Features:\r\n EPSV\r\n211 End"}})",
         {"USER user", "PASS secret", "DROPPED TYPE I", "DROPPED FEAT", "DROPPED OPTS UTF8 ON"},
         {"USER user", "PASS secret", "TYPE I", "FEAT", "QUIT"},
         {"PASS secret"}},
        {R"({"replies": {"TYPE": {"sequence": [[], "200 type set"]},
                         "FEAT": {"sequence": [[{"send": "502 'feat' not implemented\r\n200 \r\n"}],
                                               "502 'feat' not implemented"]},
                         "OPTS": "502 'opts' not implemented"}})",
         {"USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON"},
         {"USER user", "PASS secret", "TYPE I", "FEAT", "QUIT"},
         {"PASS secret", "TYPE I", "FEAT"}},
    };
    int port = 2191;  // ports no other test uses: the module remembers servers
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const std::string portText = std::to_string(port++);
        ASSERT_NO_FATAL_FAILURE(startServer(c.scenario, {"--port", portText}));
        const std::u16string server =
            u"127.0.0.1:" + std::u16string(portText.begin(), portText.end());
        server_ = server.c_str();
        ASSERT_EQ(logIn(), FTP_RESULT_OK);
        EXPECT_LT(took_, Seconds(30));
        ASSERT_EQ(module().logOut(), FTP_RESULT_OK);
        ASSERT_EQ(logIn(), FTP_RESULT_OK);
        ASSERT_EQ(module().logOut(), FTP_RESULT_OK);
        awaitSessionsEnded();
        const std::vector<std::vector<std::string>> expected = {c.firstSession, c.oneAtATime,
                                                                c.oneAtATime};
        EXPECT_EQ(commandsBySession(), expected);
        EXPECT_EQ(queuedCommands(), c.queued);
        stopServer();
    }
}

TEST_F(LogInAgainstFaultServer, NonFtpGreetingFailsAtOnce)
{
    play(R"({"greeting": [{"send": "HTTP/1.1 200 OK\r\nServer: web\r\n\r\n"}]})");
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_LT(took_.count(), 5.0);
    EXPECT_TRUE(commands().empty());
}

TEST_F(LogInAgainstFaultServer, EndlessContinuationLinesFailQuickly)
{
    play(R"({"greeting": [{"send": "220-hello\r\n"}, {"endless": "220-and more\r\n"}]})");
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_LT(took_.count(), 5.0);
}

TEST_F(LogInAgainstFaultServer, MegabyteLineWithoutEndFailsQuickly)
{
    play(R"({"greeting": [{"send": "220 "}, {"flood": 1048576}, {"silent": true}]})");
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_LT(took_.count(), 5.0);
}

TEST_F(LogInAgainstFaultServer, SilentServerFailsAtTheReplyDeadline)
{
    play(R"({"greeting": [{"silent": true}]})");
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_GE(took_.count(), 59.0);
    EXPECT_LT(took_.count(), 75.0);
}

// Each wait honours its own limit, and a server that keeps talking cannot
// stretch a reply, the greeting or the whole log-in past theirs.
TEST_F(LogInAgainstFaultServer, EndlessWaitGreetingsFailPastTheDeadline)
{
    play(R"({"greeting": [{"endless": "120 wait a little\r\n", "interval": 0.05}]})");
    const auto transcript = log().parent_path() / "transcript.txt";
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_GE(took_.count(), 59.0);
    EXPECT_LT(took_.count(), 65.0);
    EXPECT_TRUE(commands().empty());
    // The transcript says why.
    EXPECT_NE(readFile(transcript).find("] cause: no reply before the deadline\n"),
              std::string::npos);
}

TEST_F(LogInAgainstFaultServer, DrippingMultiLineReplyFailsPastTheDeadline)
{
    play(R"({"replies": {"USER": [{"send": "331-go on\r\n"},
                                  {"endless": "331-and on\r\n", "interval": 0.2}]}})");
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_GE(took_.count(), 59.0);
    EXPECT_LT(took_.count(), 65.0);
    EXPECT_FALSE(received("PASS"));
}

TEST_F(LogInAgainstFaultServer, SlowStepsFailTheWholeLogInPastTheDeadline)
{
    // Every step within its own 60 s, the log-in as a whole past 120 s.
    play(R"({"greeting": [{"sleep": 45}, {"send": "220 late\r\n"}],
             "replies": {"USER": [{"sleep": 45}, {"send": "331 later\r\n"}],
                         "PASS": [{"sleep": 45}, {"send": "230 too late\r\n"}]}})");
    EXPECT_EQ(logIn(), FTP_RESULT_FAILED);
    EXPECT_GE(took_.count(), 119.0);
    EXPECT_LT(took_.count(), 125.0);
    // The deadline passing says nothing of queued commands: no second try.
    // What was queued behind PASS may reach the server after the drop, or not.
    const auto sent = commands();
    const std::vector<std::string> logIn = {"USER user", "PASS secret", "TYPE I", "FEAT",
                                            "OPTS UTF8 ON"};
    ASSERT_GE(sent.size(), 2u);
    ASSERT_LE(sent.size(), logIn.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), logIn.begin()));
}

TEST_F(LogInAgainstFaultServer, ControlCharactersInCredentialsAreRefusedBeforeConnecting)
{
    play(R"({})");
    EXPECT_EQ(logIn(u"user\r\nDELE x", u"secret"), FTP_RESULT_FAILED);
    EXPECT_EQ(logIn(u"user", u"sec\nret"), FTP_RESULT_FAILED);
    EXPECT_EQ(logIn(u"us\u0001er", u"secret"), FTP_RESULT_FAILED);
    const char16_t unpaired[] = {u's', char16_t(0xD800), u'x', 0};
    EXPECT_EQ(logIn(u"user", unpaired), FTP_RESULT_FAILED);
    EXPECT_EQ(logIn(u"us\u0085er", u"secret"), FTP_RESULT_FAILED);
    EXPECT_EQ(logIn(u"user", u"sec\u2028ret"), FTP_RESULT_FAILED);
    EXPECT_TRUE(commands().empty());
}

}  // namespace
