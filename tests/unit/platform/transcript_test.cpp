#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/transcript.h"

using quorvane::trace::escape;

namespace {

TEST(Transcript, ServerBytesAreEscapedAndCut)
{
    struct Row {
        std::string raw;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"550 No such file", "550 No such file"},
        {"550 caf\xc3\xa9 \xe6\x96\x87", "550 caf\xc3\xa9 \xe6\x96\x87"},  // UTF-8 as it is
        {"a\r\n220 forged", "a\\x0D\\x0A220 forged"},  // no forged lines
        {"\x1b[31mred\x07", "\\x1B[31mred\\x07"},  // no terminal codes
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"back\\slash", "back\\\\slash"},
        {"del\x7f", "del\\x7F"},
        {"lone \xff byte", "lone \\xFF byte"},
        {"cut \xc3", "cut \\xC3"},
        {"nel\xc2\x85", "nel\\xC2\\x85"},  // C1
        {"ls\xe2\x80\xa8ps\xe2\x80\xa9", "ls\\xE2\\x80\\xA8ps\\xE2\\x80\\xA9"},  // U+2028/9
        {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},
        // Format characters would reorder or hide what is read.
        {"a\xe2\x80\xaetxt.exe", "a\\xE2\\x80\\xAEtxt.exe"},  // U+202E
        {"zero\xe2\x80\x8bwidth", "zero\\xE2\\x80\\x8Bwidth"},  // U+200B
        {"\xef\xbb\xbf"
         "bom",
         "\\xEF\\xBB\\xBF"
         "bom"},  // U+FEFF
        {"soft\xc2\xadhyphen", "soft\\xC2\\xADhyphen"},  // U+00AD
        {"isolate\xe2\x81\xa6", "isolate\\xE2\\x81\\xA6"},  // U+2066
        {"tag\xf3\xa0\x81\x81", "tag\\xF3\\xA0\\x81\\x81"},  // U+E0041
        {"\xf0\x9f\x98\x80 \xe2\x82\xac \xd7\x90", "\xf0\x9f\x98\x80 \xe2\x82\xac \xd7\x90"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(escape(row.raw), row.shown) << row.shown;
    EXPECT_EQ(escape(std::string(1000, 'x'), 300),
              std::string(300, 'x') + " [cut: 700 more bytes]");
    EXPECT_EQ(escape("short", 300), "short");
}

}  // namespace
