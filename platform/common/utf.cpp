#include "common/utf.h"

#include <algorithm>

namespace quorvane::text {
namespace {

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

char* putUtf8(char* out, char32_t cp)
{
    if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    return out;
}

}  // namespace

std::u16string_view wideView(const char16_t* text)
{
    return text ? std::u16string_view(text) : std::u16string_view();
}

char* writeUtf8(char* out, std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit < 0x80) {  // names are mostly ASCII
            *out++ = static_cast<char>(unit);
            continue;
        }
        if (isHighSurrogate(unit)) {
            if (i + 1 == text.size() || !isLowSurrogate(text[i + 1]))
                return nullptr;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (isLowSurrogate(unit)) {
            return nullptr;
        }
        out = putUtf8(out, unit);
    }
    return out;
}

bool appendUtf8(std::string& out, std::u16string_view text)
{
    const std::size_t start = out.size();
    out.resize(start + kMostUtf8PerUnit * text.size());
    const char* end = writeUtf8(out.data() + start, text);
    out.resize(end ? static_cast<std::size_t>(end - out.data()) : start);
    return end != nullptr;
}

std::optional<std::string> toUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    if (!appendUtf8(out, text))
        return std::nullopt;
    return out;
}

std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || isHighSurrogate(cp) || isLowSurrogate(cp))
        return 0;
    return length;
}

namespace {

// UTF-16 units of UTF-8 `text`, each to `put`; an ill-formed byte becomes
// U+FFFD. False at the first ill-formed byte where `lossy` is not set.
template <typename Put>
bool decodeToUtf16(std::string_view text, bool lossy, Put put)
{
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {  // most names are ASCII
            put(static_cast<char16_t>(text[i++]));
            continue;
        }
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(text, i, cp);
        if (length == 0 && !lossy)
            return false;
        if (length == 0)
            cp = U'\xFFFD';
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (cp >> 10)));
            put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
        i += length ? length : 1;
    }
    return true;
}

}  // namespace

std::optional<std::u16string> toUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    if (!decodeToUtf16(text, false, [&](char16_t unit) { out += unit; }))
        return std::nullopt;
    return out;
}

std::u16string toUtf16Lossy(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    decodeToUtf16(text, true, [&](char16_t unit) { out += unit; });
    return out;
}

std::size_t copyUtf16Lossy(std::string_view text, char16_t* out, std::size_t capacity)
{
    // An ASCII start (most names are ASCII throughout) goes unit for byte.
    std::size_t units = 0;
    const std::size_t shorter = std::min(text.size(), capacity);
    while (units < shorter && static_cast<unsigned char>(text[units]) < 0x80) {
        out[units] = static_cast<char16_t>(text[units]);
        ++units;
    }
    text.remove_prefix(units);
    decodeToUtf16(text, true, [&](char16_t unit) {
        if (units < capacity)
            out[units] = unit;
        ++units;
    });
    return units;
}

bool hasControlCharacter(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x80)  // most bytes of most names
            continue;
        if (byte < 0x20)
            return true;
        // C1 controls (NEL among them) are C2 80-9F; U+2028 and U+2029 are
        // E2 80 A8-A9. Readers that split on Unicode line breaks break there.
        if (byte == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F)
                return true;
        } else if (byte == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80') {
            const auto last = static_cast<unsigned char>(text[i + 2]);
            if (last == 0xA8 || last == 0xA9)
                return true;
        }
    }
    return false;
}

bool hasControlCharacter(std::u16string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char16_t c) {
        return c < 0x20 || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
    });
}

}  // namespace quorvane::text
