#include "posix/wire/pwd_reply.h"

namespace quorvane::client {

std::optional<std::string> parsePwdReply(std::string_view reply)
{
    if (reply.substr(0, 3) != "257")
        return std::nullopt;
    const std::size_t open = reply.find('"');
    if (open == std::string_view::npos)
        return std::nullopt;
    std::string path;
    for (std::size_t i = open + 1; i < reply.size(); ++i) {
        if (reply[i] != '"') {
            if (reply[i] == '\n')
                return std::nullopt;  // a path never spans lines
            path += reply[i];
        } else if (i + 1 < reply.size() && reply[i + 1] == '"') {
            path += '"';
            ++i;
        } else {
            return path.empty() ? std::nullopt : std::optional<std::string>(path);
        }
    }
    return std::nullopt;  // no closing quote
}

}  // namespace quorvane::client
