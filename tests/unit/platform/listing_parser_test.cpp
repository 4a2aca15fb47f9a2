// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "posix/wire/calendar.h"
#include "posix/wire/listing_parser.h"
#include "whole_listing.h"

using namespace quorvane::client;

namespace {

std::int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return *unixSecondsOf(CivilTime{year, month, day, hour, minute, second});
}

// "Now" for every row that does not say otherwise.
const std::int64_t kNow = utc(2024, 6, 15, 12, 0, 0);

struct Row {
    const char* line;
    const char* name;
    std::uint64_t size;
    bool directory;
    std::int64_t modified;
};

void expectRows(const std::vector<Row>& rows, LineResult (*parse)(std::string_view, ListingEntry&))
{
    for (const Row& row : rows) {
        ListingEntry entry;
        ASSERT_EQ(parse(row.line, entry), LineResult::Parsed) << row.line;
        EXPECT_EQ(entry.name, row.name) << row.line;
        EXPECT_EQ(entry.size, row.size) << row.line;
        EXPECT_EQ(entry.directory, row.directory) << row.line;
        EXPECT_EQ(entry.modified, std::optional<std::int64_t>(row.modified)) << row.line;
    }
}

LineResult listAtNow(std::string_view line, ListingEntry& entry)
{
    return parseListLine(line, kNow, entry);
}

TEST(MlsdLines, FactsAndNames)
{
    expectRows(
        {
            {"type=file;size=4400;modify=20221105162000;perm=rwadf; log.txt", "log.txt", 4400,
             false, utc(2022, 11, 5, 16, 20, 0)},
            {"Type=DIR;Modify=20221105162000;UNIX.mode=0755; Reports", "Reports", 0, true,
             utc(2022, 11, 5, 16, 20, 0)},
            {"type=file;sizd=12;modify=20221105162000.123; fraction.bin", "fraction.bin", 12, false,
             utc(2022, 11, 5, 16, 20, 0)},
            {"type=file;size=5368709120;modify=20240229235959; huge.iso", "huge.iso", 5368709120ull,
             false, utc(2024, 2, 29, 23, 59, 59)},
            {"type=file;size=1;modify=19700101000000; name with  spaces ; and=equals",
             "name with  spaces ; and=equals", 1, false, utc(1970, 1, 1)},
            {"type=file;size=1;modify=20200101000000;x.note=a=b; trailing space ",
             "trailing space ", 1, false, utc(2020, 1, 1)},
            {"type=OS.unix=slink:/target;size=9;modify=20200101000000; link", "link", 9, false,
             utc(2020, 1, 1)},
        },
        parseMlsdLine);
}

// A folder's own entry and its parent's are "." and "..", as LIST names
// them, whatever name the server gives (often the folder's whole path).
TEST(MlsdLines, FolderOwnAndParentEntriesAreDotAndDotDot)
{
    expectRows(
        {
            {"type=cdir;modify=20221105162000; .", ".", 0, true, utc(2022, 11, 5, 16, 20)},
            {"type=pdir;modify=20221105162000; ..", "..", 0, true, utc(2022, 11, 5, 16, 20)},
            {"TYPE=CDIR;modify=20221105162000; /pub", ".", 0, true, utc(2022, 11, 5, 16, 20)},
        },
        parseMlsdLine);
}

TEST(MlsdLines, BrokenLinesAreMalformed)
{
    for (const char* line : {
             "type=file;size=12",  // no name
             "type=file;size=12; ",  // empty name
             "type=file;size=abc;modify=20221105162000; x",  // size not a number
             "type=file;size=99999999999999999999; x",  // size past 64 bits
             "type=file;modify=2022110516200; x",  // 13 digits
             "type=file;modify=20221305162000; x",  // month 13
             "type=file;modify=20230229120000; x",  // no Feb 29 in 2023
             "type=file;modify=20221105162000.x; x",  // bad fraction
             "type;size=1; x",  // fact without '='
         }) {
        ListingEntry entry;
        EXPECT_EQ(parseMlsdLine(line, entry), LineResult::Malformed) << line;
    }
}

TEST(UnixLines, CommonShapes)
{
    expectRows(
        {
            {"-rw-r--r--   1 alice  staff     8192 Mar  4 09:41 notes.txt", "notes.txt", 8192,
             false, utc(2024, 3, 4, 9, 41)},
            {"drwxr-xr-x   4 alice  staff      512 Oct 17  2021 archive", "archive", 512, true,
             utc(2021, 10, 17)},
            {"lrwxrwxrwx   1 root   root        12 Jun  3 18:02 current -> release-7", "current",
             12, false, utc(2024, 6, 3, 18, 2)},
            {"-rw-rw-r--+  1 1001   100      2048 Jan  9 07:15 shared.dat", "shared.dat", 2048,
             false, utc(2024, 1, 9, 7, 15)},
            {"-rw-r--r--   1 1000     1000  5368709120 Feb 29  2020 big.iso", "big.iso",
             5368709120ull, false, utc(2020, 2, 29)},
            {"-rw-r--r--   1 alice      4400 May 30 23:59 nogroup.txt", "nogroup.txt", 4400, false,
             utc(2024, 5, 30, 23, 59)},
            {"drwxr-xr-x  folder  0 Nov  5  2022 Reports", "Reports", 0, true, utc(2022, 11, 5)},
            {"crw-rw-rw-   1 root   root     1,   3 Jan  9  2020 null", "null", 0, false,
             utc(2020, 1, 9)},
            {"brw-rw----   1 root   disk     8,0 Jan  9  2020 sda", "sda", 0, false,
             utc(2020, 1, 9)},
            {"-rw-r--r--   1 ftp    ftp        10 jun 14 10:00 lower-case month",
             "lower-case month", 10, false, utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 ftp    ftp        10 Jun 14 10:00  leading space", " leading space",
             10, false, utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 ftp    ftp        10 Jun 14 10:00 inner   spaces", "inner   spaces",
             10, false, utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 ftp    ftp        10 Jun 14 10:00 trailing space  ",
             "trailing space  ", 10, false, utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 ftp    ftp        10 Jun 14 10:00 Jun 14 10:00 dated name",
             "Jun 14 10:00 dated name", 10, false, utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 ftp    ftp         0 Jun 14  2024 .", ".", 0, false, utc(2024, 6, 14)},
        },
        listAtNow);
}

TEST(UnixLines, OwnersGroupsAndSizesThatLookLikeDatesAreNotDates)
{
    expectRows(
        {
            {"-rw-r--r-- 1 jan 20 4096 Mar  4 09:41 notes.txt", "notes.txt", 4096, false,
             utc(2024, 3, 4, 9, 41)},
            {"-rw-r--r-- 1 may 31 2024 Mar  4 09:41 owner-may", "owner-may", 2024, false,
             utc(2024, 3, 4, 9, 41)},
            {"-rw-r--r-- 1 alice may 31 Mar  4  2019 group-may", "group-may", 31, false,
             utc(2019, 3, 4)},
            {"-rw-r--r-- 1 dec 7 1999 Jun  1 12:00 numeric-group", "numeric-group", 1999, false,
             utc(2024, 6, 1, 12, 0)},
            {"-rw-r--r-- 1 jun 1601 Jun  1 12:00 no-group", "no-group", 1601, false,
             utc(2024, 6, 1, 12, 0)},
            {"-rw-r--r-- 1 jan feb 9999 Oct 17  2021 both", "both", 9999, false, utc(2021, 10, 17)},
            // Names that look like dates, after a real one.
            {"-rw-r--r-- 1 u g 10 Jun 14 10:00 Mar  4 09:41 notes.txt", "Mar  4 09:41 notes.txt",
             10, false, utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r-- 1 u g 10 Jun 14  2020 Jan  1  2021", "Jan  1  2021", 10, false,
             utc(2020, 6, 14)},
            {"-rw-r--r-- 1 jan 20 4096 Mar  4 09:41 May 31 2024", "May 31 2024", 4096, false,
             utc(2024, 3, 4, 9, 41)},
            // Dates past the eighth field: a security context (ls -Z), and
            // more besides, with a date-like name after them.
            {"-rw-r--r--. 1 root root system_u:object_r:etc_t:s0 4096 Mar  4 09:41 selinux.conf",
             "selinux.conf", 4096, false, utc(2024, 3, 4, 9, 41)},
            {"-rw-r--r-- 1 u g ctx extra more 77 Jun 14  2020 Jan  1  2021", "Jan  1  2021", 77,
             false, utc(2020, 6, 14)},
        },
        listAtNow);
}

TEST(UnixLines, YearlessDatesTakeTheLatestYearNotAheadOfNow)
{
    struct YearRow {
        std::int64_t now;
        const char* date;
        std::int64_t expected;
    };
    const std::vector<YearRow> rows = {
        // Around six and seven months back: never put a year ahead.
        {utc(2026, 12, 8, 12, 0), "Jun  8 18:38", utc(2026, 6, 8, 18, 38)},  // 182.7 days
        {utc(2026, 12, 8, 12, 0), "Jun  9 18:38", utc(2026, 6, 9, 18, 38)},
        {utc(2026, 12, 8, 12, 0), "May 01 12:00", utc(2026, 5, 1, 12, 0)},  // seven months
        {utc(2024, 6, 15, 12, 0), "Dec 16 00:00", utc(2023, 12, 16)},
        {utc(2024, 6, 15, 12, 0), "Dec 14 00:00", utc(2023, 12, 14)},
        {utc(2024, 6, 15, 12, 0), "Jun 15 11:59", utc(2024, 6, 15, 11, 59)},
        // A server clock a little ahead of ours: up to two days.
        {utc(2024, 6, 15, 12, 0), "Jun 16 12:00", utc(2024, 6, 16, 12, 0)},
        {utc(2024, 6, 15, 12, 0), "Jun 17 11:59", utc(2024, 6, 17, 11, 59)},
        {utc(2024, 6, 15, 12, 0), "Jun 18 00:00", utc(2023, 6, 18)},
        // The turn of the year, both ways.
        {utc(2025, 1, 1, 0, 30), "Dec 31 23:59", utc(2024, 12, 31, 23, 59)},
        {utc(2024, 12, 31, 23, 0), "Jan  1 00:01", utc(2025, 1, 1, 0, 1)},  // server ahead
        {utc(2024, 12, 31, 23, 0), "Dec 31 22:00", utc(2024, 12, 31, 22, 0)},
        {utc(2025, 1, 5, 12, 0), "Jan  6 00:00", utc(2025, 1, 6)},
        {utc(2025, 1, 5, 12, 0), "Jan  8 00:00", utc(2024, 1, 8)},
        // Feb 29 in the latest leap year that is not ahead.
        {utc(2024, 3, 1, 12, 0), "Feb 29 08:00", utc(2024, 2, 29, 8, 0)},
        {utc(2024, 2, 28, 12, 0), "Feb 29 08:00", utc(2024, 2, 29, 8, 0)},  // a day ahead
        {utc(2024, 2, 20, 12, 0), "Feb 29 08:00", utc(2020, 2, 29, 8, 0)},
        {utc(2025, 2, 1, 12, 0), "Feb 29 08:00", utc(2024, 2, 29, 8, 0)},
        {utc(2027, 1, 1, 12, 0), "Feb 29 08:00", utc(2024, 2, 29, 8, 0)},
    };
    for (const YearRow& row : rows) {
        const std::string line = std::string("-rw-r--r-- 1 u g 1 ") + row.date + " f";
        ListingEntry entry;
        ASSERT_EQ(parseUnixLine(line, row.now, entry), LineResult::Parsed) << line;
        EXPECT_EQ(entry.modified, std::optional<std::int64_t>(row.expected)) << line;
    }
}

TEST(DosLines, TwelveAndTwentyFourHourClocks)
{
    expectRows(
        {
            {"11-05-22  04:20PM       <DIR>          Reports", "Reports", 0, true,
             utc(2022, 11, 5, 16, 20)},
            {"11-05-2022  04:20PM              4400 log.txt", "log.txt", 4400, false,
             utc(2022, 11, 5, 16, 20)},
            {"03-21-08  13:05                  640 settings.xml", "settings.xml", 640, false,
             utc(2008, 3, 21, 13, 5)},
            {"01-01-99  12:00AM                  1 midnight.txt", "midnight.txt", 1, false,
             utc(1999, 1, 1, 0, 0)},
            {"01-01-70  12:30PM                  1 noon.txt", "noon.txt", 1, false,
             utc(1970, 1, 1, 12, 30)},
            {"02-29-2024  11:59 PM         5368709120 spaced meridiem.iso", "spaced meridiem.iso",
             5368709120ull, false, utc(2024, 2, 29, 23, 59)},
            {"06-15-24  09:00AM                 12 name  with  spaces ", "name  with  spaces ", 12,
             false, utc(2024, 6, 15, 9, 0)},
        },
        listAtNow);
}

TEST(ListLines, LinesThatNameNoEntryOrCannotBeReadAreNotEntries)
{
    struct SkipRow {
        const char* line;
        LineResult result;
    };
    const std::vector<SkipRow> rows = {
        {"total 12", LineResult::Ignored},
        {"total 0", LineResult::Ignored},
        {"-rw-r--r--   1 ftp ftp 99999999999999999999 Jun 14 10:00 huge", LineResult::Malformed},
        {"-rw-r--r--   1 ftp ftp 10 Jum 14 10:00 bad-month", LineResult::Malformed},
        {"-rw-r--r--   1 ftp ftp 10 Jun 36 10:00 bad-day", LineResult::Malformed},
        {"-rw-r--r--   1 ftp ftp 10 Jun 14 30:00 bad-hour", LineResult::Malformed},
        {"-rw-r--r--   1 ftp ftp 10 Feb 30  2023 no-such-day", LineResult::Malformed},
        {"-rw-r--r--   1 ftp ftp 10 Jun 14 10:00", LineResult::Malformed},
        {"-rw-r--r--   1 ftp ftp 10 6\xe6\x9c\x88 14 10:00 chinese-month", LineResult::Malformed},
        {"13-05-22  04:20PM       <DIR>          bad-month", LineResult::Malformed},
        {"11-05-22  13:20PM       <DIR>          bad-hour", LineResult::Malformed},
        {"11-05-22  04:20XM       <DIR>          bad-meridiem", LineResult::Malformed},
        {"11-05-22  04:20PM       <FILE>         bad-size", LineResult::Malformed},
        {"11-05-22  04:20PM", LineResult::Malformed},
        {"garbage", LineResult::NotMine},
        {"Volume: SYS", LineResult::NotMine},
        // Other dialects: headers, and their lines broken.
        {"Directory DISK$USER:[HOME]", LineResult::Ignored},
        {"Total of 3 files, 19/27 blocks.", LineResult::Ignored},
        {"Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname", LineResult::Ignored},
        {" Name     VV.MM   Created       Changed      Size  Init   Mod   Id", LineResult::Ignored},
        {"File         Code             EOF  Last Modification    Owner  RWEP",
         LineResult::Ignored},
        {"+i8388621.44468,m839956783,\tno-type", LineResult::Ignored},  // EPLF: neither r nor /
        {"DATA.LIS;1   x/3   16-NOV-2001 21:27:51  [GROUP,OWNER]  (RWED,RWED,RWED,RE)",
         LineResult::Malformed},
        {"DATA.LIS;1   1/3   16-XYZ-2001 21:27:51  [GROUP,OWNER]  (RWED,RWED,RWED,RE)",
         LineResult::Malformed},
        {"d [R----F--] supervisor   512  Jam 16 18:53    login", LineResult::Malformed},
        {"QPGMR   135168 13/45/18 13:18:19 *STMF  bad-date", LineResult::Malformed},
        {"ALTERB          0   6526  23-Xyz-2011 13:37:29 255,255 NNNN", LineResult::Malformed},
    };
    for (const SkipRow& row : rows) {
        ListingEntry entry;
        EXPECT_EQ(parseListLine(row.line, kNow, entry), row.result) << row.line;
    }
}

TEST(Listings, WholeListingKeepsGoodEntriesAndCountsTheRest)
{
    const std::string listing = "total 3\r\n"
                                "-rw-r--r-- 1 u g 1 Jun 14 10:00 one\r\n"
                                "this line is noise\r\n"
                                "\r\n"
                                "-rw-r--r-- 1 u g 99999999999999999999 Jun 14 10:00 overflow\r\n"
                                "drwxr-xr-x 1 u g 0 Jun 14 10:00 two\n"
                                "-rw-r--r-- 1 u g 3 Jun 14 10:00 no line end";
    ListingStats stats;
    const auto entries = parseListing(listing, ListingFormat::List, kNow, stats);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "one");
    EXPECT_EQ(entries[1].name, "two");
    EXPECT_TRUE(entries[1].directory);
    EXPECT_EQ(entries[2].name, "no line end");
    EXPECT_EQ(stats.parsed, 3u);
    EXPECT_EQ(stats.ignored, 1u);
    EXPECT_EQ(stats.unparsed, 2u);
    EXPECT_EQ(stats.firstUnparsed, "this line is noise");
}

TEST(Listings, MlsdAndListNameOwnAndParentFoldersAlike)
{
    ListingStats stats;
    const auto mlsd = parseListing("type=cdir;modify=20200101000000; /pub\r\n"
                                   "type=pdir;modify=20200101000000; /\r\n"
                                   "type=file;size=3;modify=20200101000000; a\r\n"
                                   "broken\r\n",
                                   ListingFormat::Mlsd, kNow, stats);
    EXPECT_EQ(stats.unparsed, 1u);
    const auto list = parseListing("drwxr-xr-x 2 u g 0 Jan  1  2020 .\r\n"
                                   "drwxr-xr-x 9 u g 0 Jan  1  2020 ..\r\n"
                                   "-rw-r--r-- 1 u g 3 Jan  1  2020 a\r\n",
                                   ListingFormat::List, kNow, stats);
    ASSERT_EQ(mlsd.size(), 3u);
    ASSERT_EQ(list.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(mlsd[i].name, list[i].name);
        EXPECT_EQ(mlsd[i].directory, list[i].directory);
    }
    EXPECT_EQ(list[0].name, ".");
    EXPECT_EQ(list[1].name, "..");
}

// Dialects beyond Unix and DOS, with lines as their servers' documentation
// and peers' published test data show them.
TEST(ListLines, OtherDialects)
{
    expectRows(
        {
            // EPLF: a file and a folder; m is Unix seconds.
            {"+i8388621.48594,m825718503,r,s280,\tdjb.html", "djb.html", 280, false, 825718503},
            {"+i8388621.50690,m824255907,/,\t514", "514", 0, true, 824255907},
            // VMS: blocks of 512 bytes, the version dropped, folders are .DIR.
            {"1-JUN.LIS;1              9/9           2-JUN-1998 07:32:04  [GROUP,OWNER]    "
             "(RWED,RWED,RWED,RE)",
             "1-JUN.LIS", 9 * 512, false, utc(1998, 6, 2, 7, 32, 4)},
            {"DATA.DIR;1               1/3          16-NOV-2001 21:27:51  [GROUP,OWNER]    "
             "(RWED,RWED,RWED,RE)",
             "DATA", 512, true, utc(2001, 11, 16, 21, 27, 51)},
            {"README.TXT;12   3   7-Feb-2010 11:31:26  [SYSTEM]  (RWED,RWED,,)", "README.TXT",
             3 * 512, false, utc(2010, 2, 7, 11, 31, 26)},
            // IBM i (OS/400): owner, size, MM/DD/YY, time, object type, name.
            {"QPGMR           135168 04/03/18 13:18:19 *STMF      megaidx.txt", "megaidx.txt",
             135168, false, utc(2018, 4, 3, 13, 18, 19)},
            {"QSYS            77824 02/23/00 15:09:55 *DIR       QOpenSys/", "QOpenSys", 77824,
             true, utc(2000, 2, 23, 15, 9, 55)},
            // z/OS: a partitioned dataset (a folder), a sequential one, a member.
            {"SAVE00 3390   2004/06/23  1    1  FB     128  6144  PO  INCOMING.RPTBM025",
             "INCOMING.RPTBM025", 0, true, utc(2004, 6, 23)},
            {"SAVE01 3390   2004/06/23  1    1  FB     128  6144  PS  INCOMING.RPTBM024.D061704",
             "INCOMING.RPTBM024.D061704", 0, false, utc(2004, 6, 23)},
            {"TBSHELF   01.03 2002/09/12 2002/10/11 09:37    11    11     0 KIL001", "TBSHELF", 0,
             false, utc(2002, 10, 11, 9, 37)},
            // NetWare: type, rights, owner, size, a Unix date.
            {"d [R----F--] supervisor            512       Jan 16 18:53    login", "login", 512,
             true, utc(2024, 1, 16, 18, 53)},
            {"- [RWCEAFMS] rhiggins             108       Mar 07  2023    my report.txt",
             "my report.txt", 108, false, utc(2023, 3, 7)},
            // OS/2: size, attributes or DIR, MM-DD-YY, time, name.
            {"     0           DIR   05-12-97   16:44  PSFONTS", "PSFONTS", 0, true,
             utc(1997, 5, 12, 16, 44)},
            {"36611      A          05-12-97   16:44  PERSON.PDF", "PERSON.PDF", 36611, false,
             utc(1997, 5, 12, 16, 44)},
            // Tandem (NonStop): name, code, EOF (bytes), date, time, owner, rights.
            {"ALTERB          0            6526  23-Mar-2011 13:37:29 255,255 NNNN", "ALTERB", 6526,
             false, utc(2011, 3, 23, 13, 37, 29)},
            // IIS in 24-hour DOS form, and Unix forms met in the field.
            {"11-05-2022  16:20       <DIR>          Reports", "Reports", 0, true,
             utc(2022, 11, 5, 16, 20)},
            {"-rw-r--r--+  1 alice staff  10 Jun 14 10:00 acl.txt", "acl.txt", 10, false,
             utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--@  1 alice staff  10 Jun 14 10:00 xattr.txt", "xattr.txt", 10, false,
             utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 1001 1001     10 Jun 14 10:00 numeric.txt", "numeric.txt", 10, false,
             utc(2024, 6, 14, 10, 0)},
            {"-rw-r--r--   1 John Smith  Domain Users  10 Jun 14 10:00 spaced owner.txt",
             "spaced owner.txt", 10, false, utc(2024, 6, 14, 10, 0)},
        },
        listAtNow);
}

TEST(Listings, AVmsNameOnALineOfItsOwnJoinsItsDetails)
{
    ListingStats stats;
    const auto entries = parseListing(
        "Directory DISK$USER:[HOME]\r\n\r\n"
        "A-VERY-LONG-NAME-THAT-TAKES-THE-WHOLE-COLUMN.TXT;3\r\n"
        "                        5/9          16-NOV-2001 21:27:51  [GROUP,OWNER]  "
        "(RWED,RWED,RWED,RE)\r\n"
        "SHORT.TXT;1   1/3   16-NOV-2001 21:27:51  [GROUP,OWNER]  (RWED,RWED,RWED,RE)\r\n"
        "Total of 2 files, 6/12 blocks.\r\n",
        ListingFormat::List, kNow, stats);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "A-VERY-LONG-NAME-THAT-TAKES-THE-WHOLE-COLUMN.TXT");
    EXPECT_EQ(entries[0].size, 5u * 512);
    EXPECT_EQ(entries[1].name, "SHORT.TXT");
    EXPECT_EQ(stats.unparsed, 0u);
    EXPECT_EQ(stats.ignored, 2u);
}

// A yearless date is placed in the server's own clock (`now` moved by its
// zone): across New Year, with the server ten hours behind UTC or fourteen
// ahead, a file written a minute before the server's "now" keeps its year.
TEST(ListLines, YearlessDatesAcrossNewYearInTheServersZone)
{
    for (const int zoneHours : {-10, 14}) {
        const std::int64_t zone = zoneHours * 3600;
        for (std::int64_t utcNow = utc(2026, 12, 30); utcNow <= utc(2027, 1, 3); utcNow += 1800) {
            const std::int64_t serverNow = utcNow + zone;  // its wall clock, read as UTC
            const CivilTime written = civilFromUnixSeconds(serverNow - 60);
            char line[96];
            static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
            std::snprintf(line, sizeof line, "-rw-r--r-- 1 u g 1 %s %2d %02d:%02d f",
                          kMonths[written.month - 1], written.day, written.hour, written.minute);
            ListingEntry entry;
            ASSERT_EQ(parseListLine(line, serverNow, entry), LineResult::Parsed) << line;
            EXPECT_EQ(civilFromUnixSeconds(*entry.modified).year, written.year)
                << line << " at UTC " << utcNow << " in UTC" << zoneHours;
            EXPECT_TRUE(entry.timeOfDay);
        }
    }
}

}  // namespace
