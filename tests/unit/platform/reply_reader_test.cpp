#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "posix/wire/reply_reader.h"

using quorvane::client::Reply;
using quorvane::client::ReplyReader;
using Status = ReplyReader::Status;

namespace {

struct Expected {
    Status status;
    int code = 0;
    std::string text;
};

struct Row {
    const char* name;
    std::string input;
    std::vector<Expected> replies;  // in order; then NeedMore unless the last is an error
};

std::string repeat(const std::string& text, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

const std::vector<Row>& rows()
{
    static const std::vector<Row> table = {
        {"single line", "220 Service ready\r\n", {{Status::Ready, 220, "220 Service ready"}}},
        {"bare LF", "200 ok\n", {{Status::Ready, 200, "200 ok"}}},
        {"code alone", "200\r\n", {{Status::Ready, 200, "200"}}},
        {"incomplete line waits", "220 Serv", {}},
        {"multi-line",
         "230-Welcome\r\n to the server\r\n230 Logged in\r\n",
         {{Status::Ready, 230, "230-Welcome\n to the server\n230 Logged in"}}},
        {"inner lines that look like ends",
         "211-Features:\r\n220 not the end\r\n211-still going\r\n211x nor this\r\n 211 "
         "indented\r\n211 End\r\n",
         {{Status::Ready, 211,
           "211-Features:\n220 not the end\n211-still going\n211x nor this\n 211 indented\n211 "
           "End"}}},
        {"multi-line ended by the bare code",
         "221-Goodbye\r\n221\r\n",
         {{Status::Ready, 221, "221-Goodbye\n221"}}},
        {"unfinished multi-line waits", "230-Welcome\r\n230-more\r\n", {}},
        {"two replies coalesced",
         "150 Opening data connection\r\n226 Transfer complete\r\n",
         {{Status::Ready, 150, "150 Opening data connection"},
          {Status::Ready, 226, "226 Transfer complete"}}},
        {"reply then a partial one",
         "331 Password required\r\n230-Wel",
         {{Status::Ready, 331, "331 Password required"}}},
        {"line of exactly the cap",
         "200 " + std::string(ReplyReader::kMaxLine - 4, 'a') + "\r\n",
         {{Status::Ready, 200, "200 " + std::string(ReplyReader::kMaxLine - 4, 'a')}}},
        {"NUL byte", std::string("200 o\0k\r\n", 9), {{Status::Malformed, 0, ""}}},
        {"non-digit code", "2x0 odd\r\n", {{Status::Malformed, 0, ""}}},
        {"code out of range", "600 odd\r\n", {{Status::Malformed, 0, ""}}},
        {"short code", "22 odd\r\n", {{Status::Malformed, 0, ""}}},
        {"four digits", "2200 odd\r\n", {{Status::Malformed, 0, ""}}},
        {"not FTP at all", "HTTP/1.1 200 OK\r\n", {{Status::Malformed, 0, ""}}},
        {"empty line", "\r\n", {{Status::Malformed, 0, ""}}},
        {"line over the cap",
         "200 " + std::string(ReplyReader::kMaxLine, 'a') + "\r\n",
         {{Status::TooLong, 0, ""}}},
        {"line over the cap without an end yet",
         std::string(ReplyReader::kMaxLine + 2, 'a'),
         {{Status::TooLong, 0, ""}}},
        {"reply over the cap",
         "211-start\r\n" + repeat(" " + std::string(1000, 'f') + "\r\n", 70) + "211 End\r\n",
         {{Status::TooLong, 0, ""}}},
        {"error is final",
         "2x0 bad\r\n200 good\r\n",
         {{Status::Malformed, 0, ""}, {Status::Malformed, 0, ""}}},
    };
    return table;
}

bool isError(Status status) { return status == Status::Malformed || status == Status::TooLong; }

// Feeds `chunks` one after another, taking replies out after each, as the
// connection does.
std::vector<Expected> readAll(const std::vector<std::string>& chunks, std::size_t wanted)
{
    ReplyReader reader;
    std::vector<Expected> got;
    for (const std::string& chunk : chunks) {
        reader.feed(chunk);
        for (;;) {
            Reply reply;
            const Status status = reader.next(reply);
            if (status == Status::NeedMore)
                break;
            got.push_back({status, status == Status::Ready ? reply.code : 0,
                           status == Status::Ready ? reply.text : ""});
            if (isError(status) && got.size() >= wanted)
                return got;
        }
    }
    return got;
}

void expectSame(const std::vector<Expected>& got, const std::vector<Expected>& want,
                const std::string& context)
{
    ASSERT_EQ(got.size(), want.size()) << context;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].status, want[i].status) << context << ", reply " << i;
        EXPECT_EQ(got[i].code, want[i].code) << context << ", reply " << i;
        EXPECT_EQ(got[i].text, want[i].text) << context << ", reply " << i;
    }
}

TEST(ReplyReaderTable, WholeInputAtOnce)
{
    for (const Row& row : rows())
        expectSame(readAll({row.input}, row.replies.size()), row.replies, row.name);
}

TEST(ReplyReaderTable, InputSplitByteByByte)
{
    for (const Row& row : rows()) {
        std::vector<std::string> bytes;
        for (char c : row.input)
            bytes.emplace_back(1, c);
        expectSame(readAll(bytes, row.replies.size()), row.replies, row.name);
    }
}

TEST(ReplyReader, EndlessContinuationLinesStopAtTheReplyCap)
{
    ReplyReader reader;
    reader.feed("220-hello\r\n");
    Reply reply;
    std::size_t fed = 0;
    Status status = Status::NeedMore;
    while (status == Status::NeedMore && fed < 10 * ReplyReader::kMaxReply) {
        reader.feed("220-more of the same\r\n");
        fed += 22;
        status = reader.next(reply);
    }
    EXPECT_EQ(status, Status::TooLong);
    // Stopped near the cap, not at the loop's own limit.
    EXPECT_LT(fed, ReplyReader::kMaxReply + ReplyReader::kMaxReply / 10);
}

}  // namespace
