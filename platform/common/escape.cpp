#include "common/escape.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "common/utf.h"

namespace quorvane::trace {
namespace {

struct Range {
    char32_t first, last;
};

// Unicode 15's format characters (category Cf): invisible, yet they reorder
// (U+202A-U+202E, U+2066-U+2069), join or hide (U+200B-U+200D, U+2060, U+FEFF)
// what a reader sees.
constexpr Range kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool isShownAsIs(char32_t c)
{
    if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029)  // C1, line breaks
        return false;
    const auto* range = std::lower_bound(std::begin(kFormatCharacters), std::end(kFormatCharacters),
                                         c, [](const Range& r, char32_t v) { return r.last < v; });
    return range == std::end(kFormatCharacters) || c < range->first;
}

// The length of a well-formed UTF-8 sequence at `text[i]` that may be shown
// as it is, or 0.
std::size_t printableSequence(std::string_view text, std::size_t i)
{
    char32_t c = 0;
    const std::size_t length = text::decodeUtf8(text, i, c);
    return length > 0 && isShownAsIs(c) ? length : 0;
}

}  // namespace

std::string escape(std::string_view text, std::size_t limit)
{
    std::string escaped;
    const std::string_view shown = text.substr(0, limit);
    escaped.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size();) {
        const auto byte = static_cast<unsigned char>(shown[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            escaped += shown[i++];
            continue;
        }
        if (const std::size_t length = byte >= 0x80 ? printableSequence(shown, i) : 0) {
            escaped.append(shown.substr(i, length));
            i += length;
            continue;
        }
        char code[5];
        std::snprintf(code, sizeof code, "\\x%02X", byte);
        escaped += byte == '\\' ? std::string("\\\\") : std::string(code);
        ++i;
    }
    if (text.size() > limit)
        escaped.append(" [cut: ")
            .append(std::to_string(text.size() - limit))
            .append(" more bytes]");
    return escaped;
}

}  // namespace quorvane::trace
