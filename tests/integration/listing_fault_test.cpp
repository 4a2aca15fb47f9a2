// Listings from a scripted server: hostile names and broken transfers.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdio>


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

TEST_F(ListingAgainstFaultServer, MlsdWhereOffered)
{
    play(R"({"replies": {"CWD": "250 ok"},
             "listing": "type=cdir;modify=20200101000000; .\r\ntype=file;size=7;modify=20200101000000; a.txt\r\n"})");
    ASSERT_EQ(list(), FTP_RESULT_OK);
    const auto lines = listingLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "a.txt");
    EXPECT_EQ(lines[1], " 7    ");
    EXPECT_EQ(count("MLSD"), 1);
    EXPECT_EQ(count("LIST"), 0);
}

TEST_F(ListingAgainstFaultServer, HostileNamesAreSkippedOrMadeSafe)
{
    // JSON text: \u0007 is a BEL, \udcff the raw byte 0xFF (not UTF-8).
    const std::string listing =
        "total 9\\r\\n"
        "-rw-r--r-- 1 u g 1 Jan  1  2020 good.txt\\r\\n"
        "-rw-r--r-- 1 u g 1 Jan  1  2020 bell\\u0007name\\r\\n"
        "-rw-r--r-- 1 u g 1 Jan  1  2020 " + std::string(300, 'n') + "\\r\\n"
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
        "good.txt",  " 1    ", "01/01/2020  00:00:00",
        "bad\xef\xbf\xbdutf8", " 1    ", "01/01/2020  00:00:00",
        "../up",     " 1    ", "01/01/2020  00:00:00",
        "also good", " 2    ", "01/01/2020  00:00:00",
    };
    EXPECT_EQ(listingLines(), expected);
}

TEST_F(ListingAgainstFaultServer, HugeLineAndHundredThousandEntriesInBoundedMemory)
{
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(},
             "listing": "-rw-r--r-- 1 u g 7 Jan  1  2020 first\r\n",
             "listing_bulk": {"long_line": 10485760, "entries": 100000}})");
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    ASSERT_EQ(list(), FTP_RESULT_OK);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);

    const auto lines = listingLines();
    ASSERT_EQ(lines.size(), 3u * 100001);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[3], "file-0");
    EXPECT_EQ(lines.back(), "01/01/2020  00:00:00");
    EXPECT_EQ(lines[lines.size() - 3], "file-99999");
    EXPECT_EQ(lines[lines.size() - 2], " 99999    ");
    // The 10 MB line is skipped, never held: memory grows with the entries only.
    const long grownKiB = after.ru_maxrss - before.ru_maxrss;
    std::printf("peak memory grew by %ld KiB for 100,001 entries\n", grownKiB);
    EXPECT_LT(grownKiB, 64 * 1024);
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

TEST_F(ListingAgainstFaultServer, TransferAbortedWith426KeepsThePreviousListing)
{
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(,
             "LIST": [{"send": "150 here\r\n"}, {"data": "-rw-r--r-- 1 u g 1 Jan  1  2020 a\r\n"},
                      {"data_close": true}, {"send": "426 transfer aborted\r\n"}]}})");
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_EQ(readFile(listingFile()), "previous listing\n");
}

TEST_F(ListingAgainstFaultServer, ServerDyingMidListingKeepsThePreviousListing)
{
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(,
             "LIST": [{"send": "150 here\r\n"}, {"data": "-rw-r--r-- 1 u g 1 Jan  1  2020 a\r\n"},
                      {"sleep": 0.2}, {"die": true}]}})");
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_EQ(readFile(listingFile()), "previous listing\n");
}

TEST_F(ListingAgainstFaultServer, RefusedListingKeepsThePreviousListing)
{
    play(std::string(R"({"replies": {"CWD": "250 ok", )") + kNoMlst + R"(,
             "LIST": "550 permission denied"}})");
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_EQ(readFile(listingFile()), "previous listing\n");
}

TEST_F(ListingAgainstFaultServer, RefusedFolderChangeGivesThree)
{
    play(R"({"replies": {"CWD": "550 no such folder"}})");
    EXPECT_EQ(list(), FTP_RESULT_NO_FOLDER);
    EXPECT_EQ(readFile(listingFile()), "previous listing\n");
}

}  // namespace
