#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "posix/wininet/file_times.h"
#include "ftp/session.h"

using quorvane::client::CivilTime;

namespace {

const std::u16string kListing = u"\\FTPFolder.txt";

WIN32_FIND_DATAW entry(const std::u16string& name, unsigned long long size, CivilTime utc)
{
    WIN32_FIND_DATAW data{};
    name.copy(data.cFileName, name.size());
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    data.ftLastWriteTime =
        *quorvane::client::fileTimeOfUnixSeconds(*quorvane::client::unixSecondsOf(utc));
    return data;
}

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gFTPSession = {};
        fakePlatform().reset();
        ASSERT_EQ(FTPServerLogIn(u"server", u"user", u"password"), FTP_RESULT_OK);
    }

    static FakePlatform& fake() { return fakePlatform(); }

    static FTPResult list(const char16_t* folder = u"/pub")
    {
        return FTPServerFiles(nullptr, nullptr, nullptr, folder);
    }

    static std::u16string listingFile() { return fake().files.at(kListing); }

    // Only the listing may be left: no temporary file beside it.
    static void expectOnlyTheListingFile()
    {
        EXPECT_EQ(fake().files.size(), 1u);
        EXPECT_EQ(fake().files.count(kListing), 1u);
    }
};

TEST_F(ListingTest, ExampleRecordsAreWrittenAsThreeLines)
{
    fake().entries = {entry(u"a.txt", 512, {2009, 3, 7, 14, 5, 9}),
                      entry(u"b.log", 0, {2010, 1, 1, 8, 3, 9})};
    ASSERT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(listingFile(), u"a.txt\n 512    \n03/07/2009  14:05:09\n"
                             u"b.log\n 0    \n01/01/2010  08:03:09\n");
    expectOnlyTheListingFile();
}

TEST_F(ListingTest, EachLineIsItsTextThenItsLineEndInTwoWrites)
{
    fake().entries = {entry(u"a.txt", 512, {2009, 3, 7, 14, 5, 9})};
    ASSERT_EQ(list(), FTP_RESULT_OK);
    ASSERT_EQ(fake().writes.size(), 6u);
    const std::vector<std::pair<std::u16string, bool>> expected = {{u"a.txt", false},
                                                                   {u"\n", false},
                                                                   {u" 512    ", true},
                                                                   {u"\n", false},
                                                                   {u"03/07/2009  14:05:09", true},
                                                                   {u"\n", false}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fake().writes[i].text, expected[i].first) << "write " << i;
        EXPECT_EQ(fake().writes[i].formatted, expected[i].second) << "write " << i;
    }
    EXPECT_EQ(fake().openModes, std::vector<std::u16string>{u"w"});
}

TEST_F(ListingTest, TimesAreConvertedFromUtcToLocalTime)
{
    fake().localOffsetSeconds = -5 * 3600;
    fake().entries = {entry(u"a.txt", 1, {2010, 1, 1, 3, 0, 0})};
    ASSERT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(listingFile(), u"a.txt\n 1    \n12/31/2009  22:00:00\n");
    ASSERT_EQ(fake().convertedTimes.size(), 1u);
    EXPECT_EQ(quorvane::client::ticksOf(fake().convertedTimes[0]),
              quorvane::client::ticksOf(fake().entries[0].ftLastWriteTime));
}

TEST_F(ListingTest, SizesAtAndPastTwoAndFourGibAreWrittenInFull)
{
    const CivilTime time{2020, 2, 29, 23, 59, 59};
    fake().entries = {entry(u"a", 2147483647ull, time), entry(u"b", 2147483648ull, time),
                      entry(u"c", 4294967295ull, time), entry(u"d", 4294967296ull, time),
                      entry(u"e", 5368709120ull, time)};
    ASSERT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(listingFile(), u"a\n 2147483647    \n02/29/2020  23:59:59\n"
                             u"b\n 2147483648    \n02/29/2020  23:59:59\n"
                             u"c\n 4294967295    \n02/29/2020  23:59:59\n"
                             u"d\n 4294967296    \n02/29/2020  23:59:59\n"
                             u"e\n 5368709120    \n02/29/2020  23:59:59\n");
}

TEST_F(ListingTest, LongestAndNonAsciiNamesAreWrittenWhole)
{
    const std::u16string longest(259, u'n');
    const std::u16string foreign = u"caf\u00e9 \u6587\u4ef6 \U0001F600";
    fake().entries = {entry(longest, 1, {2001, 9, 9, 1, 46, 40}),
                      entry(foreign, 2, {2001, 9, 9, 1, 46, 40})};
    ASSERT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(fake().writes[0].text, longest);
    EXPECT_EQ(fake().writes[6].text, foreign);
}

TEST_F(ListingTest, FolderChangeAndSearchGetTheFixedArguments)
{
    fake().entries = {entry(u"a.txt", 1, {2009, 3, 7, 14, 5, 9})};
    ASSERT_EQ(list(u"/some/folder"), FTP_RESULT_OK);
    ASSERT_EQ(fake().ftpCalls.size(), 1u);
    EXPECT_EQ(fake().ftpCalls[0].operation, "FtpSetCurrentDirectoryW");
    EXPECT_EQ(fake().ftpCalls[0].connect, gFTPSession.hConnect);
    EXPECT_EQ(std::u16string(fake().ftpCalls[0].first), u"/some/folder");
    ASSERT_EQ(fake().findFirsts.size(), 1u);
    EXPECT_EQ(fake().findFirsts[0].connect, gFTPSession.hConnect);
    EXPECT_EQ(fake().findFirsts[0].pattern, u"*.*");
    EXPECT_EQ(fake().findFirsts[0].context, 0u);
    EXPECT_TRUE(fake().openSearches.empty()) << "the search handle was not closed";
}

TEST_F(ListingTest, TheFirstThreeArgumentsAreNeverRead)
{
    fake().entries = {entry(u"a.txt", 512, {2009, 3, 7, 14, 5, 9})};
    ASSERT_EQ(list(), FTP_RESULT_OK);
    const std::u16string plain = listingFile();
    // Pointers that would crash if anything read through them.
    const auto* poison = reinterpret_cast<const void*>(std::uintptr_t{0x10});
    EXPECT_EQ(FTPServerFiles(poison, poison, poison, u"/pub"), FTP_RESULT_OK);
    EXPECT_EQ(listingFile(), plain);
}

TEST_F(ListingTest, RefusedFolderGivesThreeAndTouchesNoFile)
{
    fake().files[kListing] = u"previous listing";
    fake().commandSucceeds = false;
    EXPECT_EQ(list(), FTP_RESULT_NO_FOLDER);
    EXPECT_TRUE(fake().openModes.empty());
    EXPECT_TRUE(fake().findFirsts.empty());
    EXPECT_EQ(listingFile(), u"previous listing");
}

TEST_F(ListingTest, ClosedSessionGivesThree)
{
    FTPServerLogOut();
    EXPECT_EQ(list(), FTP_RESULT_NO_FOLDER);
    EXPECT_EQ(fake().ftpCalls.back().connect, nullptr);
}

TEST_F(ListingTest, EmptyFolderGivesAnEmptyListingAnd999)
{
    fake().files[kListing] = u"previous listing";
    EXPECT_EQ(list(), FTP_RESULT_OK);
    EXPECT_EQ(listingFile(), u"");
    expectOnlyTheListingFile();
}

TEST_F(ListingTest, FailedSearchGivesTwoAndKeepsThePreviousListing)
{
    fake().files[kListing] = u"previous listing";
    fake().searchEndError = ERROR_INTERNET_CONNECTION_ABORTED;
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_EQ(listingFile(), u"previous listing");
    expectOnlyTheListingFile();
}

TEST_F(ListingTest, SearchBreakingOffGivesTwoAndKeepsThePreviousListing)
{
    fake().files[kListing] = u"previous listing";
    fake().entries = {entry(u"a.txt", 1, {2009, 3, 7, 14, 5, 9}),
                      entry(u"b.txt", 1, {2009, 3, 7, 14, 5, 9})};
    fake().searchEndError = ERROR_INTERNET_TIMEOUT;
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_EQ(listingFile(), u"previous listing");
    expectOnlyTheListingFile();
    EXPECT_TRUE(fake().openSearches.empty());
}

TEST_F(ListingTest, ListingFileThatCannotBeCreatedGivesTwoBeforeAnySearch)
{
    fake().streamOpenSucceeds = false;
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_TRUE(fake().findFirsts.empty());
}

TEST_F(ListingTest, FailedWritesGiveTwoAndKeepThePreviousListing)
{
    fake().files[kListing] = u"previous listing";
    fake().entries = {entry(u"a.txt", 1, {2009, 3, 7, 14, 5, 9}),
                      entry(u"b.txt", 2, {2009, 3, 7, 14, 5, 9})};
    fake().streamWritesFail = true;
    EXPECT_EQ(list(), FTP_RESULT_FAILED);
    EXPECT_EQ(listingFile(), u"previous listing");
    expectOnlyTheListingFile();
    // The first failed write ends the listing: the search is closed at once.
    EXPECT_EQ(fake().writes.size(), 1u);
    EXPECT_EQ(fake().findFirsts.size(), 1u);
    EXPECT_TRUE(fake().openSearches.empty());
}

TEST_F(ListingTest, ASecondListingHoldsOnlyItsOwnEntries)
{
    fake().entries = {entry(u"first.txt", 1, {2009, 3, 7, 14, 5, 9}),
                      entry(u"second.txt", 2, {2009, 3, 7, 14, 5, 9})};
    ASSERT_EQ(list(u"/one"), FTP_RESULT_OK);
    fake().entries = {entry(u"third.txt", 3, {2011, 12, 31, 23, 59, 58})};
    ASSERT_EQ(list(u"/two"), FTP_RESULT_OK);
    EXPECT_EQ(listingFile(), u"third.txt\n 3    \n12/31/2011  23:59:58\n");
    expectOnlyTheListingFile();
}

}  // namespace
