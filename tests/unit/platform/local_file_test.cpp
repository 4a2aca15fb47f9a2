// Local files of transfers: how a download replaces what is there, and how
// the bytes move when the file system takes no zero-copy calls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "posix/client/file_transfer.h"
#include "posix/local/local_file.h"

namespace fs = std::filesystem;
using namespace quorvane::client;

namespace {
int dataSyncs = 0;
}

// Counts the data flushes of the code under test, then does the real one.
extern "C" int fdatasync(int fd)
{
    ++dataSyncs;
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

namespace {

class LocalFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quorvane-unit-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        dataSyncs = 0;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    static void write(const std::string& file, const std::string& content)
    {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    }
    static std::string read(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static mode_t modeOf(const std::string& file)
    {
        struct stat info {};
        ::lstat(file.c_str(), &info);
        return info.st_mode;
    }

    // Downloads `content` to `target` as a transfer would: false if refused.
    static bool download(const std::string& target, const std::string& content)
    {
        auto temporary = TemporaryFile::beside(target);
        if (!temporary)
            return false;
        EXPECT_EQ(::write(temporary->fd(), content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        return static_cast<bool>(temporary->replaceTarget());
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path folder_;
};

TEST_F(LocalFiles, NewFileFollowsTheUmaskAndIsNotFlushed)
{
    const mode_t previous = ::umask(027);
    const bool done = download(path("new.txt"), "fresh");
    ::umask(previous);
    ASSERT_TRUE(done);
    EXPECT_EQ(read(path("new.txt")), "fresh");
    EXPECT_EQ(modeOf(path("new.txt")) & 07777, 0640u);
    EXPECT_EQ(dataSyncs, 0);
}

TEST_F(LocalFiles, ReplacedFileKeepsItsModeWithoutSetIdBitsAndIsFlushedFirst)
{
    write(path("tool"), "old");
    ::chmod(path("tool").c_str(), 06755);
    ASSERT_TRUE(download(path("tool"), "new"));
    EXPECT_EQ(read(path("tool")), "new");
    EXPECT_EQ(modeOf(path("tool")) & 07777, 0755u);
    EXPECT_EQ(dataSyncs, 1);
}

TEST_F(LocalFiles, ReadOnlyFileIsRefusedAndKept)
{
    write(path("ro.txt"), "keep me");
    ::chmod(path("ro.txt").c_str(), 0444);
    const auto refused = TemporaryFile::beside(path("ro.txt"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().kind, FailureKind::LocalFile);
    EXPECT_EQ(refused.failure().error, EACCES);
    EXPECT_EQ(refused.failure().cause, "cannot write " + path("ro.txt") + ": Permission denied");
    EXPECT_EQ(read(path("ro.txt")), "keep me");
    EXPECT_EQ(names(), std::vector<std::string>{"ro.txt"});
}

TEST_F(LocalFiles, FolderOrLinkLoopIsRefused)
{
    fs::create_directory(path("dir"));
    EXPECT_FALSE(TemporaryFile::beside(path("dir")));
    fs::create_symlink("loop-b", path("loop-a"));
    fs::create_symlink("loop-a", path("loop-b"));
    EXPECT_FALSE(TemporaryFile::beside(path("loop-a")));
    EXPECT_EQ(errno, ELOOP);
}

TEST_F(LocalFiles, SymbolicLinksAreWrittenThrough)
{
    fs::create_directory(path("real"));
    write(path("real/target.txt"), "old");
    fs::create_symlink("real/target.txt", path("link"));
    fs::create_symlink(folder_ / "link", path("link-to-link"));
    ASSERT_TRUE(download(path("link-to-link"), "through two links"));
    EXPECT_TRUE(S_ISLNK(modeOf(path("link"))));
    EXPECT_TRUE(S_ISLNK(modeOf(path("link-to-link"))));
    EXPECT_EQ(read(path("real/target.txt")), "through two links");
    // A dangling link gets its target created, as writing through it would.
    fs::create_symlink("real/later.txt", path("dangling"));
    ASSERT_TRUE(download(path("dangling"), "created"));
    EXPECT_TRUE(S_ISLNK(modeOf(path("dangling"))));
    EXPECT_EQ(read(path("real/later.txt")), "created");
}

TEST_F(LocalFiles, UnfinishedDownloadLeavesNoTemporaryFile)
{
    write(path("kept.txt"), "old");
    {
        auto temporary = TemporaryFile::beside(path("kept.txt"));
        ASSERT_TRUE(temporary);
        ASSERT_EQ(::write(temporary->fd(), "partial", 7), 7);
    }
    EXPECT_EQ(names(), std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(read(path("kept.txt")), "old");
}

TEST_F(LocalFiles, SpecialFilesAreNeverOpenedForUpload)
{
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    EXPECT_FALSE(openForReading(path("fifo")));  // returns at once, no writer needed
    EXPECT_FALSE(openForReading(folder_.string()));
    EXPECT_FALSE(openForReading(path("missing")));
    write(path("plain"), "x");
    EXPECT_TRUE(openForReading(path("plain")));
}

// Transfers over a local socket pair.
class Transfers : public LocalFiles {
protected:
    void SetUp() override
    {
        LocalFiles::SetUp();
        std::mt19937 generator(7);
        content_.resize(3 << 20);  // several pipe and buffer fills
        for (char& c : content_)
            c = static_cast<char>(generator());
    }
    void TearDown() override
    {
        setZeroCopy(true);
        LocalFiles::TearDown();
    }

    // A fresh data connection: ours non-blocking, as the client's are.
    void connect()
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        ours_ = Channel(FileDescriptor(fds[0]));
        theirs_ = FileDescriptor(fds[1]);
    }

    // The server side sends `content_` and closes.
    std::thread serve()
    {
        return std::thread([this] {
            ASSERT_EQ(::send(theirs_.get(), content_.data(), content_.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(content_.size()));
            theirs_.reset();
        });
    }

    Channel ours_;
    FileDescriptor theirs_;
    std::string content_;
};

// Downloads with splice and without.
class DownloadPaths : public Transfers, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        Transfers::SetUp();
        setZeroCopy(GetParam());
    }
};

TEST_P(DownloadPaths, EveryByteArrives)
{
    // O_APPEND takes no splice: the copying fallback must take over.
    for (const int extraFlags : {0, O_APPEND}) {
        connect();
        const FileDescriptor file(
            ::open(path("down").c_str(), O_WRONLY | O_CREAT | O_TRUNC | extraFlags, 0644));
        std::thread server = serve();
        std::uint64_t bytes = 0;
        const std::string name = path("down");
        EXPECT_TRUE(receiveToFile(ours_, LocalFile{file.get(), name}, extraFlags != 0, bytes));
        server.join();
        EXPECT_EQ(bytes, content_.size());
        EXPECT_TRUE(read(path("down")) == content_) << "flags " << extraFlags;
    }
}

TEST_F(Transfers, UploadSendsEveryByte)
{
    connect();
    write(path("up"), content_);
    auto file = openForReading(path("up"));
    ASSERT_TRUE(file);
    std::string received;
    std::thread server([&] {
        char buffer[65536];
        ssize_t got;
        while ((got = ::recv(theirs_.get(), buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, static_cast<std::size_t>(got));
    });
    std::uint64_t bytes = 0;
    const std::string name = path("up");
    EXPECT_TRUE(sendFromFile(LocalFile{file->get(), name}, ours_, bytes));
    ours_.close();
    server.join();
    EXPECT_EQ(bytes, content_.size());
    EXPECT_TRUE(received == content_);
}

INSTANTIATE_TEST_SUITE_P(ZeroCopy, DownloadPaths, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Copying"; });

}  // namespace
