#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/utf.h"

using namespace quorvane::text;

namespace {

struct Pair {
    const char* name;
    std::u16string utf16;
    std::string utf8;
};

TEST(Utf, WellFormedTextConvertsBothWays)
{
    const std::vector<Pair> rows = {
        {"empty", u"", ""},
        {"ASCII", u"report.txt", "report.txt"},
        {"accents", u"caf\u00e9 \u00fcber",
         "caf\xc3\xa9 \xc3\xbc"
         "ber"},
        {"CJK", u"\u6587\u4ef6", "\xe6\x96\x87\xe4\xbb\xb6"},
        {"outside the BMP", u"\U0001F600.png", "\xf0\x9f\x98\x80.png"},
        {"highest code point", u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
    };
    for (const Pair& row : rows) {
        EXPECT_EQ(toUtf8(row.utf16), row.utf8) << row.name;
        EXPECT_EQ(toUtf16(row.utf8), row.utf16) << row.name;
        EXPECT_EQ(toUtf16Lossy(row.utf8), row.utf16) << row.name;
        std::string appended = "kept ";
        EXPECT_TRUE(appendUtf8(appended, row.utf16)) << row.name;
        EXPECT_EQ(appended, "kept " + row.utf8) << row.name;
    }
}

TEST(Utf, LossyConversionReplacesEachIllFormedByteAndCountsWhatDidNotFit)
{
    struct Row {
        std::string utf8;
        std::u16string utf16;
    };
    const std::vector<Row> rows = {
        {"a\xff"
         "b",
         u"a\uFFFDb"},
        {"\xe6\x96"
         ".txt",
         u"\uFFFD\uFFFD.txt"},  // a cut sequence: each byte
        {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
        {"\xf0\x9f\x98\x80!", u"\U0001F600!"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(toUtf16Lossy(row.utf8), row.utf16);
        char16_t buffer[8] = {};
        ASSERT_EQ(copyUtf16Lossy(row.utf8, buffer, 8), row.utf16.size());
        EXPECT_EQ(std::u16string(buffer, row.utf16.size()), row.utf16);
    }
    // Bounded: nothing written past the capacity, the whole length told.
    char16_t small[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(copyUtf16Lossy("abcdef", small, 3), 6u);
    EXPECT_EQ(std::u16string(small, 4), u"abcx");
    EXPECT_EQ(copyUtf16Lossy("\xf0\x9f\x98\x80", nullptr, 0), 2u);
}

TEST(Utf, UnpairedSurrogatesAreRefused)
{
    const std::vector<std::u16string> rows = {
        {u'a', char16_t(0xD800)},
        {char16_t(0xDC00), u'a'},
        {char16_t(0xDC00), char16_t(0xD800)},
        {char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
    };
    for (const auto& row : rows)
        EXPECT_FALSE(toUtf8(row).has_value());
}

TEST(Utf, IllFormedUtf8IsRefused)
{
    const std::vector<std::string> rows = {
        "\xc0\x80",  // overlong NUL
        "\xe0\x80\xaf",  // overlong '/'
        "\xed\xa0\x80",  // an encoded surrogate
        "\xf4\x90\x80\x80",  // past U+10FFFF
        "\xe6\x96",  // truncated
        "\x80",  // stray continuation byte
        "\xff",
    };
    for (const auto& row : rows)
        EXPECT_FALSE(toUtf16(row).has_value()) << row.size();
}

TEST(Utf, ControlCharactersAreFound)
{
    EXPECT_TRUE(hasControlCharacter("a\rb"));
    EXPECT_TRUE(hasControlCharacter("a\nb"));
    EXPECT_TRUE(hasControlCharacter(std::string("a\0b", 3)));
    EXPECT_TRUE(hasControlCharacter("tab\there"));
    EXPECT_TRUE(hasControlCharacter("\x1f"));
    EXPECT_FALSE(hasControlCharacter("plain name with spaces"));
    EXPECT_FALSE(hasControlCharacter("caf\xc3\xa9\x7f"));
}

TEST(Utf, UnicodeLineBreaksCountAsControlCharacters)
{
    EXPECT_TRUE(hasControlCharacter("next\xc2\x85line"));  // U+0085 NEL
    EXPECT_TRUE(hasControlCharacter("c1\xc2\x80"));  // U+0080
    EXPECT_TRUE(hasControlCharacter("c1\xc2\x9f"));  // U+009F
    EXPECT_TRUE(hasControlCharacter("line\xe2\x80\xa8sep"));  // U+2028
    EXPECT_TRUE(hasControlCharacter("para\xe2\x80\xa9sep"));  // U+2029
    EXPECT_FALSE(hasControlCharacter("nbsp\xc2\xa0 and \xc2\xa9"));  // U+00A0, U+00A9
    EXPECT_FALSE(hasControlCharacter("dash\xe2\x80\x94 and \xe2\x80\xaf"));  // U+2014, U+202F
    EXPECT_FALSE(hasControlCharacter("lone \x85 byte"));  // not UTF-8: becomes U+FFFD
}

TEST(Utf, NullPointerIsAnEmptyView)
{
    EXPECT_TRUE(wideView(nullptr).empty());
    EXPECT_EQ(wideView(u"abc"), u"abc");
}

}  // namespace
