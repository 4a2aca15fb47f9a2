// SPDX-License-Identifier: MIT
// Links that break: transfers resumed in the same call (REST, or over from
// the start where the server has none), never two versions stitched, a
// bounded number of attempts, and completions verified on a fresh
// connection when the data went through whole but the word never came.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "fault_server_test.h"

using namespace harness;

namespace {

constexpr std::size_t kSize = 1'000'000;
// What a resumed download reads again to see that the file is the same.
constexpr int kOverlap = 64 << 10;

std::string content(unsigned seed, std::size_t size = kSize)
{
    std::mt19937 generator(seed);
    std::string text(size, 'a');
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
                            R"("}, "sizes": true, "mdtm": "20260101000000", "store_dir": ")" +
                            store_.path().string() + R"(", )" + more + R"("replies": {)" +
                            kFeatures + (replies.empty() ? "" : ", ") + replies + "}}");
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
    // What the server holds as up.bin before the upload, for play()'s `more`.
    std::string oldFile(const std::string& content) const
    {
        writeFile(store_.path() / "old.bin", content);
        return R"("file_paths": {"up.bin": ")" + (store_.path() / "old.bin").string() + R"("}, )";
    }

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
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                "MDTM f.bin", "EPSV", "REST 234464", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                "MDTM f.bin"});  // the control connection was still good
    EXPECT_LT(took_.count(), 5.0);
}

TEST_F(ResumeAgainstFaultServer, ALostControlConnectionIsReconnectedAndResumed)
{
    const std::string file = content(2);
    play(file, R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 300000}, {"data_reset": true}, {"close": true}], "default"]})");
    EXPECT_EQ(download(), FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "USER user",
                "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "SIZE f.bin", "MDTM f.bin", "EPSV",
                "REST 234464", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                "MDTM f.bin"});  // a reconnection, spaced out by a second
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
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                "MDTM f.bin", "EPSV", "REST 234464", "SIZE f.bin", "MDTM f.bin", "EPSV",
                "RETR f.bin", "DATA 127.0.0.1"});
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
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                "MDTM f.bin", "EPSV", "SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin",
                "DATA 127.0.0.1"});  // the break, and all anew: MDTM said it changed
}

// A file replaced during the break by one of the same size that differs
// only outside the bytes read again: its time tells (with or without the
// 150's size), and where the time cannot (a rewrite within the same
// second), the server's digest does.
TEST_F(ResumeAgainstFaultServer, AFileChangedOutsideTheOverlapIsNeverStitched)
{
    const std::string before = content(40);
    std::string after = before;
    for (std::size_t i = 0; i < 100'000; ++i)
        after[i] = static_cast<char>('A' + i % 26);  // far from the overlap at 300,000
    writeFile(store_.path() / "after.bin", after);
    struct Row {
        const char* what;
        const char* opening;  // the 150
        const char* newTime;
        const char* features;  // FEAT's lines beyond EPSV and REST
        std::vector<std::string> commands;
    };
    for (const Row& row : {
             Row{"a new time, the 150 sized",
                 "150 Opening (1000000 bytes)",
                 "20260102030405",
                 R"( SIZE\r\n MDTM)",
                 {"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                  "MDTM f.bin", "EPSV", "SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin",
                  "DATA 127.0.0.1"}},
             Row{"a new time, no size in the 150",
                 "150 Opening",
                 "20260102030405",
                 R"( SIZE\r\n MDTM)",
                 {"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                  "MDTM f.bin", "EPSV", "SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin",
                  "DATA 127.0.0.1"}},
             Row{"the same time, a digest",
                 "150 Opening",
                 "20260101000000",
                 R"( SIZE\r\n MDTM\r\n HASH SHA-1*;SHA-256;MD5)",
                 {"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                  "MDTM f.bin", "EPSV", "REST 234464", "RETR f.bin", "DATA 127.0.0.1",
                  "OPTS HASH SHA-256", "HASH f.bin", "SIZE f.bin", "MDTM f.bin", "EPSV",
                  "RETR f.bin", "DATA 127.0.0.1"}},
         }) {
        play(before, std::string(R"("FEAT": "211-Features:\r\n EPSV\r\n REST STREAM\r\n)") +
                         row.features + R"(\r\n211 End", "RETR": {"sequence": [[{"send": ")" +
                         row.opening + R"(\r\n"}, {"data_file": "f.bin", "until": 300000},
                 {"data_reset": true}, {"set_file_path": ["f.bin", ")" +
                         (store_.path() / "after.bin").string() + R"(", ")" + row.newTime + R"("]},
                 {"send": "426 aborted\r\n"}], "default"]})");
        EXPECT_EQ(download(), FTP_RESULT_OK) << row.what;
        EXPECT_TRUE(downloaded() == after) << row.what;  // the new file whole, never both
        expectNext(row.commands, row.what);
        stopServer();
    }
}

// A stream that ends before the file's size is a break, however cleanly it
// ends; a server restarted during the break is met when it is back.
TEST_F(ResumeAgainstFaultServer, AServerThatDiedMidFileIsResumedWhenItIsBack)
{
    const std::string file = content(41);
    const auto served = store_.path() / "served.bin";
    writeFile(served, file);
    const std::string scenario = R"({"file_paths": {"f.bin": ")" + served.string() +
                                 R"("}, "sizes": true, "mdtm": "20260101000000", "replies": {)" +
                                 kFeatures;
    startServerAndLogIn(scenario + R"(, "RETR": [{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 700000}, {"data_close": true}, {"die": true}]}})");
    // The supervisor starts it again 1.5 s later.
    std::thread supervisor([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        startServer(scenario + "}}");
    });
    const FTPResult result = download();
    supervisor.join();
    EXPECT_EQ(result, FTP_RESULT_OK);
    EXPECT_TRUE(downloaded() == file);
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "USER user",
                "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "SIZE f.bin", "MDTM f.bin", "EPSV",
                "REST 634464", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin", "MDTM f.bin"});
}

// Slow replies on the way back after a break: one deadline without progress
// covers the reconnection, SIZE, MDTM, REST and the command together.
TEST_F(ResumeAgainstFaultServer, TheWayBackEndsPastTheDeadlineWithoutProgress)
{
    const std::string file = content(42);
    for (const int delay : {10, 25}) {
        const std::string slow = std::to_string(delay);
        const std::string late = R"([{"sleep": )" + slow + R"(}, {"default": true}])";
        play(file, R"("RETR": )" + cutAfter(300'000) + R"(, "SIZE": {"sequence": ["default", )" +
                       late + R"(]}, "MDTM": {"sequence": ["default", )" + late +
                       R"(]}, "REST": )" + late);
        const FTPResult result = download();
        if (delay == 10) {  // 30 s back: within the deadline
            EXPECT_EQ(result, FTP_RESULT_OK);
            EXPECT_TRUE(downloaded() == file);
        } else {  // 75 s back: it ends at 60 s, the earlier local file untouched
            EXPECT_EQ(result, FTP_RESULT_FAILED);
            EXPECT_GE(took_.count(), 59.0);
            EXPECT_LT(took_.count(), 66.0);
            EXPECT_TRUE(downloaded() == file);
            EXPECT_EQ(device_.names(), std::vector<std::string>{"down.bin"});
        }
        stopServer();
    }
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
    expectNext({"SIZE f.bin",     "MDTM f.bin",     "EPSV",          "RETR f.bin", "DATA 127.0.0.1",
                "SIZE f.bin",     "MDTM f.bin",     "EPSV",          "REST 34464", "RETR f.bin",
                "DATA 127.0.0.1", "SIZE f.bin",     "MDTM f.bin",    "EPSV",       "REST 134464",
                "RETR f.bin",     "DATA 127.0.0.1", "SIZE f.bin",    "MDTM f.bin", "EPSV",
                "REST 234464",    "RETR f.bin",     "DATA 127.0.0.1"});
    EXPECT_EQ(device_.names(), std::vector<std::string>{});
    stopServer();
    // Without REST, a second attempt that gets no further than the first is the last.
    play(content(7), R"("RETR": {"sequence": [[{"send": "150 Opening\r\n"},
        {"data_file": "f.bin", "until": 100000}, {"data_reset": true}, {"send": "426 aborted\r\n"}]]})",
         R"("no_rest": true, )");
    EXPECT_EQ(download(), FTP_RESULT_FAILED);
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin",
                "MDTM f.bin", "EPSV", "REST 34464", "SIZE f.bin", "MDTM f.bin", "EPSV",
                "RETR f.bin", "DATA 127.0.0.1"});
}

TEST_F(ResumeAgainstFaultServer, RefusalsAndLocalFailuresAreNeverRetried)
{
    play(content(8), R"("RETR": "550 gone", "STOR": "553 not allowed")");
    EXPECT_EQ(download(), FTP_RESULT_FAILED);
    writeFile(device_.hostPath("x"), "x");
    EXPECT_EQ(module().upload(device_.devicePath("x").c_str(), u"x"), FTP_RESULT_FAILED);
    expectNext(
        {"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "SIZE x", "MDTM x", "EPSV", "STOR x"});
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
    expectNext({"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1",
                "STORED 2000000", "SIZE up.bin", "MDTM up.bin", "EPSV", "REST 2000000",
                "STOR up.bin", "DATA 127.0.0.1", "STORED 7000000", "SIZE up.bin", "MDTM up.bin"});
}

// A break the server never acted on leaves its old file in place: what it
// holds then is not this upload's, and never taken for its first part.
TEST_F(ResumeAgainstFaultServer, AnUploadTheServerNeverTookStartsOverNeverStitched)
{
    const std::string file = bigContent(30);
    const std::string old(100'000, 'o');  // shorter than what was sent
    struct Row {
        const char* stor;
        std::vector<std::string> commands;
    };
    for (
        const Row& row : {
            // The command lost with the link: no 150, nothing stored.
            Row{R"([{"close": true}])",
                {"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "USER user", "PASS secret",
                 "TYPE I", "FEAT", "OPTS UTF8 ON", "SIZE up.bin", "MDTM up.bin", "EPSV",
                 "STOR up.bin", "DATA 127.0.0.1", "STORED 9000000", "SIZE up.bin"}},
            // Bytes received into a hidden name, dropped with the session.
            Row{R"([{"send": "150 Ok\r\n"}, {"data_drain": true, "limit": 2000000, "discard": true},
                 {"send": "426 aborted\r\n"}])",
                {"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1",
                 "STORED 2000000", "SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin",
                 "DATA 127.0.0.1", "STORED 9000000", "SIZE up.bin"}},
        }) {
        play("", std::string(R"("STOR": {"sequence": [)") + row.stor + R"(, "default"]})",
             oldFile(old));
        EXPECT_EQ(upload(file), FTP_RESULT_OK) << row.stor;
        EXPECT_TRUE(stored() == file) << row.stor;  // never old bytes and then new ones
        expectNext(row.commands, row.stor);  // no REST: all anew
        stopServer();
    }
}

// Completions lost after every byte went: done only where the server's file
// provably changed to this upload; an old file of the same length is not it.
TEST_F(ResumeAgainstFaultServer, ALostUploadCompletionIsProvenNotGuessed)
{
    const std::string file = content(31);
    struct Row {
        const char* what;
        const char* features;  // FEAT's lines beyond EPSV
        bool commits;  // the server kept what it received
        std::vector<std::string> commands;  // to a proven file
    };
    for (const Row& row : {
             Row{"committed, its time changed",
                 R"( SIZE\r\n MDTM)",
                 true,
                 {"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1",
                  "STORED 1000000", "USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON",
                  "SIZE up.bin", "MDTM up.bin"}},
             Row{"not committed: the old file as it was",
                 R"( SIZE\r\n MDTM)",
                 false,
                 {"SIZE up.bin",    "MDTM up.bin",    "EPSV",           "STOR up.bin",
                  "DATA 127.0.0.1", "STORED 1000000", "USER user",      "PASS secret",
                  "TYPE I",         "FEAT",           "OPTS UTF8 ON",   "SIZE up.bin",
                  "MDTM up.bin",    "SIZE up.bin",    "MDTM up.bin",    "EPSV",
                  "STOR up.bin",    "DATA 127.0.0.1", "STORED 1000000", "SIZE up.bin"}},
             // Without a time, a file of the same length proves nothing: the
             // digest does, whichever way.
             Row{"committed, digest",
                 R"( SIZE\r\n XSHA256)",
                 true,
                 {"SIZE up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1", "STORED 1000000",
                  "USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "XSHA256 up.bin"}},
             Row{"not committed, digest",
                 R"( SIZE\r\n XSHA256)",
                 false,
                 {"SIZE up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1", "STORED 1000000",
                  "USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "XSHA256 up.bin",
                  "SIZE up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1", "STORED 1000000",
                  "SIZE up.bin"}},
         }) {
        play("",
             std::string(R"("FEAT": "211-Features:\r\n EPSV\r\n)") + row.features +
                 R"(\r\n211 End", "STOR": {"sequence": [[{"send": "150 Ok\r\n"},
                 {"data_drain": true, "discard": )" +
                 (row.commits ? "false" : "true") +
                 R"(}, {"data_close": true}, {"close": true}], "default"]})",
             oldFile(std::string(file.size(), 'o')));
        EXPECT_EQ(upload(file), FTP_RESULT_OK) << row.what;
        EXPECT_TRUE(stored() == file) << row.what;
        expectNext(row.commands, row.what);
        stopServer();
    }
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
    expectNext({"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1",
                "STORED 2000000", "SIZE up.bin", "MDTM up.bin", "EPSV", "REST 2000000",
                "SIZE up.bin", "MDTM up.bin", "EPSV", "APPE up.bin", "DATA 127.0.0.1",
                "STORED 7000000", "SIZE up.bin", "MDTM up.bin"});
    stopServer();
    // REST taken, but no STOR from there: all of it once more.
    play("",
         R"("STOR": {"sequence": [[{"send": "150 Ok\r\n"}, {"data_drain": true, "limit": 2000000},
        {"send": "426 aborted\r\n"}], "451 Append/Restart not permitted", "default"]})");
    EXPECT_EQ(upload(file), FTP_RESULT_OK);
    EXPECT_TRUE(stored() == file);
    expectNext({"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1",
                "STORED 2000000", "SIZE up.bin", "MDTM up.bin", "EPSV", "REST 2000000",
                "STOR up.bin", "SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin",
                "DATA 127.0.0.1", "STORED 9000000", "SIZE up.bin", "MDTM up.bin"});
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
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "USER user",
                "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "SIZE f.bin",
                "MDTM f.bin"});  // asked, not moved again
    EXPECT_EQ(upload(file), FTP_RESULT_OK);
    expectNext({"SIZE up.bin", "MDTM up.bin", "EPSV", "STOR up.bin", "DATA 127.0.0.1",
                "STORED 1000000", "USER user", "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON",
                "SIZE up.bin", "MDTM up.bin"});
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
    expectNext({"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1", "USER user",
                "PASS secret", "TYPE I", "FEAT", "OPTS UTF8 ON", "SIZE f.bin", "MDTM f.bin", "EPSV",
                "REST 234464", "RETR f.bin", "DATA 127.0.0.1", "SIZE f.bin", "MDTM f.bin"});
}

// Downloads kept across calls (QUORVANE_KEEP_PARTIAL=1): a host killed in
// the middle of a download, called again, goes on from what was flushed,
// never onto another version of the file; without the variable a killed
// download leaves nothing.
class KeptDownloads : public FaultServerTest {
protected:
    void serve(const std::string& file, const char* mdtm, bool paced,
               const std::string& features = kFeatures)
    {
        const auto served = store_.path() / "served.bin";
        writeFile(served, file);
        startServer(std::string(R"({"file_paths": {"f.bin": ")") + served.string() +
                    R"("}, "sizes": true, "mdtm": ")" + mdtm + R"(", "replies": {)" + features +
                    (paced ? R"(, "RETR": {"sequence": [[{"send": "150 Opening\r\n"},
                        {"data_file": "f.bin", "rate": 8000000}, {"data_close": true},
                        {"send": "226 done\r\n"}], "default"]})"
                           : "") +
                    "}}");
    }
    // The host program's `get`, killed (SIGKILL) after `seconds` if given.
    ProgramRun get(std::optional<double> seconds = std::nullopt)
    {
        std::vector<std::string> argv;
        if (seconds)
            argv = {"timeout", "-s", "KILL", std::to_string(*seconds)};
        for (const std::string& word : hostCommand())
            argv.push_back(word);
        const std::string local = "/test-" + std::to_string(::getpid()) + "/down.bin";
        argv.insert(argv.end(), {"login", "127.0.0.1", "user", "secret", "get", local, "f.bin"});
        return runProgram(argv);
    }
    // What the kept download's record says is on the disk.
    std::uint64_t flushedOnRecord() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(device_.hostPath("")))
            if (entry.path().extension() == ".meta")
                return std::stoull(readLines(entry.path()).at(5));
        return 0;
    }

    DeviceFolder device_;
    TempFolder store_;
};

TEST_F(KeptDownloads, AKilledDownloadGoesOnFromWhatWasFlushed)
{
    const ScopedEnvironment keep("QUORVANE_KEEP_PARTIAL", "1");
    const std::string file = bigContent(50) + bigContent(60) + bigContent(70);  // 24 MiB
    serve(file, "20260101000000", true);
    const ProgramRun killed = get(1.6);  // 8 MB a second: about half of it
    EXPECT_NE(killed.status, 0) << killed.out;  // killed, not ended
    const std::uint64_t flushed = flushedOnRecord();
    EXPECT_GT(flushed, 0u);
    const ScopedEnvironment trace("QUORVANE_TRACE", (store_.path() / "trace.txt").string());
    const ProgramRun again = get();
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    if (HasFailure())
        ADD_FAILURE() << readFile(store_.path() / "trace.txt");

    EXPECT_TRUE(readFile(device_.hostPath("down.bin")) == file);
    // Moved again: the overlap read to see it is the same file, and the rest.
    // Where the killed run's data connection ended, and the last run's QUIT,
    // come as they may.
    auto sent = commands();
    std::erase(sent, "DATA ABORTED");
    std::erase(sent, "QUIT");
    const std::vector<std::string> logIn = {"USER user", "PASS secret", "TYPE I", "FEAT",
                                            "OPTS UTF8 ON"};
    std::vector<std::string> expected = logIn;
    expected.insert(expected.end(),
                    {"SIZE f.bin", "MDTM f.bin", "EPSV", "RETR f.bin", "DATA 127.0.0.1"});
    expected.insert(expected.end(), logIn.begin(), logIn.end());
    expected.insert(expected.end(), {"SIZE f.bin", "MDTM f.bin", "EPSV",
                                     "REST " + std::to_string(flushed - kOverlap), "RETR f.bin",
                                     "DATA 127.0.0.1", "SIZE f.bin", "MDTM f.bin"});
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(device_.names(), std::vector<std::string>{"down.bin"});  // no partial, no record
}

TEST_F(KeptDownloads, AFileChangedWhileTheHostWasDeadIsFetchedAfresh)
{
    const ScopedEnvironment keep("QUORVANE_KEEP_PARTIAL", "1");
    const std::string before = bigContent(80) + bigContent(90) + bigContent(100);
    std::string after = before;
    after[0] = '#';  // the same size: only the time, or the digest, tells
    struct Row {
        const char* what;
        const char* newTime;
        std::string features;
        int rests;  // the digest is asked only once the rest has come
    };
    for (const Row& row : {
             Row{"a new time", "20260102000000", kFeatures, 0},
             Row{"the same time, a digest", "20260101000000",
                 R"("FEAT": "211-Features:\r\n EPSV\r\n SIZE\r\n MDTM\r\n REST STREAM\r\n)"
                 R"( HASH SHA-1*;SHA-256;MD5\r\n211 End")",
                 1},
         }) {
        serve(before, "20260101000000", true, row.features);
        get(1.6);
        ASSERT_GT(flushedOnRecord(), 0u) << row.what;
        stopServer();
        serve(after, row.newTime, false, row.features);
        const auto transcript = store_.path() / "trace.txt";
        const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());
        EXPECT_EQ(get().status, 0) << row.what;
        EXPECT_TRUE(readFile(device_.hostPath("down.bin")) == after) << row.what;  // never stitched
        EXPECT_EQ(count("REST"), row.rests) << row.what;
        EXPECT_EQ(device_.names(), std::vector<std::string>{"down.bin"}) << row.what;
        if (HasFailure())
            ADD_FAILURE() << readFile(transcript);
        stopServer();
        std::filesystem::remove(device_.hostPath("down.bin"));
    }
}

TEST_F(KeptDownloads, WithoutTheVariableAKilledDownloadLeavesNothing)
{
    serve(bigContent(110) + bigContent(120) + bigContent(130), "20260101000000", true);
    get(1.6);
    EXPECT_EQ(device_.names(), std::vector<std::string>{});
}

// The same against the servers of the interop matrix, plain and TLS,
// through a proxy that resets the first and the third data connection at
// 2 MB: an upload and a download of 3 MB are each resumed once. proftpd
// with mod_digest settles both resumed transfers by its digest.
struct ResumeCase {
    Server server;
    bool tls;
    bool digest = false;
};

void PrintTo(const ResumeCase& resumeCase, std::ostream* out)
{
    *out << nameOf(resumeCase.server) << (resumeCase.tls ? " over TLS" : "")
         << (resumeCase.digest ? " with digests" : "");
}

class ResumeAgainstServers : public ::testing::TestWithParam<ResumeCase> {
protected:
    void TearDown() override { module().logOut(); }

    // The case's server on 127.0.0.2 behind the proxy, given its options.
    void startBehindProxy(const std::vector<std::string>& faults)
    {
        std::vector<std::string> command =
            GetParam().tls ? tlsServerCommand(GetParam().server, root_.path(), {})
                           : serverCommand(GetParam().server, root_.path());
        command.insert(command.end(), {"--host", "127.0.0.2", "--passive-ports", "40000-40019"});
        if (GetParam().digest)
            command.push_back("--digest");
        server_ = std::make_unique<ServerProcess>(command);
        ASSERT_TRUE(server_->ready());
        std::vector<std::string> proxy = {
            QUORVANE_PYTHON, std::string(QUORVANE_SERVERS_DIR) + "/fault_proxy.py",
            "--upstream",    "127.0.0.2",
            "--passive",     "40000-40019"};
        proxy.insert(proxy.end(), faults.begin(), faults.end());
        proxy_ = std::make_unique<ServerProcess>(proxy);
        ASSERT_TRUE(proxy_->ready());
    }

    // down.bin of `device` as the host program takes it.
    static std::string asDeviceArgument(const DeviceFolder& device)
    {
        std::string path;
        for (const char16_t c : device.devicePath("down.bin"))
            path += c == u'\\' ? '/' : static_cast<char>(c);  // test names are ASCII
        return path;
    }

    // How many times `words` occur in `text`.
    static std::size_t times(const std::string& text, const std::string& words)
    {
        std::size_t found = 0;
        for (std::size_t at = 0; (at = text.find(words, at)) != std::string::npos; ++at)
            ++found;
        return found;
    }

    // The host program's `get` of `remote` into `device`, killed (SIGKILL)
    // once `killWhen` says so; returns whether it was.
    bool getKilled(const DeviceFolder& device, const std::string& remote,
                   const std::function<bool()>& killWhen)
    {
        const auto pidFile = root_.path() / "host.pid";
        std::vector<std::string> argv = {
            "sh", "-c", "\"$@\" & echo $! > " + pidFile.string() + "; wait $!", "sh"};
        for (const std::string& word : hostCommand())
            argv.push_back(word);
        argv.insert(argv.end(), {"login", GetParam().tls ? "ftpes://127.0.0.1" : "127.0.0.1",
                                 "user", "secret", "get", asDeviceArgument(device), remote});
        std::atomic<bool> ended = false, killed = false;
        std::thread killer([&] {
            for (int tenth = 0; tenth < 1200 && !ended && !killed; ++tenth) {  // 2 minutes
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (killWhen() && std::filesystem::exists(pidFile))
                    killed = ::kill(std::stoi(readFile(pidFile)), SIGKILL) == 0;
            }
        });
        runProgram(argv);
        ended = true;
        killer.join();
        return killed;
    }

    TempFolder root_;
    std::unique_ptr<ServerProcess> server_;
    std::unique_ptr<ServerProcess> proxy_;
};

TEST_P(ResumeAgainstServers, BrokenTransfersGoOnByteForByte)
{
    startBehindProxy({"--reset-after", "2000000", "--reset-nth", "1,3"});
    const std::string file = content(20, 3'000'000);
    DeviceFolder device;
    writeFile(device.hostPath("up.bin"), file);
    const auto transcript = root_.path() / "transcript.txt";
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());
    ASSERT_EQ(
        module().logIn(GetParam().tls ? u"ftpes://127.0.0.1" : u"127.0.0.1", u"user", u"secret"),
        FTP_RESULT_OK);
    EXPECT_EQ(module().upload(device.devicePath("up.bin").c_str(), u"stored.bin"), FTP_RESULT_OK);
    EXPECT_TRUE(readFile(root_.path() / "stored.bin") == file);
    EXPECT_EQ(module().download(device.devicePath("down.bin").c_str(), u"stored.bin"),
              FTP_RESULT_OK);
    EXPECT_TRUE(readFile(device.hostPath("down.bin")) == file);
    const std::string text = readFile(transcript);
    EXPECT_NE(text.find("resuming the upload at"), std::string::npos);
    EXPECT_NE(text.find("resuming the download at"), std::string::npos);
    // Each transfer resumed in pieces (REST n) is proven: by the digest where
    // offered, else by the file's identity. (A break before 64 KiB resumes
    // from 0: one whole stream again.)
    EXPECT_GE(times(text, "-> REST "), 1u);
    EXPECT_EQ(times(text, "digest SHA-256 agrees"),
              GetParam().digest ? times(text, "-> REST ") : 0u);
    EXPECT_EQ(times(text, "verified: "), GetParam().digest ? 0u : times(text, "-> REST "));
    if (HasFailure())
        ADD_FAILURE() << "the transcript:\n" << text;
}

// A host killed while its download stalls past the first flush (8 MiB),
// called again in a new process with QUORVANE_KEEP_PARTIAL=1: the second
// goes on from what the first flushed, and proves the file at the end.
TEST_P(ResumeAgainstServers, AKilledDownloadGoesOnInTheNextProcess)
{
    startBehindProxy({"--stall-after", "9000000", "--stall-nth", "1"});
    const std::string file = content(50, 10'000'000);
    writeFile(root_.path() / "big.bin", file);
    DeviceFolder device;
    const ScopedEnvironment keep("QUORVANE_KEEP_PARTIAL", "1");
    const auto flushed = [&]() -> std::uint64_t {
        for (const std::string& name : device.names())
            if (name.size() > 5 && name.substr(name.size() - 5) == ".meta")
                return std::stoull(readLines(device.hostPath(name)).at(5));
        return 0;
    };
    ASSERT_TRUE(getKilled(device, "big.bin", [&] { return flushed() >= (8u << 20); }));
    const auto transcript = root_.path() / "transcript.txt";
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());
    const std::uint64_t kept = flushed();
    std::vector<std::string> argv = hostCommand();
    argv.insert(argv.end(), {"login", GetParam().tls ? "ftpes://127.0.0.1" : "127.0.0.1", "user",
                             "secret", "get", asDeviceArgument(device), "big.bin"});
    const ProgramRun again = runProgram(argv);
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_TRUE(readFile(device.hostPath("down.bin")) == file);
    EXPECT_EQ(device.names(), std::vector<std::string>{"down.bin"});
    const std::string text = readFile(transcript);
    EXPECT_EQ(times(text, "-> REST " + std::to_string(kept - kOverlap) + "\n"), 1u);
    EXPECT_EQ(times(text, "-> REST "), 1u);
    EXPECT_EQ(times(text, GetParam().digest ? "digest SHA-256 agrees" : "verified: "), 1u);
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
    cases.push_back({Server::Proftpd, false, true});
    cases.push_back({Server::Proftpd, true, true});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Interop, ResumeAgainstServers, ::testing::ValuesIn(resumeCases()),
                         [](const auto& info) {
                             return nameOf(info.param.server) + (info.param.tls ? "Tls" : "") +
                                    (info.param.digest ? "Digest" : "");
                         });

}  // namespace
