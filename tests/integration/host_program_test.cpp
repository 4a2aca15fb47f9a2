// The host program as a user meets it: why a command failed in one line,
// short usage errors, -v, and progress only where a person watches.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "fault_server_test.h"

using namespace harness;

namespace {

std::string lastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

class HostProgram : public FaultServerTest {
protected:
    ProgramRun quorvane(std::vector<std::string> arguments)
    {
        const std::vector<std::string> program = hostCommand();
        arguments.insert(arguments.begin(), program.begin(), program.end());
        return runProgram(arguments);
    }
    ProgramRun session(const std::vector<std::string>& commands)
    {
        std::vector<std::string> arguments = {"login", "127.0.0.1", "user", "secret"};
        arguments.insert(arguments.end(), commands.begin(), commands.end());
        arguments.push_back("logout");
        return quorvane(arguments);
    }
};

TEST_F(HostProgram, AFailedCommandSaysWhyInOneLine)
{
    // The failure comes after commands that succeeded (the program's private
    // transcript starts over before each).
    constexpr int kDeletes = 200;
    std::string deletes;
    std::vector<std::string> commands;
    for (int i = 0; i < kDeletes; ++i) {
        deletes += R"("250 deleted", )";
        commands.insert(commands.end(), {"rm", "f" + std::to_string(i)});
    }
    commands.insert(commands.end(), {"rm", "missing.txt"});
    startServer(R"({"files": {"big.bin": ")" + std::string(100000, 'b') + R"("},
                    "replies": {"DELE": {"sequence": [)" +
                deletes + R"("550 No such file or directory"]}}})");
    ProgramRun run = session(commands);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), kDeletes + 2);  // and login
    EXPECT_EQ(lastLine(run.out), "rm 2: 550 No such file or directory");

    run = quorvane({"login", "127.0.0.1", "user", "wrong"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastLine(run.out), "login 2: 530 login incorrect");

    run = quorvane({"login", "127.0.0.2", "user", "secret"});  // nothing listens there
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastLine(run.out).rfind("login 2: cannot connect to 127.0.0.2 port 21", 0), 0u)
        << run.out;

    DeviceFolder device;
    {
        const FullDevice full(16 * 1024);
        const std::string local = "/test-" + std::to_string(::getpid()) + "/big.bin";
        run = session({"get", local, "big.bin"});
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastLine(run.out), "get 2: cannot write " + device.hostPath("big.bin").string() +
                                     ": No space left on device")
        << run.out;
    EXPECT_TRUE(device.names().empty()) << "a partial download was left";
}

TEST_F(HostProgram, UsageErrorsAreOneLineWithAHint)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"bogus"}, {"login", "127.0.0.1"}, {"--no-such-option"}, {}}) {
        const ProgramRun run = quorvane(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
        EXPECT_EQ(lastLine(run.err), "Try 'quorvane --help' for more information.");
    }
    const ProgramRun version = quorvane({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quorvane " QUORVANE_VERSION_TEXT "\n");
}

TEST_F(HostProgram, VerboseShowsTheTranscriptWithThePasswordMasked)
{
    startServer(R"({})");
    const ProgramRun run = quorvane({"-v", "login", "127.0.0.1", "user", "secret", "logout"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("] -> USER user\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("] -> PASS ****\n"), std::string::npos);
    EXPECT_EQ(run.err.find("secret"), std::string::npos);
    EXPECT_NE(run.err.find("] call FTPServerLogIn(127.0.0.1, user) = 999\n"), std::string::npos);
    EXPECT_EQ(run.out, "login 999\nlogout 999\n");
}

TEST_F(HostProgram, ProgressOnlyOnATerminal)
{
    // A download that takes over a second: progress is due where a person watches.
    startServer(R"({"replies": {"RETR": [{"send": "150 here\r\n"},
        {"data_slow": "slowly", "interval": 0.3}, {"data_close": true}, {"send": "226 done\r\n"}]}})");
    const DeviceFolder device;
    const std::string local = "/test-" + std::to_string(::getpid()) + "/";
    const std::vector<std::string> commands = {"get", local + "piped.bin", "slow.bin"};
    const ProgramRun piped = session(commands);
    EXPECT_EQ(piped.status, 0) << piped.out << piped.err;
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);
    EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);
    // The same under a terminal (script(1) gives it one) does show it.
    std::string line;
    for (const std::string& word : hostCommand())
        line += word + " ";
    line += "login 127.0.0.1 user secret get " + local + "terminal.bin slow.bin logout";
    const ProgramRun terminal = runProgram({"/usr/bin/script", "-qec", line, "/dev/null"});
    EXPECT_EQ(terminal.status, 0) << terminal.out;
    EXPECT_NE(terminal.out.find('\r'), std::string::npos) << terminal.out;
    EXPECT_EQ(device.names(), (std::vector<std::string>{"piped.bin", "terminal.bin"}));
}

}  // namespace
