// SPDX-License-Identifier: MIT
// The scenarios of tests/scenarios, one file a case (see its README): the
// fault server's script, the calls and their results, the exact commands the
// server received, and what the transcript and the device's files then hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "fault_server_test.h"

using namespace harness;

namespace {

struct Call {
    std::vector<std::string> words;  // the call's name, then its arguments
    int expected = 0;
};

struct Scenario {
    std::string server;  // the fault server's JSON
    std::map<std::string, std::string> local;  // device files before the calls
    std::vector<Call> calls;
    std::vector<std::string> commands;
    bool hasCommands = false;
    std::optional<std::vector<std::string>> queued;  // sent with the next behind them
    std::vector<std::string> ignored;  // prefixes of commands left out
    std::vector<std::string> causes;  // each in one of the transcript's cause lines
    std::optional<std::map<std::string, std::string>> files;  // the device's files after
    std::optional<std::vector<std::string>> listing;  // the listing file's lines after
};

// Words split at spaces; "a b" is one word.
std::vector<std::string> wordsOf(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> std::ws && !in.eof()) {
        if (in.peek() == '"') {
            in.get();
            std::getline(in, word, '"');
        } else {
            in >> word;
        }
        words.push_back(word);
    }
    return words;
}

// "name = content"
std::pair<std::string, std::string> fileOf(const std::string& line)
{
    const auto equals = line.find(" = ");
    if (equals == std::string::npos)
        return {line, ""};
    return {line.substr(0, equals), line.substr(equals + 3)};
}

void addLine(Scenario& scenario, const std::string& section, const std::string& line)
{
    if (section == "server") {
        scenario.server += line;
    } else if (section == "local") {
        scenario.local.insert(fileOf(line));
    } else if (section == "calls") {
        const auto arrow = line.rfind(" -> ");
        Call call{wordsOf(line.substr(0, arrow)), 0};
        if (arrow != std::string::npos)
            call.expected = std::stoi(line.substr(arrow + 4));
        scenario.calls.push_back(call);
    } else if (section == "commands") {
        scenario.commands.push_back(line);
    } else if (section == "ignore") {
        scenario.ignored.push_back(line);
    } else if (section == "cause") {
        scenario.causes.push_back(line);
    } else if (section == "queued") {
        scenario.queued->push_back(line);
    } else if (section == "listing") {
        scenario.listing->push_back(line);
    } else if (section == "files") {
        if (line != "(none)")
            scenario.files->insert(fileOf(line));
    } else {
        ADD_FAILURE() << "no section " << section;
    }
}

Scenario readScenario(const std::filesystem::path& path)
{
    Scenario scenario;
    std::string section;
    for (const std::string& line : readLines(path)) {
        if (line.rfind("## ", 0) == 0) {
            section = line.substr(3);
            scenario.hasCommands = scenario.hasCommands || section == "commands";
            if (section == "files")
                scenario.files.emplace();  // "(none)": the folder is empty
            if (section == "listing")
                scenario.listing.emplace();
            if (section == "queued")
                scenario.queued.emplace();
        } else if (!line.empty() && line[0] != '#') {
            addLine(scenario, section, line);
        }
    }
    return scenario;
}

std::vector<std::string> scenarioNames()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(QUORVANE_SCENARIOS_DIR))
        if (entry.path().extension() == ".txt" && entry.path().filename() != "README.txt")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Each case's server listens on a port of its own: the module remembers
// servers by host and port (one that mishandles queued commands, say), and
// in one process (valgrind's lane) what another test taught it about a port
// would change what a case sends.
constexpr int kFirstPort = 2300;

// `server` (as a case names it) on `port`: any port it names is replaced.
std::string onPort(const std::string& server, int port)
{
    const auto scheme = server.find("://");
    const auto colon = server.rfind(':');
    const bool hasPort =
        colon != std::string::npos && (scheme == std::string::npos || colon > scheme + 2);
    return (hasPort ? server.substr(0, colon) : server) + ":" + std::to_string(port);
}

class Scenarios : public FaultServerTest, public ::testing::WithParamInterface<std::string> {
protected:
    FTPResult run(const Call& call)
    {
        const auto& w = call.words;
        const auto arg = [&](std::size_t i) { return wide(w.at(i)); };
        const auto local = [&](std::size_t i) { return device_.devicePath(w.at(i)); };
        const std::string& name = w.at(0);
        if (name == "login")
            return module().logIn(wide(onPort(w.at(1), port_)).c_str(), arg(2).c_str(),
                                  arg(3).c_str());
        if (name == "logout")
            return module().logOut();
        if (name == "list")
            return module().listFolder(nullptr, nullptr, nullptr, arg(1).c_str());
        if (name == "get")
            return module().download(local(1).c_str(), arg(2).c_str());
        if (name == "put")
            return module().upload(local(1).c_str(), arg(2).c_str());
        if (name == "delete")
            return module().deleteFile(arg(1).c_str());
        if (name == "mkdir")
            return module().createFolder(arg(1).c_str());
        if (name == "rmdir")
            return module().deleteFolder(arg(1).c_str());
        if (name == "rename")
            return module().rename(arg(1).c_str(), arg(2).c_str());
        ADD_FAILURE() << "no call " << name;
        return FTP_RESULT_FAILED;
    }

    // What the server received from `from` on, without the ignored commands.
    std::vector<std::string> received(std::size_t from, const Scenario& scenario) const
    {
        const auto all = commands();
        std::vector<std::string> kept;
        for (std::size_t i = from; i < all.size(); ++i)
            if (std::none_of(
                    scenario.ignored.begin(), scenario.ignored.end(),
                    [&](const std::string& prefix) { return all[i].rfind(prefix, 0) == 0; }))
                kept.push_back(all[i]);
        return kept;
    }

    std::map<std::string, std::string> deviceFiles() const
    {
        std::map<std::string, std::string> files;
        for (const std::string& name : device_.names())
            files[name] = readFile(device_.hostPath(name));
        return files;
    }

    DeviceFolder device_;
    int port_ = kFirstPort;
};

TEST_P(Scenarios, Play)
{
    const auto path = std::filesystem::path(QUORVANE_SCENARIOS_DIR) / (GetParam() + ".txt");
    const Scenario scenario = readScenario(path);
    ASSERT_TRUE(scenario.hasCommands) << path << " has no exact command list";
    for (const auto& [name, content] : scenario.local)
        writeFile(device_.hostPath(name), content);
    writeFile(listingFile(), "previous listing\n");
    // Listed times as the server gives them: the host's zone is UTC.
    setenv("TZ", "UTC", 1);
    tzset();
    const auto names = scenarioNames();
    port_ = kFirstPort +
            static_cast<int>(std::find(names.begin(), names.end(), GetParam()) - names.begin());
    ASSERT_NO_FATAL_FAILURE(startServer(scenario.server.empty() ? "{}" : scenario.server,
                                        {"--port", std::to_string(port_)}));
    const auto transcript = log().parent_path() / "transcript.txt";
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());

    // Without a log-in of its own, a scenario starts logged in, and its
    // commands are those after the log-in.
    std::size_t from = 0;
    std::size_t queuedFrom = 0;
    if (scenario.calls.empty() || scenario.calls.front().words.at(0) != "login") {
        ASSERT_EQ(module().logIn(wide(onPort("127.0.0.1", port_)).c_str(), u"user", u"secret"),
                  FTP_RESULT_OK);
        from = commands().size();
        queuedFrom = queuedCommands().size();
    }
    for (const Call& call : scenario.calls) {
        if (call.words.at(0) == "pause") {  // seconds between calls, as a host idles
            std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(call.words.at(1))));
            continue;
        }
        const int socketsBefore = openSocketCount();
        const FTPResult result = run(call);
        EXPECT_EQ(result, call.expected) << testing::PrintToString(call.words);
        // A failed log-in leaves nothing open.
        if (call.words.at(0) == "login" && result != FTP_RESULT_OK) {
            EXPECT_EQ(openSocketCount(), socketsBefore) << "a failed log-in left a socket";
        }
    }
    module().logOut();
    // A case that logs out itself lists the QUIT, which the module does not
    // wait for; in the others a QUIT that came ends every session.
    const bool loggedOut =
        std::any_of(scenario.calls.begin(), scenario.calls.end(),
                    [](const Call& call) { return call.words.at(0) == "logout"; });
    if (loggedOut)
        awaitSessionsEnded();

    auto sent = received(from, scenario);
    if (!loggedOut && !sent.empty() && sent.back() == "QUIT")
        sent.pop_back();
    EXPECT_EQ(sent, scenario.commands);
    if (scenario.queued) {
        const auto queued = queuedCommands();
        EXPECT_EQ(std::vector<std::string>(queued.begin() + static_cast<std::ptrdiff_t>(queuedFrom),
                                           queued.end()),
                  *scenario.queued);
    }
    const auto lines = readLines(transcript);
    for (const std::string& cause : scenario.causes) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.find("] cause: ") != std::string::npos &&
                                           line.find(cause) != std::string::npos;
                                }))
            << "no cause \"" << cause << "\" in\n"
            << readFile(transcript);
    }
    if (scenario.files) {
        EXPECT_EQ(deviceFiles(), *scenario.files);
    }
    if (scenario.listing) {
        EXPECT_EQ(readLines(listingFile()), *scenario.listing);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Scenarios, ::testing::ValuesIn(scenarioNames()), [](const auto& info) {
        std::string name = info.param;
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

}  // namespace
