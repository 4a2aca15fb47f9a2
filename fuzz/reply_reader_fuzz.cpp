// SPDX-License-Identifier: MIT
// The reply reader on arbitrary bytes arriving in arbitrary pieces: it never
// crashes, never grows past its caps, and every reply it gives is sound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "posix/wire/reply_reader.h"

using quorvane::client::Reply;
using quorvane::client::ReplyReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets how the rest is cut into pieces.
    const std::size_t piece = 1 + data[0] % 64;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    ReplyReader reader;
    while (!rest.empty()) {
        reader.feed(rest.substr(0, piece));
        rest.remove_prefix(std::min(piece, rest.size()));
        for (;;) {
            Reply reply;
            const auto status = reader.next(reply);
            if (status == ReplyReader::Status::NeedMore)
                break;
            if (status != ReplyReader::Status::Ready)
                return 0;  // final: the stream cannot be trusted further
            if (reply.code < 100 || reply.code > 599 ||
                reply.text.size() > ReplyReader::kMaxReply ||
                reply.text.find('\0') != std::string::npos)
                std::abort();
        }
    }
    return 0;
}
