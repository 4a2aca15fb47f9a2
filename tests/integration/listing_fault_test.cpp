// SPDX-License-Identifier: MIT
// Listings from a scripted server: hostile names and broken transfers.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <fstream>

#include "fault_server_test.h"

using namespace harness;

namespace {

// FEAT without MLST: the client lists with LIST.
constexpr const char* kNoMlst = R"("FEAT": "211-Features:\r\n UTF8\r\n211 End")";

class ListingAgainstFaultServer : public FaultServerTest {
protected:
    void play(const std::string& scenario)
    {
        // LIST times are UTC; so is the listing file's local time here.
        setenv("TZ", "UTC", 1);
        tzset();
        ASSERT_NO_FATAL_FAILURE(startServerAndLogIn(scenario));
        writeFile(listingFile(), "previous listing\n");
    }

    FTPResult list() { return module().listFolder(nullptr, nullptr, nullptr, u"/pub"); }

    std::vector<std::string> listingLines() const { return readLines(listingFile()); }
};

TEST_F(ListingAgainstFaultServer, HostileNamesAreSkippedOrMadeSafe)
{
    // JSON text: \u0007 is a BEL, \udcff the raw byte 0xFF (not UTF-8).
    const std::string listing = "total 9\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 good.txt\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 bell\\u0007name\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 " +
                                std::string(300, 'n') +
                                "\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 bad\\udcffutf8\\r\\n"
                                "-rw-r--r-- 1 u g 99999999999999999999 Jan  1  2020 huge\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan 99  2020 bad-date\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 ../up\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 next\\u0085line\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 line\\u2028separator\\r\\n"
                                "-rw-r--r-- 1 u g 1 Jan  1  2020 para\\u2029graph\\r\\n"
                                "not a listing line at all\\r\\n"
                                "-rw-r--r-- 1 u g 2 Jan  1  2020 also good\\r\\n";
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(}, "listing": ")" +
         listing + "\"}");
    ASSERT_EQ(list(), FTP_RESULT_OK);
    const std::vector<std::string> expected = {
        "good.txt",
        " 1    ",
        "01/01/2020  00:00:00",
        "bad\xef\xbf\xbdutf8",
        " 1    ",
        "01/01/2020  00:00:00",
        "../up",
        " 1    ",
        "01/01/2020  00:00:00",
        "also good",
        " 2    ",
        "01/01/2020  00:00:00",
    };
    EXPECT_EQ(listingLines(), expected);
}

// Lines of `file`, streamed: the first, the last two, and how many.
struct LinesSeen {
    std::size_t count = 0;
    std::string first, beforeLast, last;
};

LinesSeen scanLines(const std::filesystem::path& file)
{
    LinesSeen seen;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line); ++seen.count) {
        if (seen.count == 0)
            seen.first = line;
        seen.beforeLast = std::move(seen.last);
        seen.last = std::move(line);
    }
    return seen;
}

TEST_F(ListingAgainstFaultServer, MillionEntriesAndAHugeLineInConstantMemory)
{
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(},
             "listing": "-rw-r--r-- 1 u g 7 Jan  1  2020 first\r\n",
             "listing_bulk": {"long_line": 10485760, "entries": 1000000}})");
    resetPeakMemory();
    const long before = residentMemoryKiB();
    ASSERT_EQ(list(), FTP_RESULT_OK);
    const long grownKiB = peakMemoryKiB() - before;

    const LinesSeen lines = scanLines(listingFile());
    EXPECT_EQ(lines.count, 3u * 1000001);
    EXPECT_EQ(lines.first, "first");
    EXPECT_EQ(lines.beforeLast, " 999999    ");
    EXPECT_EQ(lines.last, "01/01/2020  00:00:00");
    // The 10 MB line is skipped, never held, and entries are written as they
    // arrive: memory does not grow with the folder.
    std::printf("peak memory grew by %ld KiB for 1,000,001 entries\n", grownKiB);
#if !defined(__SANITIZE_ADDRESS__) && !defined(QUORVANE_UNDER_EMULATOR)
    EXPECT_LE(grownKiB, 8 * 1024);
#endif
}

TEST_F(ListingAgainstFaultServer, StalledDataMidListingFailsAtTheInactivityLimit)
{
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(,
             "LIST": [{"send": "150 here\r\n"}, {"bulk": true}, {"sleep": 90}]},
             "listing_bulk": {"entries": 1000}})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    const Seconds took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took.count(), 59.0);
    EXPECT_LT(took.count(), 75.0);
    EXPECT_EQ(readFile(listingFile()), "previous listing\n");
}

TEST_F(ListingAgainstFaultServer, FullDiskEndsTheListingAndTheSessionGoesOn)
{
    play(std::string(R"({"files": {"f.txt": "hello"}, "replies": {"CWD": "250 ok", )") + kNoMlst +
         R"(}, "listing_bulk": {"entries": 20000}})");
    const auto loggedIn = commands().size();
    {
        const FullDevice full(64 * 1024);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(list(), FTP_RESULT_FAILED);
        EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start).count(), 5.0);
        EXPECT_EQ(readFile(listingFile()), "previous listing\n");
    }
    // The same connection serves the next calls at once.
    EXPECT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(readLines(listingFile()).size(), 3u * 20000);
    DeviceFolder device;
    EXPECT_EQ(module().download(device.devicePath("f.txt").c_str(), u"f.txt"), FTP_RESULT_OK);
    EXPECT_EQ(commandsFrom(loggedIn),
              (std::vector<std::string>{"CWD /pub", "PASV", "LIST", "DATA 127.0.0.1", "CWD /pub",
                                        "PASV", "LIST", "DATA 127.0.0.1", "PASV", "RETR f.txt",
                                        "DATA 127.0.0.1"}));
}

TEST_F(ListingAgainstFaultServer, EachListingUsesTheTimeZoneInEffectThen)
{
    play(R"({"replies": {"CWD": "250 ok"},
             "listing": "type=file;size=1;modify=20200101120000; a\r\n"})");
    ASSERT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(listingLines().at(2), "01/01/2020  12:00:00");
    // A long-running host whose zone changes: nobody calls tzset() for it.
    setenv("TZ", "JST-9", 1);
    ASSERT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(listingLines().at(2), "01/01/2020  21:00:00");
    setenv("TZ", "UTC", 1);
    tzset();
}

// A server listing in its own time, five and a half hours east of UTC,
// ends the listing with 250 as IBM i does; MDTM says UTC. The zone is
// learnt from the first listing, once, from a file (servers refuse MDTM of
// a folder), and every later one uses it.
TEST_F(ListingAgainstFaultServer, TheServersZoneIsLearntOnceFromMdtm)
{
    const time_t written = std::time(nullptr) / 60 * 60 - 2 * 86400;
    const time_t shown = written + 5 * 3600 + 1800;  // its wall clock
    char line[160], mdtm[32];
    tm wall{}, utc{};
    ::gmtime_r(&shown, &wall);
    ::gmtime_r(&written, &utc);
    // As JSON writes line ends, inside the scenario.
    std::strftime(line, sizeof line,
                  "drwxr-xr-x 1 u g 0 %b %e %H:%M sub\\r\\n"
                  "-rw-r--r-- 1 u g 7 %b %e %H:%M a.txt\\r\\n"
                  "drwxr-xr-x 1 u g 0 Jan  1  2020 old\\r\\n",
                  &wall);
    std::strftime(mdtm, sizeof mdtm, "213 %Y%m%d%H%M%S", &utc);
    play(
        std::string(R"({"replies": {"CWD": "250 ok",
        "FEAT": "211-Features:\r\n MDTM\r\n211 End", "MDTM": ")") +
        mdtm + R"(", "LIST": [{"send": "150 here\r\n"}, {"data": ")" + line +
        R"("}, {"data_close": true}, {"send": "250 Requested file action okay, completed.\r\n"}]}})");
    const auto loggedIn = commands().size();
    for (int listing = 0; listing < 2; ++listing) {
        ASSERT_EQ(list(), FTP_RESULT_OK);
        const auto lines = listingLines();
        ASSERT_EQ(lines.size(), 9u);
        EXPECT_EQ(lines[3], "a.txt");
        char truth[32];
        std::strftime(truth, sizeof truth, "%m/%d/%Y  %H:%M:%S", &utc);  // TZ is UTC here
        EXPECT_EQ(lines[2], truth);  // the truth, not the server's wall clock
        EXPECT_EQ(lines[5], truth);
        EXPECT_EQ(lines[8], "12/31/2019  18:30:00");  // a date alone: the server's midnight
    }
    // The zone asked once, of the file: each listing is otherwise as plain.
    const std::vector<std::string> listing = {"CWD /pub", "PASV", "LIST", "DATA 127.0.0.1"};
    std::vector<std::string> expected = listing;
    expected.push_back("MDTM a.txt");
    expected.insert(expected.end(), listing.begin(), listing.end());
    EXPECT_EQ(commandsFrom(loggedIn), expected);
}

}  // namespace
