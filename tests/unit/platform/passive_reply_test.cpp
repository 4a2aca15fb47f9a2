#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "posix/wire/passive_reply.h"

using namespace quorvane::client;

namespace {

struct PortRow {
    const char* reply;
    std::optional<std::uint16_t> port;
};

TEST(PasvReply, PortIsTakenFromTheFirstSixBoundedNumbers)
{
    const std::vector<PortRow> rows = {
        {"227 Entering Passive Mode (127,0,0,1,4,1)", 1025},
        {"227 Entering Passive Mode (127,0,0,1,4,1).", 1025},
        {"227 Entering Passive Mode 127,0,0,1,255,255", 65535},
        {"227 =10,9,9,9,200,10", 51210},  // the host is never used
        {"227 Passive (h1,h2) 192,168,0,1,0,21", 21},  // numbers later in the text
        {"227 Entering Passive Mode (127,0,0,1,300,1)", std::nullopt},
        {"227 Entering Passive Mode (127,0,0,1,4,256)", std::nullopt},
        {"227 Entering Passive Mode (127,0,0,1,0,0)", std::nullopt},  // port 0
        {"227 Entering Passive Mode (127,0,0,1,4)", std::nullopt},
        {"227 Entering Passive Mode (127,0,0,1,4,1000)", std::nullopt},
        {"227 Entering Passive Mode (1270,0,0,1,4,1)", std::nullopt},
        {"227 Entering Passive Mode", std::nullopt},
        {"227 Entering Passive Mode (,,,,,)", std::nullopt},
        {"227", std::nullopt},
        {"", std::nullopt},
    };
    for (const PortRow& row : rows)
        EXPECT_EQ(parsePasvPort(row.reply), row.port) << row.reply;
}

TEST(EpsvReply, PortIsTakenBetweenRepeatedDelimiters)
{
    const std::vector<PortRow> rows = {
        {"229 Entering Extended Passive Mode (|||6446|)", 6446},
        {"229 Entering Extended Passive Mode (!!!65535!)", 65535},
        {"229 ok (|||1|)", 1},
        {"229 Entering Extended Passive Mode (|||0|)", std::nullopt},
        {"229 Entering Extended Passive Mode (|||65536|)", std::nullopt},
        {"229 Entering Extended Passive Mode (|||1000000|)", std::nullopt},
        {"229 Entering Extended Passive Mode (||6446|)", std::nullopt},
        {"229 Entering Extended Passive Mode (|||6446)", std::nullopt},
        {"229 Entering Extended Passive Mode (|||6446|", std::nullopt},
        {"229 Entering Extended Passive Mode (|1|2|6446|)", std::nullopt},
        {"229 Entering Extended Passive Mode (111644461)", std::nullopt},
        {"229 Entering Extended Passive Mode (|||-1|)", std::nullopt},
        {"229 Entering Extended Passive Mode", std::nullopt},
    };
    for (const PortRow& row : rows)
        EXPECT_EQ(parseEpsvPort(row.reply), row.port) << row.reply;
}

TEST(AnnouncedSize, ReadOnlyFromTheEndWhereServersPutIt)
{
    struct SizeRow {
        const char* reply;
        const char* name;
        std::optional<std::uint64_t> size;
    };
    const std::vector<SizeRow> rows = {
        {"150 Opening BINARY mode data connection for f (1234 bytes)", "f", 1234},
        {"150 Opening BINARY mode data connection for f (1234 bytes).", "f", 1234},  // vsftpd
        {"150 Opening data connection (0 bytes)", "f", 0},
        {"150 Opening (5368709120 bytes)", "f", 5368709120ull},
        {"150-Accepted data connection\n150 Opening for f (12 bytes)", "f", 12},
        {"150 Opening for x (5 bytes) (7 bytes).", "x (5 bytes)", 7},
        // A name that looks like a count, echoed by a server that gives none.
        {"150 Opening BINARY mode data connection for x (5 bytes)", "x (5 bytes)", std::nullopt},
        {"150 Opening BINARY mode data connection for x (5 bytes).", "x (5 bytes)", std::nullopt},
        {"150 Opening for /d/x (5 bytes)", "/d/x (5 bytes)", std::nullopt},
        // A count that is not last is not where servers put it.
        {"150 Opening (5 bytes) for f", "f", std::nullopt},
        {"150 Opening (5 bytes)\n150 for f", "f", std::nullopt},
        {"150 Opening BINARY mode data connection for f", "f", std::nullopt},
        {"150 Opening (bytes)", "f", std::nullopt},
        {"150 Opening (12a4 bytes)", "f", std::nullopt},
        {"150 Opening x(12 bytes)", "f", std::nullopt},
        {"150 Opening (99999999999999999999 bytes)", "f", std::nullopt},  // past 64 bits
    };
    for (const SizeRow& row : rows)
        EXPECT_EQ(parseAnnouncedSize(row.reply, row.name), row.size) << row.reply;
}

}  // namespace
