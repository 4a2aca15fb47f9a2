// SPDX-License-Identifier: MIT
// What a transfer reads of a remote file before its first byte and after a
// break (SIZE, MDTM, MLST, digests), and the rules that decide whether the
// server's file is still the same one, or provably another.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "posix/client/file_identity.h"
#include "posix/wire/digest_reply.h"
#include "posix/wire/file_facts.h"

using namespace quorvane::client;

namespace {

Reply reply(int code, std::string text) { return Reply{code, std::move(text)}; }

TEST(FileFacts, RefusedUnreadableOrAValue)
{
    using Kind = Answer<std::uint64_t>::Kind;
    struct Row {
        Reply reply;
        Kind size;
        Kind time;
    };
    const std::vector<Row> rows = {
        {reply(213, "213 1234"), Kind::Value, Kind::Unreadable},
        {reply(213, "213 20261209064137"), Kind::Value, Kind::Value},
        {reply(213, "213 20261209064137.123"), Kind::Unreadable, Kind::Value},
        // "213 1234 bytes" is no refusal, and says no size either.
        {reply(213, "213 1234 bytes"), Kind::Unreadable, Kind::Unreadable},
        {reply(213, "213 "), Kind::Unreadable, Kind::Unreadable},
        {reply(213, "213 2026120906413"), Kind::Value, Kind::Unreadable},  // 13 digits
        {reply(213, "213 99999999999999999999"), Kind::Unreadable, Kind::Unreadable},
        {reply(550, "550 No such file"), Kind::Refused, Kind::Refused},
        {reply(502, "502 not implemented"), Kind::Refused, Kind::Refused},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parseSizeReply(row.reply).kind, row.size) << row.reply.text;
        EXPECT_EQ(static_cast<int>(parseMdtmReply(row.reply).kind), static_cast<int>(row.time))
            << row.reply.text;
    }
    EXPECT_EQ(parseSizeReply(reply(213, "213 5368709120")).value, 5368709120u);
}

TEST(FileFacts, MlstGivesTheFactsOfItsOneLine)
{
    const auto proftpd = parseMlstReply(
        reply(250, "250-Start of list for f.txt\n modify=20261209064137;perm=adfrw;size=12;"
                   "type=file;unique=FE00UA72183; /f.txt\n250 End of list"));
    ASSERT_TRUE(proftpd.has());
    EXPECT_EQ(proftpd.value.size, 12u);
    EXPECT_EQ(proftpd.value.modified, "20261209064137");
    EXPECT_TRUE(proftpd.value.isFile);
    const auto folder =
        parseMlstReply(reply(250, "250-Listing d\n Type=dir;Modify=20260101000000; d\n250 End"));
    ASSERT_TRUE(folder.has());
    EXPECT_FALSE(folder.value.isFile);
    for (const char* broken : {"250-Listing f\n size=12x;type=file; f\n250 End",
                               "250-Listing f\n modify=2026;type=file; f\n250 End", "250 End"})
        EXPECT_EQ(parseMlstReply(reply(250, broken)).kind, Answer<FileFacts>::Kind::Unreadable)
            << broken;
    EXPECT_EQ(parseMlstReply(reply(550, "550 'x' cannot be listed")).kind,
              Answer<FileFacts>::Kind::Refused);
}

TEST(Digests, ChosenStrongestFirstAndReadInTheAlgorithmTheyName)
{
    DigestFeatures proftpd;
    readDigestFeature("HASH CRC32;MD5;SHA-1*;SHA-256;SHA-512;", proftpd);
    readDigestFeature("XSHA256", proftpd);
    readDigestFeature("MDTM", proftpd);
    const auto chosen = chooseDigest(proftpd);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->verb, "HASH");
    EXPECT_EQ(chosen->select, "OPTS HASH SHA-256");  // SHA-1 is the current one
    const std::string hex(64, 'a');
    const auto read = [&](int code, const std::string& text) {
        const auto digest = parseDigestReply(reply(code, text), *chosen);
        return digest ? std::string(nameOf(digest->algorithm)) + " " + digest->hex : "none";
    };
    EXPECT_EQ(read(213, "213-Computing\n213 SHA-256 0-12 " + hex + " f.txt"), "SHA-256 " + hex);
    EXPECT_EQ(read(213, "213 SHA-256 0-12 " + hex + " a name with blanks"), "SHA-256 " + hex);
    // A server that answers in another algorithm than the one selected is
    // taken at its word: the reply names it.
    EXPECT_EQ(read(213, "213 sha-1 0-12 " + std::string(40, 'A') + " f.txt"),
              "SHA-1 " + std::string(40, 'a'));
    for (const std::string& wrong : std::vector<std::string>{
             "213 SHA-1 0-12 " + hex + " f.txt",  // not SHA-1's length
             "213 SHA-3 0-12 " + hex + " f.txt",  // not one we compute
             "213 SHA-256 5-12 " + hex + " f.txt",  // not from the start
             "213 SHA-256 0-12 " + hex.substr(1) + "g f.txt", std::string("504 no such algorithm")})
        EXPECT_EQ(read(std::stoi(wrong.substr(0, 3)), wrong), "none") << wrong;

    DigestFeatures older;
    readDigestFeature("XMD5", older);
    readDigestFeature("XCRC", older);
    const auto md5 = chooseDigest(older);
    ASSERT_TRUE(md5);
    EXPECT_EQ(md5->verb, "XMD5");
    const auto fromXmd5 = parseDigestReply(reply(250, "250 " + std::string(32, 'A')), *md5);
    ASSERT_TRUE(fromXmd5);
    EXPECT_EQ(fromXmd5->hex, std::string(32, 'a'));
    EXPECT_EQ(fromXmd5->algorithm, DigestAlgorithm::Md5);
    EXPECT_FALSE(chooseDigest(DigestFeatures{}));
}

TEST(FileIdentity, SameOrProvablyChanged)
{
    using Presence = FileIdentity::Presence;
    const FileIdentity absent{Presence::Absent, {}, {}};
    const FileIdentity unknown{};
    const FileIdentity old{Presence::Present, 100, "20260101000000"};
    const FileIdentity sizeOnly{Presence::Present, 100, ""};
    struct Row {
        FileIdentity before;
        FileIdentity now;
        bool same;
        bool changed;
    };
    const std::vector<Row> rows = {
        {old, old, true, false},
        {old, FileIdentity{Presence::Present, 100, "20260101000001"}, false, true},
        {old, FileIdentity{Presence::Present, 101, "20260101000000"}, false, true},
        {old, FileIdentity{Presence::Present, {}, "20260101000000"}, true, false},
        // Without a time, the same size proves nothing either way.
        {sizeOnly, sizeOnly, false, false},
        {sizeOnly, FileIdentity{Presence::Present, 200, ""}, false, true},
        {absent, old, false, true},
        {absent, absent, false, false},
        {unknown, old, false, false},
        {old, absent, false, false},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(isSameFile(rows[i].before, rows[i].now), rows[i].same) << "row " << i;
        EXPECT_EQ(hasChangedFrom(rows[i].before, rows[i].now), rows[i].changed) << "row " << i;
    }
}

TEST(FileIdentity, AskedWithMlstElseSizeAndMdtm)
{
    ServerFeatures mlsd;
    mlsd.mlst = mlsd.size = mlsd.mdtm = true;
    EXPECT_EQ(identityCommands(mlsd, "f"), std::vector<std::string>{"MLST f"});
    ServerFeatures vsftpd;
    vsftpd.size = vsftpd.mdtm = true;
    EXPECT_EQ(identityCommands(vsftpd, "f"), (std::vector<std::string>{"SIZE f", "MDTM f"}));
    EXPECT_TRUE(identityCommands(ServerFeatures{}, "f").empty());

    const FileIdentity present =
        identityFrom(vsftpd, {reply(213, "213 12"), reply(213, "213 20260101000000")});
    EXPECT_TRUE(present.isStrong());
    EXPECT_EQ(present.size, 12u);
    const FileIdentity gone = identityFrom(
        vsftpd, {reply(550, "550 Could not get file size."), reply(550, "550 no such file")});
    EXPECT_EQ(gone.presence, FileIdentity::Presence::Absent);
    // A refusal other than "no such file" says nothing.
    EXPECT_EQ(identityFrom(mlsd, {reply(500, "500 MLST not understood")}).presence,
              FileIdentity::Presence::Unknown);
}

}  // namespace
