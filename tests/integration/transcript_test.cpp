// SPDX-License-Identifier: MIT
// The opt-in transcript (QUORVANE_TRACE): what it shows, what it never
// shows, and that without it nothing is written anywhere.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "fault_server_test.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

// The event texts of a transcript, without their timestamps.
std::vector<std::string> events(const fs::path& transcript)
{
    std::vector<std::string> texts;
    for (const std::string& line : readLines(transcript)) {
        const std::size_t stamp = line.find("] ");
        EXPECT_EQ(line.substr(0, 1), "[") << line;
        texts.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
    }
    return texts;
}

std::vector<std::string> withPrefix(const std::vector<std::string>& lines,
                                    const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line.substr(prefix.size()));
    return found;
}

bool contains(const std::vector<std::string>& lines, const std::string& wanted)
{
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

struct FileDescriptorGuard {
    explicit FileDescriptorGuard(int fd) : fd(fd) {}
    ~FileDescriptorGuard()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
};

class TranscriptAgainstFaultServer : public FaultServerTest {
protected:
    fs::path transcript() const { return log().parent_path() / "transcript.txt"; }

    TempFolder folder_;
};

TEST_F(TranscriptAgainstFaultServer, CommandsAndRepliesInOrderAndThePasswordNever)
{
    const std::string password = "p a$$ \\ \"w'rd \xc3\xa4%s";
    startServer(R"({"password": "p a$$ \\ \"w'rd \u00e4%s",
                    "replies": {"DELE": "550 no such file", "MKD": "257 \"d\" made"}})");
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript().string());
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", wide(password).c_str()), FTP_RESULT_OK);
    EXPECT_EQ(module().createFolder(u"d"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"missing"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
    awaitSessionsEnded();

    const std::string text = readFile(transcript());
    EXPECT_EQ(text.find(password), std::string::npos);
    EXPECT_EQ(text.find("w'rd"), std::string::npos);
    // Every command, in the order the server got them, the password masked.
    std::vector<std::string> received = commands();
    for (std::string& command : received)
        if (command.rfind("PASS ", 0) == 0)
            command = "PASS ****";
    const auto lines = events(transcript());
    ASSERT_FALSE(lines.empty());
    // It opens with the library that wrote it.
    EXPECT_EQ(lines.front().rfind("Quorvane2 " QUORVANE_VERSION_TEXT " (/", 0), 0u)
        << lines.front();
    // Commands sent in one write are marked so.
    std::vector<std::string> sent = withPrefix(lines, "-> ");
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[0], "USER user");
    EXPECT_EQ(sent[1], "PASS **** (queued)");
    EXPECT_EQ(sent[2], "TYPE I (queued)");
    EXPECT_EQ(sent[3], "FEAT (queued)");
    EXPECT_EQ(sent[4], "OPTS UTF8 ON (queued)");
    for (std::string& command : sent)
        if (const auto mark = command.find(" (queued)"); mark != std::string::npos)
            command.erase(mark);
    EXPECT_EQ(sent, received);
    const std::vector<std::string> replies = {"220 fault server ready",
                                              "331 password please",
                                              "230 logged in",
                                              "200 type set",
                                              "211-Features:",
                                              " EPSV",
                                              " UTF8",
                                              " MLST type*;size*;modify*;",
                                              "211 End",
                                              "200 always in UTF8 mode",
                                              "257 \"d\" made",
                                              "550 no such file"};
    EXPECT_EQ(withPrefix(lines, "<- "), replies);
    // The failure says why, before the call's outcome.
    const auto cause =
        std::find(lines.begin(), lines.end(), "cause: DELE missing: 550 no such file");
    const auto call = std::find(lines.begin(), lines.end(), "call FTPFileDelete(missing) = 2");
    ASSERT_NE(cause, lines.end());
    ASSERT_NE(call, lines.end());
    EXPECT_LT(cause, call);
    EXPECT_TRUE(contains(lines, "call FTPServerLogIn(127.0.0.1, user) = 999"));
    struct stat info {};
    ASSERT_EQ(::stat(transcript().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(TranscriptAgainstFaultServer, LocalFailuresNameThePathAndTheError)
{
    startServer(R"({"files": {"f.txt": "x"}})");
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript().string());
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    DeviceFolder device;
    writeFile(device.hostPath("ro.txt"), "old");
    fs::permissions(device.hostPath("ro.txt"), fs::perms::owner_read);
    EXPECT_EQ(module().download(device.devicePath("ro.txt").c_str(), u"f.txt"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().upload(device.devicePath("absent.txt").c_str(), u"x"), FTP_RESULT_FAILED);
    const auto lines = events(transcript());
    EXPECT_TRUE(contains(lines, "cause: cannot write " + device.hostPath("ro.txt").string() +
                                    ": Permission denied"));
    EXPECT_TRUE(contains(lines, "cause: cannot read " + device.hostPath("absent.txt").string() +
                                    ": No such file or directory"));
}

TEST_F(TranscriptAgainstFaultServer, HostileRepliesAreEscapedAndCut)
{
    const std::string longLine(6000, 'L');
    startServer(std::string(R"({"replies": {
        "DELE": "550 \u001b[31mred\u0007 \r\n220 forged",
        "RMD": "550 )") +
                longLine + R"(",
        "MKD": [{"send": "257 "}, {"flood": 1048576}, {"send": "\r\n"}]}})");
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript().string());
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().deleteFolder(u"b"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().createFolder(u"c"), FTP_RESULT_FAILED);
    const auto lines = events(transcript());
    // The control characters as escapes. The CR LF inside the reply ended
    // it: "220 forged" is an unasked reply, which drops the connection.
    EXPECT_TRUE(contains(lines, "<- 550 \\x1B[31mred\\x07 "));
    EXPECT_TRUE(contains(lines, "<- 550 " + std::string(296, 'L') + " [cut: 5704 more bytes]"));
    // A megabyte line is no reply: nothing of it is written.
    EXPECT_TRUE(contains(lines, "cause: a malformed reply (no code, a NUL byte, or too long)"));
    EXPECT_LT(fs::file_size(transcript()), 16u << 10);
    for (const std::string& line : lines)
        EXPECT_EQ(line.find('\x1b'), std::string::npos);
}

TEST_F(TranscriptAgainstFaultServer, AListingSaysWhatItCouldNotRead)
{
    startServer(R"({"replies": {"CWD": "250 ok", "FEAT": "211 no features"},
                    "listing": "-rw-r--r-- 1 u g 1 Jun 14 10:00 one\r\nJun 14 \u001b[2J gibberish\r\nnot a line either\r\n"})");
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript().string());
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_OK);
    EXPECT_TRUE(
        contains(events(transcript()),
                 "listing: 1 entry, 2 lines not understood, the first: Jun 14 \\x1B[2J gibberish"));
}

// The contract for programs: every call that fails says why, in a cause
// line of its own before its call line.
TEST_F(TranscriptAgainstFaultServer, EveryFailedCallHasACauseOfItsOwn)
{
    startServer(R"({"files": {"f.txt": "x"},
                    "replies": {"DELE": "550 no such file", "CWD": {"sequence": ["550 no", "250 ok"]},
                                "MKD": "550 exists", "RNFR": "550 missing"}})");
    const ScopedEnvironment trace("QUORVANE_TRACE", transcript().string());
    const ScopedEnvironment root("QUORVANE_DEVICE_ROOT", "/nonexistent-device-root");
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().createFolder(u"d"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().rename(u"a", u"b"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().rename(u"a", u"b\r\n"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/refused"), FTP_RESULT_NO_FOLDER);
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().upload(u"\\missing.txt", u"m"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().download(u"\\nowhere\\f.txt", u"f.txt"), FTP_RESULT_FAILED);
    module().logOut();
    EXPECT_EQ(module().deleteFile(u"after"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_NO_FOLDER);

    int failed = 0;
    bool caused = false;
    for (const std::string& line : events(transcript())) {
        if (line.rfind("cause: ", 0) == 0)
            caused = true;
        if (line.rfind("call ", 0) != 0)
            continue;
        if (line.size() < 6 || line.substr(line.size() - 6) != " = 999") {
            ++failed;
            EXPECT_TRUE(caused) << "no cause for: " << line;
        }
        caused = false;
    }
    EXPECT_EQ(failed, 10);
    // The listing file's cause names its path, the error and the setting.
    EXPECT_NE(
        readFile(transcript()).find("cause: cannot write /nonexistent-device-root/FTPFolder.txt."),
        std::string::npos);
    EXPECT_NE(readFile(transcript())
                  .find("No such file or directory (in the device root "
                        "/nonexistent-device-root, which QUORVANE_DEVICE_ROOT "
                        "sets)"),
              std::string::npos);
}

TEST_F(TranscriptAgainstFaultServer, ATraceFileThatCannotBeOpenedChangesNothing)
{
    startServer(R"({"replies": {"DELE": "250 deleted"}})");
    const ScopedEnvironment trace("QUORVANE_TRACE", "/nonexistent-folder/transcript.txt");
    EXPECT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"b"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists("/nonexistent-folder"));
}

// What a transcript may be written to: never the number standard error had
// once another descriptor takes it, never a link, a file of someone else's
// or anything that makes a call wait.
TEST_F(TranscriptAgainstFaultServer, ClosedStandardErrorIsNeverWrittenTo)
{
    startServer(R"({"replies": {"DELE": "250 deleted"}})");
    const ScopedEnvironment trace("QUORVANE_TRACE", "stderr");
    const int saved = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    ASSERT_GE(saved, 0);
    ::close(2);  // the control connection's socket takes descriptor 2 now
    const FTPResult logIn = module().logIn(u"127.0.0.1", u"user", u"secret");
    const FTPResult deleted = module().deleteFile(u"a");
    module().logOut();
    ::dup2(saved, 2);
    ::close(saved);
    EXPECT_EQ(logIn, FTP_RESULT_OK);
    EXPECT_EQ(deleted, FTP_RESULT_OK);
    for (const std::string& command : commands())
        EXPECT_NE(command.substr(0, 1), "[") << command;
}

TEST_F(TranscriptAgainstFaultServer, UnsafeTargetsAreRefusedAndNeverWaitedOn)
{
    startServer(R"({"replies": {"DELE": "250 deleted"}})");
    const fs::path folder = log().parent_path();
    writeFile(folder / "real.txt", "");
    fs::create_symlink(folder / "real.txt", folder / "link.txt");
    ASSERT_EQ(::mkfifo((folder / "unread").c_str(), 0600), 0);
    writeFile(folder / "theirs.txt", "");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((folder / "theirs.txt").c_str(), 54321, 54321), 0);
    }
    for (const std::string name : {"link.txt", "unread", "theirs.txt"}) {
        if (name == "theirs.txt" && !root)
            continue;
        const ScopedEnvironment trace("QUORVANE_TRACE", (folder / name).string());
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK) << name;
        EXPECT_EQ(module().deleteFile(u"a"), FTP_RESULT_OK) << name;
        EXPECT_LT(Seconds(std::chrono::steady_clock::now() - started).count(), 5) << name;
        module().logOut();
    }
    EXPECT_EQ(fs::file_size(folder / "real.txt"), 0u);
    EXPECT_EQ(fs::file_size(folder / "theirs.txt"), 0u);
}

TEST_F(TranscriptAgainstFaultServer, AFifoThatStopsReadingLosesLinesNotTime)
{
    std::string deletes;
    for (int i = 0; i < 300; ++i)
        deletes += R"("250 deleted", )";
    startServer(R"({"replies": {"DELE": {"sequence": [)" + deletes + R"("250 deleted"]}}})");
    const fs::path fifo = log().parent_path() / "slow-reader";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const FileDescriptorGuard reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(reader.fd, 0);
    ::fcntl(reader.fd, F_SETPIPE_SZ, 4096);  // full after a few lines, and never read
    const ScopedEnvironment trace("QUORVANE_TRACE", fifo.string());
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(module().deleteFile(u"f"), FTP_RESULT_OK);
    module().logOut();
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - started).count(), 20);
    awaitSessionsEnded();
    std::vector<std::string> expected = {"USER user", "PASS secret", "TYPE I", "FEAT",
                                         "OPTS UTF8 ON"};
    expected.insert(expected.end(), 300, "DELE f");
    expected.push_back("QUIT");
    EXPECT_EQ(commands(), expected);
}

// Descriptors of this process that lead to files (not sockets, pipes or
// anonymous inodes), by target.
std::vector<std::string> openFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = fs::read_symlink(entry.path(), error).string();
        if (!error && target.rfind("/", 0) == 0)
            files.push_back(target);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::set<std::string> deviceFiles()
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(QUORVANE_DEVICE_ROOT))
        files.insert(entry.path().string());
    return files;
}

TEST_F(TranscriptAgainstFaultServer, UnsetMeansNothingWrittenAnywhere)
{
    ::unsetenv("QUORVANE_TRACE");
    startServer(R"({"files": {"f.txt": "x"}, "replies": {"CWD": "250 ok", "DELE": "550 no"},
                    "listing": "type=file;size=1;modify=20200101000000; f.txt\r\n"})");
    DeviceFolder device;
    // A transcript an earlier test of this process opened closes at the next
    // log-in, which reads the variable again.
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    module().logOut();
    const auto filesBefore = openFiles();
    const auto deviceBefore = deviceFiles();
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(openFiles(), filesBefore);  // a session holds sockets only
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_OK);
    EXPECT_EQ(module().download(device.devicePath("f.txt").c_str(), u"f.txt"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"f.txt"), FTP_RESULT_FAILED);
    EXPECT_EQ(openFiles(), filesBefore);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
    // The device holds what the calls wrote, and nothing else.
    auto expected = deviceBefore;
    expected.insert(listingFile().string());
    expected.insert(device.hostPath("f.txt").string());
    EXPECT_EQ(deviceFiles(), expected);
}

}  // namespace
