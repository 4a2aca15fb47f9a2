// SPDX-License-Identifier: MIT
// The six remote commands of the built module against each real server:
// transfers byte for byte, replaced and preserved local files, refused names.
#include <gtest/gtest.h>

#include <random>

#include "harness.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

std::string everyByteWithLineEnds()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    bytes += "\r\n\r\n\n\n\r\r\r\nline\rline\nline\r\n";
    bytes += std::string(1, '\0') + "\r\n" + std::string(1, '\xff');
    return bytes;
}

std::string randomBytes(std::size_t size)
{
    std::mt19937_64 generator(42);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

class CommandsAgainstServers : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.ready()) << nameOf(GetParam()) << " did not start";
        ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    }
    void TearDown() override { module().logOut(); }

    fs::path onServer(const std::string& name) const { return root_.path() / name; }

    // Uploads `content` as `name` and downloads it back; both byte-exact.
    void expectRoundTrip(const std::string& name, const std::string& content)
    {
        writeFile(device_.hostPath("up.bin"), content);
        ASSERT_EQ(module().upload(device_.devicePath("up.bin").c_str(), wide(name).c_str()),
                  FTP_RESULT_OK);
        EXPECT_TRUE(readFile(onServer(name)) == content) << name << " differs on the server";
        ASSERT_EQ(module().download(device_.devicePath("down.bin").c_str(), wide(name).c_str()),
                  FTP_RESULT_OK);
        EXPECT_TRUE(readFile(device_.hostPath("down.bin")) == content)
            << name << " differs after the download";
    }

    TempFolder root_;
    DeviceFolder device_;
    ServerProcess server_{serverCommand(GetParam(), root_.path())};
};

TEST_P(CommandsAgainstServers, TransfersAreByteExact)
{
    expectRoundTrip("empty.bin", "");
    expectRoundTrip("bytes.bin", everyByteWithLineEnds());
    expectRoundTrip("large.bin", randomBytes(6 << 20));
}

TEST_P(CommandsAgainstServers, NonAsciiNamesTravelAsUtf8)
{
    const std::string name = "caf\xc3\xa9 \xe6\x96\x87\xe4\xbb\xb6 \xf0\x9f\x98\x80.txt";
    expectRoundTrip(name, "accents, CJK and an emoji");
    EXPECT_TRUE(fs::exists(onServer(name)));
}

TEST_P(CommandsAgainstServers, DownloadReplacesAnExistingLocalFile)
{
    writeFile(onServer("fresh.txt"), "new content");
    writeFile(device_.hostPath("target.txt"), "old content that is longer");
    EXPECT_EQ(module().download(device_.devicePath("target.txt").c_str(), u"fresh.txt"),
              FTP_RESULT_OK);
    EXPECT_EQ(readFile(device_.hostPath("target.txt")), "new content");
    EXPECT_EQ(device_.names(), std::vector<std::string>{"target.txt"});
}

TEST_P(CommandsAgainstServers, FailedDownloadKeepsTheOldLocalFileAndLeavesNoTemporaryFile)
{
    writeFile(device_.hostPath("keep.txt"), "precious");
    EXPECT_EQ(module().download(device_.devicePath("keep.txt").c_str(), u"missing.txt"),
              FTP_RESULT_FAILED);
    EXPECT_EQ(readFile(device_.hostPath("keep.txt")), "precious");
    EXPECT_EQ(device_.names(), std::vector<std::string>{"keep.txt"});
}

TEST_P(CommandsAgainstServers, DownloadIntoAMissingLocalFolderFails)
{
    writeFile(onServer("a.txt"), "a");
    EXPECT_EQ(module().download(device_.devicePath("no\\such\\folder.txt").c_str(), u"a.txt"),
              FTP_RESULT_FAILED);
}

TEST_P(CommandsAgainstServers, UploadOfAMissingLocalFileCreatesNothingOnTheServer)
{
    EXPECT_EQ(module().upload(device_.devicePath("absent.txt").c_str(), u"absent.txt"),
              FTP_RESULT_FAILED);
    EXPECT_TRUE(fs::is_empty(root_.path()));
    EXPECT_EQ(module().upload(device_.devicePath("").c_str(), u"folder.txt"), FTP_RESULT_FAILED);
    EXPECT_TRUE(fs::is_empty(root_.path()));
}

TEST_P(CommandsAgainstServers, DeviceSeparatorsAndDotsMapUnderTheDeviceRoot)
{
    writeFile(onServer("a.txt"), "mapped");
    // "\..\..\" cannot climb above the device root.
    const std::u16string climbing = u"\\..\\..\\" + device_.devicePath("x/./y.txt").substr(1);
    fs::create_directories(device_.hostPath("x"));
    ASSERT_EQ(module().download(climbing.c_str(), u"a.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(device_.hostPath("x/y.txt")), "mapped");
}

TEST_P(CommandsAgainstServers, DeleteRemovesTheFileAndFailsOnAMissingOne)
{
    writeFile(onServer("gone.txt"), "x");
    EXPECT_EQ(module().deleteFile(u"gone.txt"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists(onServer("gone.txt")));
    EXPECT_EQ(module().deleteFile(u"gone.txt"), FTP_RESULT_FAILED);
}

TEST_P(CommandsAgainstServers, RenameMovesTheFileAndFailsOnAMissingName)
{
    writeFile(onServer("old.txt"), "content");
    EXPECT_EQ(module().rename(u"old.txt", u"new.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(onServer("new.txt")), "content");
    EXPECT_FALSE(fs::exists(onServer("old.txt")));
    EXPECT_EQ(module().rename(u"old.txt", u"other.txt"), FTP_RESULT_FAILED);
    EXPECT_FALSE(fs::exists(onServer("other.txt")));
}

TEST_P(CommandsAgainstServers, FoldersAreCreatedAndRemovedOnlyWhenThatMakesSense)
{
    EXPECT_EQ(module().createFolder(u"dir"), FTP_RESULT_OK);
    EXPECT_TRUE(fs::is_directory(onServer("dir")));
    EXPECT_EQ(module().createFolder(u"dir"), FTP_RESULT_FAILED) << "already exists";

    writeFile(onServer("dir/inside.txt"), "x");
    EXPECT_EQ(module().deleteFolder(u"dir"), FTP_RESULT_FAILED) << "not empty";
    EXPECT_TRUE(fs::exists(onServer("dir/inside.txt")));

    fs::remove(onServer("dir/inside.txt"));
    EXPECT_EQ(module().deleteFolder(u"dir"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists(onServer("dir")));
}

TEST_P(CommandsAgainstServers, AbsoluteRemotePathsWork)
{
    fs::create_directories(onServer("sub"));
    writeFile(device_.hostPath("f.txt"), "in sub");
    EXPECT_EQ(module().upload(device_.devicePath("f.txt").c_str(), u"/sub/f.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(onServer("sub/f.txt")), "in sub");
}

TEST_P(CommandsAgainstServers, NamesWithControlCharactersAreRefusedAndTouchNothing)
{
    writeFile(onServer("a.txt"), "a");
    writeFile(onServer("b.txt"), "b");
    EXPECT_EQ(module().deleteFile(u"a.txt\r\nDELE b.txt"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().deleteFile(u"b.txt\n"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().rename(u"a.txt", u"c.txt\rRNTO d"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().createFolder(u"new\tfolder"), FTP_RESULT_FAILED);
    const char16_t unpaired[] = {u'a', char16_t(0xDC00), 0};
    EXPECT_EQ(module().deleteFile(unpaired), FTP_RESULT_FAILED);
    EXPECT_TRUE(fs::exists(onServer("a.txt")));
    EXPECT_TRUE(fs::exists(onServer("b.txt")));
    EXPECT_EQ(std::distance(fs::directory_iterator(root_.path()), fs::directory_iterator()), 2);
    // The session is still in step afterwards.
    EXPECT_EQ(module().deleteFile(u"b.txt"), FTP_RESULT_OK);
}

INSTANTIATE_TEST_SUITE_P(Interop, CommandsAgainstServers, ::testing::ValuesIn(allServers()),
                         [](const auto& info) { return nameOf(info.param); });

TEST(CommandsWithoutSession, EveryCommandGivesTwo)
{
    module().logOut();
    EXPECT_EQ(module().download(u"\\x.txt", u"x.txt"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().upload(u"\\x.txt", u"x.txt"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().deleteFile(u"x.txt"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().createFolder(u"x"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().deleteFolder(u"x"), FTP_RESULT_FAILED);
    EXPECT_EQ(module().rename(u"x", u"y"), FTP_RESULT_FAILED);
}

}  // namespace

namespace {

TEST(CommandsOverIpv6, LiteralAddressLogsInAndTransfersOverEpsv)
{
    TempFolder root;
    DeviceFolder device;
    ServerProcess server(pyftpdCommand(root.path(), {"--host", "::1"}));
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(module().logIn(u"::1", u"user", u"secret"), FTP_RESULT_OK);
    writeFile(device.hostPath("v6.txt"), "over IPv6");
    EXPECT_EQ(module().upload(device.devicePath("v6.txt").c_str(), u"v6.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(root.path() / "v6.txt"), "over IPv6");
    EXPECT_EQ(module().download(device.devicePath("back.txt").c_str(), u"v6.txt"), FTP_RESULT_OK);
    EXPECT_EQ(readFile(device.hostPath("back.txt")), "over IPv6");
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
}

}  // namespace
