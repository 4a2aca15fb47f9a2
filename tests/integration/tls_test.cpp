// SPDX-License-Identifier: MIT
// Explicit FTPS (ftpes://) against real servers that require TLS on every
// connection: vsftpd and proftpd also insist that data connections resume
// the control connection's session, under TLS 1.3 and 1.2.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "harness.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

struct TlsCase {
    Server server;
    const char* version;  // the highest the server allows
};

void PrintTo(const TlsCase& tlsCase, std::ostream* out)
{
    *out << nameOf(tlsCase.server) << " up to TLS " << tlsCase.version;
}

std::string caseName(const ::testing::TestParamInfo<TlsCase>& info)
{
    return nameOf(info.param.server) +
           (info.param.version == std::string("1.3") ? "Tls13" : "Tls12");
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

// Lines of `file` that hold every one of `needles`.
int countLines(const fs::path& file, std::initializer_list<const char*> needles)
{
    int found = 0;
    for (const std::string& line : readLines(file))
        found += std::all_of(needles.begin(), needles.end(), [&](const char* needle) {
            return line.find(needle) != std::string::npos;
        });
    return found;
}

class TlsAgainstServers : public ::testing::TestWithParam<TlsCase> {
protected:
    void TearDown() override { module().logOut(); }

    void start(int idleTimeout = 300)
    {
        TlsOptions options;
        options.maxVersion = GetParam().version;
        options.idleTimeout = idleTimeout;
        options.log = logs_.path() / "tls.log";
        server_ = std::make_unique<ServerProcess>(
            tlsServerCommand(GetParam().server, root_.path(), options));
        ASSERT_TRUE(server_->ready()) << caseName({GetParam(), 0}) << " did not start";
    }

    // Data connections that resumed a session, and those that did not, as
    // the server's own log tells; -1 where the server writes no such log.
    std::pair<int, int> resumedAndNot() const
    {
        const fs::path log = logs_.path() / "tls.log";
        switch (GetParam().server) {
        case Server::Vsftpd:  // a control connection's line comes before "[user]"
            return {countLines(log, {"[user]", "SSL version", ", reused"}),
                    countLines(log, {"[user]", "SSL version", "not reused"})};
        case Server::Proftpd:
            return {countLines(log, {"client reused TLS session for data connection"}),
                    countLines(log, {"did not reuse"})};
        case Server::PyftpdlibMlsd:
        case Server::PyftpdlibList:
            return {countLines(log, {"data TLSv1", " reused"}) - countLines(log, {"not reused"}),
                    countLines(log, {"data TLSv1", "not reused"})};
        default: return {-1, -1};  // pure-ftpd logs to syslog only
        }
    }

    // Uploads `content` as `name` and fetches it back, both byte-exact.
    void roundTrip(const std::string& name, const std::string& content)
    {
        writeFile(device_.hostPath("up.bin"), content);
        ASSERT_EQ(module().upload(device_.devicePath("up.bin").c_str(), wide(name).c_str()),
                  FTP_RESULT_OK);
        EXPECT_TRUE(readFile(root_.path() / name) == content) << name << " differs on the server";
        ASSERT_EQ(module().download(device_.devicePath("down.bin").c_str(), wide(name).c_str()),
                  FTP_RESULT_OK);
        EXPECT_TRUE(readFile(device_.hostPath("down.bin")) == content) << name << " differs back";
    }

    TempFolder root_;
    TempFolder logs_;
    DeviceFolder device_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_P(TlsAgainstServers, LongSessionResumesTheControlSessionOnEveryDataConnection)
{
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(module().logIn(u"ftpes://localhost", u"user", u"secret"), FTP_RESULT_OK);
    int dataConnections = 0;

    roundTrip("large.bin", randomBytes(5 << 20, 1));
    roundTrip("empty.bin", "");
    dataConnections += 4;
    ASSERT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_OK);
    ++dataConnections;
    const auto lines = readLines(listingFile());
    const auto large = std::find(lines.begin(), lines.end(), "large.bin");
    ASSERT_NE(large, lines.end());
    EXPECT_EQ(*(large + 1), " 5242880    ");

    // Many more connections in the same session, each of the three kinds.
    for (int round = 0; round < 8; ++round) {
        const std::string name = "small-" + std::to_string(round) + ".bin";
        roundTrip(name, randomBytes(1000 + round, round));
        ASSERT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_OK) << round;
        dataConnections += 3;
    }
    const auto listed = readLines(listingFile());
    std::size_t files = 0;
    for (std::size_t at = 0; at < listed.size(); at += 3)
        files += listed[at] != "." && listed[at] != "..";  // the folder's own, where listed
    EXPECT_EQ(files, 10u);
    EXPECT_EQ(listed.size() % 3, 0u);

    EXPECT_EQ(module().createFolder(u"folder"), FTP_RESULT_OK);
    EXPECT_EQ(module().rename(u"large.bin", u"folder/moved.bin"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"folder/moved.bin"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFolder(u"folder"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists(root_.path() / "folder"));
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);

    ASSERT_GE(dataConnections, 25);
    const auto [resumed, fresh] = resumedAndNot();
    std::printf("%d data connections: %d resumed, %d not (-1: the server does not say)\n",
                dataConnections, resumed, fresh);
    if (resumed >= 0) {
        EXPECT_EQ(resumed, dataConnections);
        EXPECT_EQ(fresh, 0);
    }
}

TEST_P(TlsAgainstServers, IdleTimeOutIsFollowedByAFreshTlsLogIn)
{
    // pure-ftpd counts idle time in minutes.
    const int idle = GetParam().server == Server::PureFtpd ? 60 : 2;
    ASSERT_NO_FATAL_FAILURE(start(idle));
    fs::create_directories(root_.path() / "sub");
    writeFile(root_.path() / "sub" / "x.txt", "in sub");
    ASSERT_EQ(module().logIn(u"ftpes://127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    ASSERT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/sub"), FTP_RESULT_OK);
    std::this_thread::sleep_for(std::chrono::seconds(idle + 2));
    // A new control connection, a new TLS session, and data connections
    // that resume that one.
    EXPECT_EQ(module().download(device_.devicePath("x.txt").c_str(), u"x.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(device_.hostPath("x.txt")), "in sub");
    EXPECT_EQ(module().deleteFile(u"x.txt"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists(root_.path() / "sub" / "x.txt"));
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
    const auto [resumed, fresh] = resumedAndNot();
    if (resumed >= 0) {
        EXPECT_EQ(resumed, 2);
        EXPECT_EQ(fresh, 0);
    }
}

// Every URL form users paste, against a server listening where it says:
// ports for plain and explicit TLS, implicit TLS on 990 and elsewhere.
struct UrlCase {
    const char* name;
    Server server;
    std::vector<std::string> options;  // for the server's launcher
    const char16_t* url;
};

void PrintTo(const UrlCase& urlCase, std::ostream* out) { *out << urlCase.name; }

class UrlFormsAgainstServers : public ::testing::TestWithParam<UrlCase> {
protected:
    void TearDown() override { module().logOut(); }
};

TEST_P(UrlFormsAgainstServers, SessionOnThePortTheUrlNames)
{
    TempFolder root;
    std::vector<std::string> command = serverCommand(GetParam().server, root.path());
    command.insert(command.end(), GetParam().options.begin(), GetParam().options.end());
    const ServerProcess server(command);
    ASSERT_TRUE(server.ready());
    const std::string content = randomBytes(300'000, 11);
    DeviceFolder device;
    writeFile(device.hostPath("up.bin"), content);
    ASSERT_EQ(module().logIn(GetParam().url, u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(module().upload(device.devicePath("up.bin").c_str(), u"/stored.bin"), FTP_RESULT_OK);
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_OK);
    EXPECT_NE(readFile(listingFile()).find("stored.bin\n"), std::string::npos);
    EXPECT_EQ(module().download(device.devicePath("down.bin").c_str(), u"stored.bin"),
              FTP_RESULT_OK);
    EXPECT_TRUE(readFile(device.hostPath("down.bin")) == content);
    EXPECT_EQ(module().deleteFile(u"stored.bin"), FTP_RESULT_OK);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
    // The default port is 21, whatever else listens: nothing does here.
    if (GetParam().options.size() >= 2 && GetParam().options[1] != "990") {
        EXPECT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_FAILED);
    }
}

const std::vector<std::string> kTls = {"--tls", QUORVANE_CERTS_DIR};

std::vector<std::string> with(std::vector<std::string> options,
                              const std::vector<std::string>& more)
{
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Interop, UrlFormsAgainstServers,
    ::testing::Values(
        UrlCase{
            "PyftpdlibOnAPort", Server::PyftpdlibMlsd, {"--port", "2121"}, u"ftp://127.0.0.1:2121"},
        UrlCase{"VsftpdOnAPort", Server::Vsftpd, {"--port", "2121"}, u"ftp://localhost:2121/"},
        UrlCase{"VsftpdExplicitTlsOnAPort", Server::Vsftpd, with({"--port", "2121"}, kTls),
                u"ftpes://localhost:2121"},
        UrlCase{"VsftpdImplicitTls", Server::Vsftpd,
                with({"--port", "990", "--implicit-tls"}, kTls), u"ftps://localhost"},
        UrlCase{"VsftpdImplicitTlsOnAPort", Server::Vsftpd,
                with({"--port", "9990", "--implicit-tls"}, kTls), u"ftps://127.0.0.1:9990"},
        UrlCase{"ProftpdImplicitTls", Server::Proftpd,
                with({"--port", "990", "--implicit-tls"}, kTls), u"ftps://127.0.0.1/"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Interop, TlsAgainstServers,
    ::testing::Values(TlsCase{Server::Vsftpd, "1.3"}, TlsCase{Server::Vsftpd, "1.2"},
                      TlsCase{Server::Proftpd, "1.3"}, TlsCase{Server::Proftpd, "1.2"},
                      TlsCase{Server::PureFtpd, "1.3"}, TlsCase{Server::PureFtpd, "1.2"},
                      TlsCase{Server::PyftpdlibMlsd, "1.3"}, TlsCase{Server::PyftpdlibMlsd, "1.2"}),
    caseName);

TEST(TlsAddressLiterals, Ipv6LiteralIsCheckedAgainstTheCertificatesAddresses)
{
    TempFolder root;
    writeFile(root.path() / "v6.txt", "over IPv6 and TLS");
    TlsOptions options;
    std::vector<std::string> argv = tlsServerCommand(Server::PyftpdlibMlsd, root.path(), options);
    argv.insert(argv.end(), {"--host", "::1"});
    ServerProcess server(argv);
    ASSERT_TRUE(server.ready());
    DeviceFolder device;
    ASSERT_EQ(module().logIn(u"ftpes://[::1]/", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(module().download(device.devicePath("v6.txt").c_str(), u"v6.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(device.hostPath("v6.txt")), "over IPv6 and TLS");
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

}  // namespace
