// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "posix/wire/reply_fit.h"

using quorvane::client::canAnswer;

namespace {

struct Row {
    const char* command;
    int code;
    bool fits;
};

// Replies a server that answers out of turn gives (aioftp answers an
// unknown command at once, ahead of the ones it is still running).
TEST(ReplyFit, APositiveReplyFitsOnlyTheCommandsThatGiveIt)
{
    const Row rows[] = {
        {"FEAT", 211, true},       {"FEAT", 200, false},        {"FEAT", 502, true},
        {"TYPE I", 200, true},     {"TYPE I", 230, false},      {"TYPE I", 502, true},
        {"PASS x", 230, true},     {"PASS x", 202, true},       {"PASS x", 332, true},
        {"PASS x", 200, false},    {"PASS x", 530, true},       {"USER u", 331, true},
        {"MLST a.txt", 250, true}, {"MLST a.txt", 229, false},  {"MLST a.txt", 550, true},
        {"EPSV", 229, true},       {"EPSV", 250, false},        {"PASV", 227, true},
        {"PASV", 229, false},      {"SIZE a", 213, true},       {"SIZE a", 200, false},
        {"MDTM a", 213, true},     {"OPTS UTF8 ON", 202, true}, {"OPTS UTF8 ON", 331, false},
        {"PBSZ 0", 200, true},     {"PROT P", 200, true},       {"PROT P", 421, true},
        {"HASH a", 213, true},     {"HASH a", 250, false},      {"XCRC a", 250, true},
        {"feat", 200, false},      {"RETR a", 150, false},      {"NOOP", 200, true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(canAnswer(row.command, row.code), row.fits) << row.command << " " << row.code;
}

}  // namespace
