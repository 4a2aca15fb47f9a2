// SPDX-License-Identifier: MIT
// The reply reader on arbitrary bytes arriving in arbitrary pieces: it never
// crashes, never grows past its caps, and every reply it gives is sound; and
// what a transfer reads from replies (SIZE, MDTM, MLST, digests, FEAT) holds
// only what it claims to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "posix/wire/digest_reply.h"
#include "posix/wire/feature_reply.h"
#include "posix/wire/file_facts.h"
#include "posix/wire/reply_reader.h"

using namespace quorvane::client;

namespace {

bool isLowerHex(const std::string& text)
{
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void readFacts(const Reply& reply)
{
    const auto time = parseMdtmReply(reply);
    if (time.has() && (time.value.size() < 14 || time.value.find(' ') != std::string::npos))
        std::abort();
    const auto facts = parseMlstReply(reply);
    if (facts.has() && facts.value.modified.find(';') != std::string::npos)
        std::abort();
    static_cast<void>(parseSizeReply(reply));
    const ServerFeatures features = parseFeatures(reply);
    if (const auto request = chooseDigest(features.digests)) {
        const auto digest = parseDigestReply(reply, *request);
        if (digest && (digest->hex.size() < 8 || !isLowerHex(digest->hex)))
            std::abort();
    }
}

}  // namespace

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
            readFacts(reply);
        }
    }
    return 0;
}
