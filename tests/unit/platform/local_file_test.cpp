// SPDX-License-Identifier: MIT
// Local files of transfers: how a download replaces what is there, and how
// the bytes move when the file system takes no zero-copy calls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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
int folderSyncs = 0;
}  // namespace

// Counts the data and folder flushes of the code under test, then does the
// real one.
extern "C" int fdatasync(int fd)
{
    ++dataSyncs;
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

extern "C" int fsync(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
        ++folderSyncs;
    return static_cast<int>(::syscall(SYS_fsync, fd));
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
        folderSyncs = 0;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    // The device root of these tests.
    std::string root() const { return folder_.string(); }

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
    bool download(const std::string& target, const std::string& content) const
    {
        auto temporary = TemporaryFile::beside(target, root());
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

// Every download test, with unnamed temporary files and with named ones (the
// fallback where the file system has no O_TMPFILE).
class Downloads : public LocalFiles, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        LocalFiles::SetUp();
        setUnnamedTemporaryFiles(GetParam());
    }
    void TearDown() override
    {
        setUnnamedTemporaryFiles(true);
        LocalFiles::TearDown();
    }
};

TEST_P(Downloads, NewFileFollowsTheUmaskAndOnlyItsNameIsFlushed)
{
    const mode_t previous = ::umask(027);
    const bool done = download(path("new.txt"), "fresh");
    ::umask(previous);
    ASSERT_TRUE(done);
    EXPECT_EQ(read(path("new.txt")), "fresh");
    EXPECT_EQ(modeOf(path("new.txt")) & 07777, 0640u);
    EXPECT_EQ(dataSyncs, 0);
    EXPECT_EQ(folderSyncs, 1);  // the new name survives a power cut
}

TEST_P(Downloads, ReplacedFileKeepsItsModeWithoutSetIdBitsAndIsFlushedFirst)
{
    write(path("tool"), "old");
    ::chmod(path("tool").c_str(), 06755);
    ASSERT_TRUE(download(path("tool"), "new"));
    EXPECT_EQ(read(path("tool")), "new");
    EXPECT_EQ(modeOf(path("tool")) & 07777, 0755u);
    EXPECT_EQ(dataSyncs, 1);
    EXPECT_EQ(folderSyncs, 1);
}

TEST_P(Downloads, ReadOnlyFileIsRefusedAndKept)
{
    write(path("ro.txt"), "keep me");
    ::chmod(path("ro.txt").c_str(), 0444);
    const auto refused = TemporaryFile::beside(path("ro.txt"), root());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().kind, FailureKind::LocalFile);
    EXPECT_EQ(refused.failure().error, EACCES);
    EXPECT_EQ(refused.failure().cause, "cannot write " + path("ro.txt") + ": Permission denied");
    EXPECT_EQ(read(path("ro.txt")), "keep me");
    EXPECT_EQ(names(), std::vector<std::string>{"ro.txt"});
}

TEST_P(Downloads, FolderOrLinkLoopIsRefused)
{
    fs::create_directory(path("dir"));
    EXPECT_FALSE(TemporaryFile::beside(path("dir"), root()));
    fs::create_symlink("loop-b", path("loop-a"));
    fs::create_symlink("loop-a", path("loop-b"));
    const auto loop = TemporaryFile::beside(path("loop-a"), root());
    ASSERT_FALSE(loop);
    EXPECT_EQ(loop.failure().error, ELOOP);
}

TEST_P(Downloads, SymbolicLinksAreWrittenThrough)
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

TEST_P(Downloads, UnfinishedDownloadLeavesNoTemporaryFile)
{
    write(path("kept.txt"), "old");
    {
        auto temporary = TemporaryFile::beside(path("kept.txt"), root());
        ASSERT_TRUE(temporary);
        ASSERT_EQ(::write(temporary->fd(), "partial", 7), 7);
    }
    EXPECT_EQ(names(), std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(read(path("kept.txt")), "old");
}

TEST_P(Downloads, NobodyElseCanOpenItWhileItFills)
{
    write(path("private.txt"), "old secret");
    ::chmod(path("private.txt").c_str(), 0600);
    const mode_t previous = ::umask(022);
    auto temporary = TemporaryFile::beside(path("private.txt"), root());
    ::umask(previous);
    ASSERT_TRUE(temporary);
    struct stat filling {};
    ASSERT_EQ(::fstat(temporary->fd(), &filling), 0);
    EXPECT_EQ(filling.st_mode & 07777, 0600u);
    // Unnamed where the file system allows it; named, the name is as private.
    for (const std::string& name : names()) {
        if (name != "private.txt") {
            EXPECT_EQ(modeOf(path(name)) & 07777, 0600u) << name;
        }
    }
    if (GetParam()) {
        EXPECT_EQ(names(), std::vector<std::string>{"private.txt"});
    }
    ASSERT_EQ(::write(temporary->fd(), "new secret", 10), 10);
    ASSERT_TRUE(temporary->replaceTarget());
    EXPECT_EQ(read(path("private.txt")), "new secret");
    EXPECT_EQ(modeOf(path("private.txt")) & 07777, 0600u);
    EXPECT_EQ(names(), std::vector<std::string>{"private.txt"});
}

// Only named files can be left behind. A PID says nothing in another PID
// namespace or on another NFS client: a file is in use while its lock is
// held, and a leftover only once nothing has written it for long.
TEST_F(LocalFiles, LeftoversAreRemovedOnlyWhenUnlockedAndOld)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a PID namespace of its own";
    setUnnamedTemporaryFiles(false);
    auto live = TemporaryFile::beside(path("live.txt"), root());
    ASSERT_TRUE(live);
    const timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::futimens(live->fd(), anHourAgo), 0);  // looks abandoned, but is locked
    const std::string liveName = names().front();
    for (const char* leftover :
         {".quorvane-download-old", ".quorvane-download-4242-00000000000000aa",
          ".quorvane-download-young"}) {
        write(path(leftover), "half a file");
        if (std::string_view(leftover) != ".quorvane-download-young") {
            ASSERT_EQ(::utimensat(AT_FDCWD, path(leftover).c_str(), anHourAgo, 0), 0);
        }
    }
    write(path("other.txt"), "not ours");
    // Another download, in a PID namespace of its own, into the same folder.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWPID) != 0)
            ::_exit(2);
        const pid_t inner = ::fork();
        if (inner == 0)
            ::_exit(download(path("new.txt"), "fresh") ? 0 : 1);
        int status = 0;
        ::waitpid(inner, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 3);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    setUnnamedTemporaryFiles(true);
    std::vector<std::string> expected = {liveName, ".quorvane-download-young", "new.txt",
                                         "other.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(), expected);
    EXPECT_TRUE(live->replaceTarget());  // the live download ends as it should
}

// Where /proc is missing and linkat takes no AT_EMPTY_PATH from an
// unprivileged caller, a file without a name could never get one: such a
// download uses a named file from the start.
TEST_F(LocalFiles, WithoutProcAnUnprivilegedDownloadUsesANamedFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to unmount /proc in a namespace of its own";
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown(folder_.c_str(), kNobody, kNobody), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool alone = ::unshare(CLONE_NEWNS) == 0 &&
                           ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                           ::umount2("/proc", MNT_DETACH) == 0;
        if (!alone || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(2);
        ::_exit(download(path("new.txt"), "fresh") ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read(path("new.txt")), "fresh");
    EXPECT_EQ(names(), std::vector<std::string>{"new.txt"});
}

TEST_P(Downloads, LinksNeverLeadOutOfTheDeviceRoot)
{
    fs::create_directories(path("device/sub"));
    fs::create_directories(path("outside"));
    write(path("outside/secret.conf"), "theirs");
    const std::string device = path("device");
    fs::create_symlink("../outside/secret.conf", path("device/relative"));
    fs::create_symlink(path("outside/secret.conf"), path("device/absolute"));
    fs::create_symlink("../outside", path("device/data"));
    fs::create_symlink("sub/inner.txt", path("device/inner"));
    for (const char* name : {"relative", "absolute", "data/secret.conf"}) {
        const auto refused = TemporaryFile::beside(device + "/" + name, device);
        ASSERT_FALSE(refused) << name;
        EXPECT_EQ(refused.failure().error, EACCES) << name;
        // Nor is a file outside read for an upload through them.
        const auto unread = openForReading(device + "/" + name, device);
        ASSERT_FALSE(unread) << name;
        EXPECT_EQ(unread.failure().error, EACCES) << name;
    }
    write(path("device/sub/inner.txt"), "ours");
    EXPECT_TRUE(openForReading(device + "/inner", device));
    EXPECT_EQ(read(path("outside/secret.conf")), "theirs");
    EXPECT_EQ(fs::directory_iterator(path("outside"))->path().filename(), "secret.conf");
    auto inside = TemporaryFile::beside(device + "/inner", device);
    ASSERT_TRUE(inside);
    ASSERT_TRUE(inside->replaceTarget());
    EXPECT_TRUE(fs::exists(path("device/sub/inner.txt")));
}

TEST_P(Downloads, LinksInStickyFoldersFollowTheKernelsRule)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give links and folders to another user";
    constexpr uid_t kOther = 54321;
    fs::create_directories(path("shared"));
    ::chmod(path("shared").c_str(), 01777);
    write(path("victim.txt"), "root's");
    fs::create_symlink(path("victim.txt"), path("shared/planted"));
    ASSERT_EQ(::lchown(path("shared/planted").c_str(), kOther, kOther), 0);
    const auto refused = TemporaryFile::beside(path("shared/planted"), root());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().error, EACCES);
    EXPECT_EQ(read(path("victim.txt")), "root's");
    const auto unread = openForReading(path("shared/planted"), root());  // nor sent to a server
    ASSERT_FALSE(unread);
    EXPECT_EQ(unread.failure().error, EACCES);
    // The folder's owner may plant links there, and the caller's own are fine.
    ASSERT_EQ(::chown(path("shared").c_str(), kOther, kOther), 0);
    EXPECT_TRUE(TemporaryFile::beside(path("shared/planted"), root()));
    ASSERT_EQ(::chown(path("shared").c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown(path("shared/planted").c_str(), 0, 0), 0);
    EXPECT_TRUE(TemporaryFile::beside(path("shared/planted"), root()));
}

INSTANTIATE_TEST_SUITE_P(TemporaryFiles, Downloads, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });

TEST_F(LocalFiles, SpecialFilesAreNeverOpenedForUpload)
{
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    EXPECT_FALSE(openForReading(path("fifo"), root()));  // returns at once, no writer needed
    EXPECT_FALSE(openForReading(folder_.string(), root()));
    EXPECT_FALSE(openForReading(path("missing"), root()));
    write(path("plain"), "x");
    EXPECT_TRUE(openForReading(path("plain"), root()));
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
        EXPECT_TRUE(receiveToFile(ours_, LocalFile{file.get(), name}, 0, extraFlags != 0, bytes));
        server.join();
        EXPECT_EQ(bytes, content_.size());
        EXPECT_TRUE(read(path("down")) == content_) << "flags " << extraFlags;
    }
}

TEST_F(Transfers, UploadSendsEveryByte)
{
    connect();
    write(path("up"), content_);
    auto file = openForReading(path("up"), root());
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
