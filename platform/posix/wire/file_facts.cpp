// SPDX-License-Identifier: MIT
#include "posix/wire/file_facts.h"

#include <string_view>

#include "common/ascii.h"
#include "posix/wire/digits.h"

namespace quorvane::client {
namespace {

// The text after "213 " on the reply's last line, or nothing.
std::optional<std::string_view> valueOf(const Reply& reply)
{
    const std::string_view text = reply.text;
    const std::string_view line = text.substr(text.rfind('\n') + 1);
    if (line.size() < 5 || line[3] != ' ')
        return std::nullopt;
    return line.substr(4);
}

bool isTimestamp(std::string_view text)
{
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    if (whole.size() != 14 || !isDigits(whole))
        return false;
    return dot == std::string_view::npos || isDigits(text.substr(dot + 1));
}

template <typename T>
Answer<T> answer(typename Answer<T>::Kind kind, T value = {})
{
    return Answer<T>{kind, std::move(value)};
}

}  // namespace

Answer<std::uint64_t> parseSizeReply(const Reply& reply)
{
    using Kind = Answer<std::uint64_t>::Kind;
    if (reply.code != 213)
        return answer<std::uint64_t>(Kind::Refused);
    const auto value = valueOf(reply);
    const auto size = value ? parseDecimal(*value) : std::nullopt;
    return size ? answer(Kind::Value, *size) : answer<std::uint64_t>(Kind::Unreadable);
}

Answer<std::string> parseMdtmReply(const Reply& reply)
{
    using Kind = Answer<std::string>::Kind;
    if (reply.code != 213)
        return answer<std::string>(Kind::Refused);
    const auto value = valueOf(reply);
    if (!value || !isTimestamp(*value))
        return answer<std::string>(Kind::Unreadable);
    return answer(Kind::Value, std::string(*value));
}

Answer<FileFacts> parseMlstReply(const Reply& reply)
{
    using Kind = Answer<FileFacts>::Kind;
    if (reply.code != 250)
        return answer<FileFacts>(Kind::Refused);
    const std::size_t start = reply.text.find("\n ");
    if (start == std::string::npos)
        return answer<FileFacts>(Kind::Unreadable);
    std::string_view facts = std::string_view(reply.text).substr(start + 2);
    facts = facts.substr(0, facts.find(' '));  // the name follows the facts
    FileFacts parsed;
    bool readable = true;
    while (!facts.empty()) {
        const std::string_view fact = facts.substr(0, facts.find(';'));
        facts.remove_prefix(std::min(facts.size(), fact.size() + 1));
        const std::size_t equals = fact.find('=');
        const std::string_view name = fact.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : fact.substr(equals + 1);
        if (text::equalsIgnoringCase(name, "size")) {
            parsed.size = parseDecimal(value);
            readable = readable && parsed.size;
        } else if (text::equalsIgnoringCase(name, "modify")) {
            readable = readable && isTimestamp(value);
            parsed.modified = std::string(value);
        } else if (text::equalsIgnoringCase(name, "type")) {
            parsed.isFile = text::equalsIgnoringCase(value, "file");
        }
    }
    return readable ? answer(Kind::Value, std::move(parsed)) : answer<FileFacts>(Kind::Unreadable);
}

}  // namespace quorvane::client
