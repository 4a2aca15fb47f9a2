// SPDX-License-Identifier: MIT
// Links that break: transfers resumed in the same call (REST, or over from
// the start where the server has none), never two versions stitched, a
// bounded number of attempts, and completions verified on a fresh
// connection when the data went through whole but the word never came.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "fault_server_test.h"

using namespace harness;

namespace {

constexpr std::size_t kSize = 1'000'000;
// What a resumed download reads again to see that the file is the same.
constexpr int kOverlap = 64 << 10;

std::string content(unsigned seed)
{
    std::mt19937 generator(seed);
    std::string text(kSize, 'a');
    for (char& c : text)
        c = static_cast<char>('a' + generator() % 26);
    return text;
}

// What a server with SIZE, MDTM and REST offers.
constexpr const char* kFeatures =
    R"("FEAT": "211-Features:\r\n EPSV\r\n SIZE\r\n MDTM\r\n REST STREAM\r\n211 End")";

class ResumeAgainstFaultServer : public FaultServerTest {
protected:
    // Starts the server with `file` served as f.bin and `replies` added to
    // FEAT; logs in.
    void play(const std::string& file, const std::string& replies, const std::string& more = "")
    {
        const auto served = store_.path() / "served.bin";
        writeFile(served, file);
        startServerAndLogIn(R"({"file_paths": {"f.bin": ")" + served.string() +
                            R"("}, "sizes": true, "store_dir": ")" + store_.path().string() +
                            R"(", )" + more + R"("replies": {)" + kFeatures +
                            (replies.empty() ? "" : ", ") + replies + "}}");
    }

    FTPResult download()
    {
        const auto start = std::chrono::steady_clock::now();
        const FTPResult result =
            module().download(device_.devicePath("down.bin").c_str(), u"f.bin");
        took_ = std::chrono::steady_clock::now() - start;
        return result;
    }
    std::string downloaded() const { return readFile(device_.hostPath("down.bin")); }

    FTPResult upload(const std::string& data)
    {
        writeFile(device_.hostPath("up.bin"), data);
        return module().upload(device_.devicePath("up.bin").c_str(), u"up.bin");
    }
    std::string stored() const { return readFile(store_.path() / "up.bin"); }

    DeviceFolder device_;
    TempFolder store_;
    Seconds took_{};
};

// A reset after the first part, then the usual answer.
std::string cutAfter(int bytes, const std::string& then = "\"default\"")
{
    return R"({"sequence": [[{"send": "150 Opening (1000000 bytes)\r\n"},
        {"data_file": "f.bin", "until": )" +
           std::to_string(bytes) + R"(}, {"data_reset": true},
        {"send": "426 Connection closed; transfer aborted.\r\n"}], )" +
           then + "]}";
}

TEST_F(ResumeAgainstFaultServer, ABrokenDownloadGoesOnFromWhereItStopped)
{
    const std::string file = content(1);
    play(file, R"("RETR": )" + cutAfter(300'000));
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    EXPECT_EQ(count("RETR"), 2);
    EXPECT_EQ(count("REST " + std::to_string(300'000 - kOverlap)), 1);
    EXPECT_EQ(count("USER"), 1);  // the control connection was still good
    EXPECT_LT(took_.count(), 5.0);
}

TEST_F(ResumeAgainstFaultServer, ALostControlConnectionIsReconnectedAndResumed)
{
    const std::string file = content(2);
    play(file, R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 300000}, {"data_reset": true}, {"close": true}], "default"]})");
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    EXPECT_EQ(count("USER"), 2);  // a reconnection, spaced out by a second
    EXPECT_EQ(count("REST " + std::to_string(300'000 - kOverlap)), 1);
    EXPECT_GE(took_.count(), 1.0);
    // The session goes on on the new connection.
    EXPECT_EQ(module().download(device_.devicePath("again.bin").c_str(), u"f.bin"), FTP_RESULT_OK);
}

TEST_F(ResumeAgainstFaultServer, WithoutRestTheDownloadStartsOverIntoAnEmptyFile)
{
    const std::string file = content(3);
    play(file, R"("RETR": )" + cutAfter(300'000), R"("no_rest": true, )");
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    EXPECT_EQ(count("RETR"), 2);
}

TEST_F(ResumeAgainstFaultServer, AFileChangedDuringTheBreakIsReadAgainWhole)
{
    const std::string before = content(4);
    const std::string after = content(5);  // the same size: only MDTM tells
    writeFile(store_.path() / "after.bin", after);
    play(before,
         R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 300000}, {"data_reset": true},
        {"set_file_path": ["f.bin", ")" +
             (store_.path() / "after.bin").string() + R"(", "20260102030405"]},
        {"send": "426 aborted\r\n"}], "default"]})",
         R"("mdtm": "20260101000000", )");
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == after);  // never the first part of one and the rest of another
    EXPECT_EQ(count("RETR"), 3);  // the break, the look at what it had, and all anew
}

TEST_F(ResumeAgainstFaultServer, AttemptsAreBoundedAndMustGetFurther)
{
    // Every attempt breaks 100,000 bytes further on: four, then the call fails.
    std::string sequence;
    for (int part = 1; part <= 5; ++part)
        sequence += std::string(part > 1 ? ", " : "") + R"([{"send": "150 Opening\r\n"},
            {"data_file": "f.bin", "until": )" +
                    std::to_string(part * 100'000) +
                    R"(}, {"data_reset": true}, {"send": "426 aborted\r\n"}])";
    play(content(6), R"("RETR": {"sequence": [)" + sequence + "]}");
    EXPECT_EQ(download(), FTP_RESULT_FAILED);
    EXPECT_EQ(count("RETR"), 4);
    EXPECT_EQ(device_.names(), std::vector<std::string>{});
    stopServer();
    // Without REST, a second attempt that gets no further than the first is the last.
    play(content(7), R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 100000}, {"data_reset": true}, {"send": "426 aborted\r\n"}]]})",
         R"("no_rest": true, )");
    EXPECT_EQ(download(), FTP_RESULT_FAILED);
    EXPECT_EQ(count("RETR"), 2);
}

TEST_F(ResumeAgainstFaultServer, RefusalsAndLocalFailuresAreNeverRetried)
{
    play(content(8), R"("RETR": "550 gone", "STOR": "553 not allowed")");
    EXPECT_EQ(download(), FTP_RESULT_FAILED);
    writeFile(device_.hostPath("x"), "x");
    EXPECT_EQ(module().upload(device_.devicePath("x").c_str(), u"x"), FTP_RESULT_FAILED);
    EXPECT_EQ(count("RETR"), 1);
    EXPECT_EQ(count("STOR x"), 1);
}

// Larger than what the sockets buffer, so that the reset reaches the sender.
std::string bigContent(unsigned seed)
{
    std::string text;
    while (text.size() < (8u << 20))
        text += content(seed++);
    return text;
}

TEST_F(ResumeAgainstFaultServer, ABrokenUploadGoesOnFromWhatTheServerHolds)
{
    const std::string file = bigContent(9);
    play("",
         R"("STOR": {"sequence": [[{"send": "150 Ok\r\n"}, {"data_drain": true, "limit": 2000000},
        {"send": "426 aborted\r\n"}], "default"]})");
    EXPECT_EQ(upload(file), FTP_RESULT_OK);
    EXPECT_TRUE(stored() == file);  // byte for byte, not only the size
    EXPECT_EQ(count("REST 2000000"), 1);
    EXPECT_EQ(count("STOR up.bin"), 2);
}

TEST_F(ResumeAgainstFaultServer, WhereRestIsRefusedTheUploadAppends)
{
    const std::string file = bigContent(10);
    play("",
         R"("STOR": {"sequence": [[{"send": "150 Ok\r\n"}, {"data_drain": true, "limit": 2000000},
        {"send": "426 aborted\r\n"}], "default"]})",
         R"("no_rest": true, )");
    EXPECT_EQ(upload(file), FTP_RESULT_OK);
    EXPECT_TRUE(stored() == file);
    EXPECT_EQ(count("APPE up.bin"), 1);
    stopServer();
    // REST taken, but no STOR from there: all of it once more.
    play("",
         R"("STOR": {"sequence": [[{"send": "150 Ok\r\n"}, {"data_drain": true, "limit": 2000000},
        {"send": "426 aborted\r\n"}], "451 Append/Restart not permitted", "default"]})");
    EXPECT_EQ(upload(file), FTP_RESULT_OK);
    EXPECT_TRUE(stored() == file);
    EXPECT_EQ(count("STOR up.bin"), 3);
}

TEST_F(ResumeAgainstFaultServer, AWholeTransferWithoutItsCompletionIsVerifiedAfresh)
{
    const std::string file = content(11);
    // Every byte, then the control connection goes away without a word.
    play(file, R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"}, {"data_file": "f.bin"},
        {"data_close": true}, {"close": true}], "default"]},
        "STOR": {"sequence": [[{"send": "150 Ok\r\n"}, {"data_drain": true}, {"data_close": true},
        {"close": true}], "default"]})");
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    EXPECT_EQ(count("RETR"), 1);  // asked, not moved again
    EXPECT_EQ(count("USER"), 2);
    EXPECT_EQ(upload(file), FTP_RESULT_OK);
    EXPECT_EQ(count("STOR up.bin"), 1);
    EXPECT_EQ(count("USER"), 3);
}

TEST_F(ResumeAgainstFaultServer, WithoutSizeAnUnconfirmedTransferStaysAFailure)
{
    startServerAndLogIn(R"({"files": {"f.bin": "whole"}, "replies": {"RETR": [
        {"send": "150 Opening\r\n"}, {"data": "whole"}, {"data_close": true}, {"close": true}]}})");
    EXPECT_EQ(download(), FTP_RESULT_FAILED);
    EXPECT_EQ(device_.names(), std::vector<std::string>{});
}

TEST_F(ResumeAgainstFaultServer, SilentDataIsResumedAfterTheInactivityLimit)
{
    const std::string file = content(12);
    play(file, R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 300000}, {"sleep": 80}], "default"]})");
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    EXPECT_GE(took_.count(), 59.0);
    EXPECT_LT(took_.count(), 90.0);
    EXPECT_EQ(count("REST " + std::to_string(300'000 - kOverlap)), 1);
}

// The same against the servers of the interop matrix, plain and TLS,
// through a proxy that resets the first and the third data connection at
// 2 MB: an upload and a download of 3 MB are each resumed once.
struct ResumeCase {
    Server server;
    bool tls;
};

void PrintTo(const ResumeCase& resumeCase, std::ostream* out)
{
    *out << nameOf(resumeCase.server) << (resumeCase.tls ? " over TLS" : "");
}

class ResumeAgainstServers : public ::testing::TestWithParam<ResumeCase> {
protected:
    void TearDown() override { module().logOut(); }
};

TEST_P(ResumeAgainstServers, BrokenTransfersGoOnByteForByte)
{
    TempFolder root;
    std::vector<std::string> command = GetParam().tls
                                           ? tlsServerCommand(GetParam().server, root.path(), {})
                                           : serverCommand(GetParam().server, root.path());
    command.insert(command.end(), {"--host", "127.0.0.2", "--passive-ports", "40000-40019"});
    const ServerProcess server(command);
    ASSERT_TRUE(server.ready());
    const ServerProcess proxy({QUORVANE_PYTHON,
                               std::string(QUORVANE_SERVERS_DIR) + "/fault_proxy.py", "--upstream",
                               "127.0.0.2", "--passive", "40000-40019", "--reset-after", "2000000",
                               "--reset-nth", "1,3"});
    ASSERT_TRUE(proxy.ready());
    std::string file;
    for (unsigned seed = 20; file.size() < 3'000'000; ++seed)
        file += content(seed);
    file.resize(3'000'000);
    DeviceFolder device;
    writeFile(device.hostPath("up.bin"), file);
    const auto transcript = root.path() / "transcript.txt";
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());
    ASSERT_EQ(
        module().logIn(GetParam().tls ? u"ftpes://127.0.0.1" : u"127.0.0.1", u"user", u"secret"),
        FTP_RESULT_OK);
    EXPECT_EQ(module().upload(device.devicePath("up.bin").c_str(), u"stored.bin"), FTP_RESULT_OK);
    EXPECT_TRUE(readFile(root.path() / "stored.bin") == file);
    EXPECT_EQ(module().download(device.devicePath("down.bin").c_str(), u"stored.bin"),
              FTP_RESULT_OK);
    EXPECT_TRUE(readFile(device.hostPath("down.bin")) == file);
    const std::string text = readFile(transcript);
    EXPECT_NE(text.find("resuming the upload at"), std::string::npos);
    EXPECT_NE(text.find("resuming the download at"), std::string::npos);
    if (HasFailure())
        ADD_FAILURE() << "the transcript:\n" << text;
}

std::vector<ResumeCase> resumeCases()
{
    std::vector<ResumeCase> cases;
    for (const Server server :
         {Server::PyftpdlibMlsd, Server::Vsftpd, Server::Proftpd, Server::PureFtpd})
        for (const bool tls : {false, true})
            cases.push_back({server, tls});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Interop, ResumeAgainstServers, ::testing::ValuesIn(resumeCases()),
                         [](const auto& info) {
                             return nameOf(info.param.server) + (info.param.tls ? "Tls" : "");
                         });

}  // namespace
