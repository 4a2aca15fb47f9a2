// SPDX-License-Identifier: MIT
// The fixture the fault-server tests share: a scripted server started per
// test, and the commands it received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace harness {

class FaultServerTest : public ::testing::Test {
protected:
    void TearDown() override { module().logOut(); }

    // Starts the fault server playing `scenario` (see fault_server.py), with
    // its command-line `options` (a port of its own, say).
    void startServer(const std::string& scenario, const std::vector<std::string>& options = {})
    {
        auto command = faultServerCommand(scenario, log());
        command.insert(command.end(), options.begin(), options.end());
        server_ = std::make_unique<ServerProcess>(command);
        ASSERT_TRUE(server_->ready()) << "fault server did not start";
    }

    // Starts it and logs in as user/secret.
    void startServerAndLogIn(const std::string& scenario)
    {
        ASSERT_NO_FATAL_FAILURE(startServer(scenario));
        ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
        checked_ = commands().size();
    }

    void stopServer()
    {
        module().logOut();
        server_.reset();
        std::filesystem::remove(log());
        std::filesystem::remove(log().string() + ".sessions");
        std::filesystem::remove(log().string() + ".queued");
        std::filesystem::remove(log().string() + ".bysession");
        checked_ = 0;
    }

    std::vector<std::string> commands() const { return readLines(log()); }
    // Those from the `from`th on: after the log-in, say.
    std::vector<std::string> commandsFrom(std::size_t from) const
    {
        const auto all = commands();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
    }

    // The commands each control connection received, in the order the
    // connections opened: a session the client gave up on may still be read
    // after the next one has begun, which mixes the lines of commands().
    std::vector<std::vector<std::string>> commandsBySession() const
    {
        std::vector<std::vector<std::string>> sessions;
        for (const std::string& line : readLines(log().string() + ".bysession")) {
            const std::size_t space = line.find(' ');
            const auto number = static_cast<std::size_t>(std::stoul(line.substr(0, space)));
            if (sessions.size() < number)
                sessions.resize(number);
            sessions[number - 1].push_back(line.substr(space + 1));
        }
        return sessions;
    }

    // The commands that reached the server with the next one behind them,
    // sent in one write (plain connections only).
    std::vector<std::string> queuedCommands() const
    {
        return readLines(log().string() + ".queued");
    }

    // Once the server has read every control connection to its end: a
    // log-out does not wait for the goodbye, so QUIT may still be on its way.
    void awaitSessionsEnded() const
    {
        const std::string sessions = log().string() + ".sessions";
        for (int tries = 0; tries < 500; ++tries) {
            const std::string marks = readFile(sessions);
            const auto opened = std::count(marks.begin(), marks.end(), '+');
            if (opened > 0 && opened == std::count(marks.begin(), marks.end(), '-'))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the server still holds a session open";
    }

    int count(const std::string& prefix) const
    {
        const auto lines = commands();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
            return line.rfind(prefix, 0) == 0;
        }));
    }

    bool received(const std::string& prefix) const { return count(prefix) > 0; }

    // The commands since the log-in or the last check are exactly `expected`
    // (written out as code where they are not, to read and paste), leaving
    // out the lines `mayCome`, whose place depends on timing.
    void expectNext(const std::vector<std::string>& expected, const std::string& what = "",
                    const std::vector<std::string>& mayCome = {})
    {
        auto sent = commandsFrom(checked_);
        checked_ += sent.size();
        for (const std::string& line : mayCome)
            std::erase(sent, line);
        if (sent == expected)
            return;
        std::string code = "{";
        for (const std::string& command : sent)
            code += (code.size() > 1 ? ", \"" : "\"") + command + "\"";
        ADD_FAILURE() << what << " the commands were " << code << "}";
    }

    std::filesystem::path log() const { return folder_.path() / "commands.log"; }

private:
    TempFolder folder_;
    std::unique_ptr<ServerProcess> server_;
    std::size_t checked_ = 0;  // commands up to here are checked
};

}  // namespace harness
