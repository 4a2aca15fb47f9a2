#include "posix/wire/size_reply.h"

#include <string_view>

#include "posix/wire/digits.h"

namespace quorvane::client {

std::optional<std::uint64_t> parseSizeReply(const Reply& reply)
{
    if (reply.code != 213 || reply.text.size() < 5 || reply.text[3] != ' ')
        return std::nullopt;
    return parseDecimal(std::string_view(reply.text).substr(4));
}

}  // namespace quorvane::client
