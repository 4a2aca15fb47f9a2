// SPDX-License-Identifier: MIT
// Folder listings of the built module against each real server (MLSD or
// LIST), in a time zone with daylight saving.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "harness.h"

using namespace harness;
namespace fs = std::filesystem;

namespace {

struct Record {
    std::string size;
    std::string time;
    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r)
{
    return out << "{" << r.size << ", " << r.time << "}";
}

// The listing file as records by name; fails the test on a broken layout.
// The listing's records by name, without the folder's own entry and its
// parent's, which servers list or not ("." and ".." where they do, from LIST
// or MLSD alike: both, or neither).
std::map<std::string, Record> readListing()
{
    const std::string text = readFile(listingFile());
    std::map<std::string, Record> records;
    if (!text.empty() && text.back() != '\n')
        ADD_FAILURE() << "the listing does not end with a line end";
    const auto lines = readLines(listingFile());
    if (lines.size() % 3 != 0)
        ADD_FAILURE() << "the listing has " << lines.size() << " lines, not records of three";
    for (std::size_t i = 0; i + 2 < lines.size(); i += 3)
        records[lines[i]] = {lines[i + 1], lines[i + 2]};
    if (records.contains(".") != records.contains(".."))
        ADD_FAILURE() << "the folder's own entry without its parent's, or the other way round";
    records.erase(".");
    records.erase("..");
    return records;
}

void setModified(const fs::path& path, time_t utcSeconds)
{
    const timespec times[2] = {{utcSeconds, 0}, {utcSeconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string localText(time_t seconds)
{
    tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%m/%d/%Y  %H:%M:%S", &local);
    return text;
}

class ListingAgainstServers : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override
    {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        fs::create_directories(root_.path() / "sub");
        fs::create_directories(root_.path() / "empty");
        server_ = std::make_unique<ServerProcess>(serverCommand(GetParam(), root_.path()));
        ASSERT_TRUE(server_->ready()) << nameOf(GetParam()) << " did not start";
        ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    }
    void TearDown() override { module().logOut(); }

    bool mlsd() const { return listsWithMlsd(GetParam()); }

    FTPResult list(const std::string& folder)
    {
        return module().listFolder(nullptr, nullptr, nullptr, wide(folder).c_str());
    }

    // Writes a file of `size` bytes (sparse) last modified at `utc`.
    void serve(const std::string& name, off_t size, time_t utc)
    {
        const fs::path path = root_.path() / name;
        writeFile(path, "");
        fs::resize_file(path, static_cast<std::uintmax_t>(size));
        setModified(path, utc);
    }

    TempFolder root_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_P(ListingAgainstServers, NamesSizesAndLocalTimes)
{
    // 13:05:09 UTC on 7 March 2009 is 14:05:09 in Berlin (winter time).
    serve("a.txt", 512, 1236431109);
    // 12:34:56 UTC on 15 July 2023 is 14:34:56 in Berlin (summer time).
    serve("big.iso", 5368709120, 1689424496);
    serve("caf\xc3\xa9 \xe6\x96\x87\xe4\xbb\xb6 \xf0\x9f\x98\x80.txt", 3, 1689424496);
    serve(" two  spaces .txt", 4, 1689424496);
    // A recent file: LIST shows its time (to the minute) rather than its year.
    const time_t recent = std::time(nullptr) / 60 * 60 - 30 * 86400;
    serve("recent.log", 2147483648, recent);
    setModified(root_.path() / "sub", 1689424496);

    ASSERT_EQ(list("/"), FTP_RESULT_OK);
    const auto records = readListing();
    // LIST has no seconds, and dates older than six months no time at all:
    // the servers then show the day alone, read as midnight UTC.
    std::map<std::string, Record> expected = {
        {"a.txt", {" 512    ", mlsd() ? "03/07/2009  14:05:09" : "03/07/2009  01:00:00"}},
        {"big.iso", {" 5368709120    ", mlsd() ? "07/15/2023  14:34:56" : "07/15/2023  02:00:00"}},
        {"caf\xc3\xa9 \xe6\x96\x87\xe4\xbb\xb6 \xf0\x9f\x98\x80.txt",
         {" 3    ", mlsd() ? "07/15/2023  14:34:56" : "07/15/2023  02:00:00"}},
        {" two  spaces .txt", {" 4    ", mlsd() ? "07/15/2023  14:34:56" : "07/15/2023  02:00:00"}},
        {"recent.log", {" 2147483648    ", localText(recent)}},
    };
    for (const auto& [name, record] : expected) {
        ASSERT_TRUE(records.count(name)) << "missing " << name;
        EXPECT_EQ(records.at(name), record) << name;
    }
    // The folder is listed too, without a mark; its size is the server's.
    EXPECT_TRUE(records.contains("sub"));
    EXPECT_TRUE(records.contains("empty"));
    EXPECT_EQ(records.size(), expected.size() + 2);
    // Nothing but the listing is left in the device root.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(listingFile().parent_path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{listingFile().filename().string()});
}

TEST_P(ListingAgainstServers, EmptyFolderGivesAnEmptyListing)
{
    writeFile(listingFile(), "previous");
    EXPECT_EQ(list("/empty"), FTP_RESULT_OK);
    EXPECT_TRUE(readListing().empty()) << readFile(listingFile());
}

TEST_P(ListingAgainstServers, RefusedFolderKeepsThePreviousListing)
{
    serve("a.txt", 1, 1689424496);
    ASSERT_EQ(list("/"), FTP_RESULT_OK);
    const std::string before = readFile(listingFile());
    EXPECT_EQ(list("/no-such-folder"), FTP_RESULT_NO_FOLDER);
    EXPECT_EQ(readFile(listingFile()), before);
}

TEST_P(ListingAgainstServers, ListingsInARowAndTheSameFolderTwice)
{
    serve("top.txt", 1, 1689424496);
    serve("sub/inner.txt", 2, 1689424496);
    ASSERT_EQ(list("/sub"), FTP_RESULT_OK);
    EXPECT_TRUE(readListing().contains("inner.txt"));
    ASSERT_EQ(list("/sub"), FTP_RESULT_OK);  // the first search was closed
    EXPECT_EQ(readListing().size(), 1u);
    ASSERT_EQ(list("/"), FTP_RESULT_OK);
    const auto records = readListing();
    EXPECT_TRUE(records.contains("top.txt"));
    EXPECT_FALSE(records.contains("inner.txt"));
}

TEST_P(ListingAgainstServers, RelativeFolderAfterAnAbsoluteOne)
{
    serve("sub/inner.txt", 2, 1689424496);
    ASSERT_EQ(list("/"), FTP_RESULT_OK);
    ASSERT_EQ(list("sub"), FTP_RESULT_OK);
    const auto records = readListing();
    EXPECT_EQ(records.size(), 1u);
    EXPECT_TRUE(records.contains("inner.txt"));
}

TEST_P(ListingAgainstServers, LaterBareNamesActInTheListedFolder)
{
    serve("x.txt", 1, 1689424496);
    serve("sub/x.txt", 1, 1689424496);
    ASSERT_EQ(list("/sub"), FTP_RESULT_OK);
    EXPECT_EQ(module().deleteFile(u"x.txt"), FTP_RESULT_OK);
    EXPECT_FALSE(fs::exists(root_.path() / "sub/x.txt"));
    EXPECT_TRUE(fs::exists(root_.path() / "x.txt"));
}

TEST_P(ListingAgainstServers, FullDiskEndsTheListingEarlyAndTheSessionGoesOn)
{
    // Enough entries that the listing file outgrows its write buffer.
    fs::create_directories(root_.path() / "many");
    for (int i = 0; i < 5000; ++i)
        writeFile(root_.path() / "many" / ("file-" + std::to_string(i)), "");
    serve("x.txt", 1, 1689424496);
    writeFile(listingFile(), "previous listing\n");
    {
        const FullDevice full(16 * 1024);
        EXPECT_EQ(list("/many"), FTP_RESULT_FAILED);
        EXPECT_EQ(readFile(listingFile()), "previous listing\n");
    }
    // The listing was abandoned half-way; the session lists and moves files
    // again at once.
    ASSERT_EQ(list("/many"), FTP_RESULT_OK);
    EXPECT_EQ(readListing().size(), 5000u);
    DeviceFolder device;
    EXPECT_EQ(module().download(device.devicePath("x.txt").c_str(), u"/x.txt"), FTP_RESULT_OK);
    EXPECT_EQ(fs::file_size(device.hostPath("x.txt")), 1u);
}

INSTANTIATE_TEST_SUITE_P(Interop, ListingAgainstServers, ::testing::ValuesIn(allServers()),
                         [](const auto& info) { return nameOf(info.param); });

// Servers that list in their own local time, here five and a half hours
// east of UTC: proftpd's MDTM still says UTC, so the client learns the zone
// and every time is right, also where the first listing is too long for
// its entries to wait in memory; vsftpd's MDTM is local too, so nothing it
// says tells its zone, and its times stay as listed, taken as UTC.
TEST(ListingInTheServersZone, LearntOnceASessionFromMdtm)
{
    setenv("TZ", "UTC", 1);
    tzset();
    struct Row {
        Server server;
        std::int64_t shown;  // what the listing shows beyond the truth, in seconds
        int moreFiles;
    };
    for (const Row& row : {Row{Server::Proftpd, 0, 0}, Row{Server::Proftpd, 0, 12'000},
                           Row{Server::Vsftpd, 5 * 3600 + 1800, 0}}) {
        TempFolder root;
        for (int i = 0; i < row.moreFiles; ++i)
            writeFile(root.path() / ("more-" + std::to_string(i)), "");
        writeFile(root.path() / "recent.txt", "x");
        const time_t written = std::time(nullptr) / 60 * 60 - 3 * 86400;  // shows its time of day
        const timespec times[2] = {{written, 0}, {written, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (root.path() / "recent.txt").c_str(), times, 0), 0);
        auto command = serverCommand(row.server, root.path());
        command.insert(command.end(), {"--local-times", "--timezone", "IST-5:30"});
        const ServerProcess server(command);
        ASSERT_TRUE(server.ready()) << nameOf(row.server);
        const auto transcript = root.path() / "transcript.txt";
        const ScopedEnvironment trace("QUORVANE_TRACE", transcript.string());
        ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
        for (int listing = 0; listing < 2; ++listing) {
            ASSERT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_OK);
            const auto records = readListing();
            EXPECT_EQ(records.size(), row.moreFiles + 2u);  // and the transcript
            ASSERT_TRUE(records.contains("recent.txt")) << nameOf(row.server);
            EXPECT_EQ(records.at("recent.txt").time, localText(written + row.shown))
                << nameOf(row.server);
        }
        module().logOut();
        const std::string text = readFile(transcript);
        EXPECT_NE(text.find(row.shown == 0 ? "LIST times are UTC+05:30 (MDTM of "
                                           : "LIST times are UTC+00:00 (MDTM of "),
                  std::string::npos)
            << text;
        std::size_t asked = 0;  // once a session
        for (std::size_t at = 0; (at = text.find("-> MDTM", at)) != std::string::npos; ++at)
            ++asked;
        EXPECT_EQ(asked, 1u) << text;
    }
}

TEST(ListingWithoutSession, GivesThreeAndTouchesNoFile)
{
    module().logOut();
    writeFile(listingFile(), "previous");
    EXPECT_EQ(module().listFolder(nullptr, nullptr, nullptr, u"/"), FTP_RESULT_NO_FOLDER);
    EXPECT_EQ(readFile(listingFile()), "previous");
}

}  // namespace
