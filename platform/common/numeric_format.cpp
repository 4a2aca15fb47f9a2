#include "common/numeric_format.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/ascii.h"

namespace quorvane::text {
namespace {

using Conversion = NumericFormat::Conversion;

// Every write below may store up to kSlack bytes past the text it adds, so
// that short literals, fills and digit runs are fixed-size stores rather
// than calls: the buffer always has that much room past the longest text.
constexpr std::size_t kSlack = 32;

// Reads the conversion after a '%' at `pos`; false when it is not one we take.
bool readConversion(std::string_view format, std::size_t& pos, Conversion& c)
{
    for (; pos < format.size(); ++pos) {
        const char flag = format[pos];
        if (flag == '-')
            c.leftAlign = true;
        else if (flag == '+')
            c.plus = true;
        else if (flag == ' ')
            c.space = true;
        else if (flag == '0')
            c.zeroPad = true;
        else
            break;
    }
    for (; pos < format.size() && isDigit(format[pos]); ++pos)
        c.width = c.width * 10 + static_cast<std::size_t>(format[pos] - '0');
    if (pos < format.size() && format[pos] == '.') {
        c.hasPrecision = true;
        for (++pos; pos < format.size() && isDigit(format[pos]); ++pos)
            c.precision = c.precision * 10 + static_cast<std::size_t>(format[pos] - '0');
    }
    if (c.width > 4096 || c.precision > 4096)
        return false;
    if (pos < format.size() &&
        std::string_view("hlzjt").find(format[pos]) != std::string_view::npos) {
        c.length = format[pos++];
        if (pos < format.size() && (c.length == 'h' || c.length == 'l') &&
            format[pos] == c.length) {
            c.length = c.length == 'h' ? 'H' : 'L';
            ++pos;
        }
    }
    if (pos == format.size() ||
        std::string_view("diouxX").find(format[pos]) == std::string_view::npos)
        return false;
    c.type = format[pos++];
    c.plainDecimal = (c.type == 'd' || c.type == 'i' || c.type == 'u') && !c.leftAlign && !c.plus &&
                     !c.space && !c.hasPrecision && c.width <= kSlack;
    return true;
}

bool isSigned(char type) { return type == 'd' || type == 'i'; }

// Takes the next argument at the width its length modifier names. The list
// goes by pointer: a va_list passed by value is a copy on some targets (ARM),
// and every conversion would then read the first argument again.
std::uint64_t takeArgument(const Conversion& c, va_list* arguments, bool& negative)
{
    negative = false;
    if (isSigned(c.type)) {
        std::int64_t value;
        switch (c.length) {
        case 'l': value = va_arg(*arguments, long); break;
        case 'L': value = va_arg(*arguments, long long); break;
        case 'z': value = static_cast<std::int64_t>(va_arg(*arguments, std::size_t)); break;
        case 'j': value = va_arg(*arguments, std::intmax_t); break;
        case 't': value = va_arg(*arguments, std::ptrdiff_t); break;
        case 'h': value = static_cast<short>(va_arg(*arguments, int)); break;
        case 'H': value = static_cast<signed char>(va_arg(*arguments, int)); break;
        default: value = va_arg(*arguments, int); break;
        }
        negative = value < 0;
        return negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    }
    switch (c.length) {
    case 'l': return va_arg(*arguments, unsigned long);
    case 'L': return va_arg(*arguments, unsigned long long);
    case 'z': return va_arg(*arguments, std::size_t);
    case 'j': return va_arg(*arguments, std::uintmax_t);
    case 't': return static_cast<std::uint64_t>(va_arg(*arguments, std::ptrdiff_t));
    case 'h': return static_cast<unsigned short>(va_arg(*arguments, unsigned int));
    case 'H': return static_cast<unsigned char>(va_arg(*arguments, unsigned int));
    default: return va_arg(*arguments, unsigned int);
    }
}

char* putFill(char* at, char fill, std::size_t count)
{
    if (count <= kSlack)
        std::memset(at, fill, kSlack);
    else
        std::memset(at, fill, count);
    return at + count;
}

// `text` is readable for kSlack bytes past `size` (a literal keeps them).
char* putText(char* at, const char* text, std::size_t size)
{
    if (size <= kSlack)
        std::memcpy(at, text, kSlack);
    else
        std::memcpy(at, text, size);
    return at + size;
}

// Decimal digits two at a time: half the divisions (each a multiplication)
// of a listing's seven numbers a record.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The digits of `value`, written backwards so that they end at `end`;
// returns where they start. A 64-bit value has at most 22 (octal) digits.
template <unsigned Base>
char* digitsBefore(char* end, std::uint64_t value, const char* symbols)
{
    if constexpr (Base == 10) {
        for (; value >= 100; value /= 100)
            std::memcpy(end -= 2, &kDigitPairs[value % 100 * 2], 2);
        if (value >= 10)
            std::memcpy(end -= 2, &kDigitPairs[value * 2], 2);
        else
            *--end = static_cast<char>('0' + value);
        return end;
    } else {
        do
            *--end = symbols[value % Base];
        while ((value /= Base) != 0);
        return end;
    }
}

std::size_t decimalLength(std::uint64_t value)
{
    std::size_t length = 1;
    for (; value >= 100; value /= 100)
        length += 2;
    return length + (value >= 10 ? 1 : 0);
}

// The longest field a conversion can give: 22 octal digits of a 64-bit value,
// or its precision, and a sign, or its width.
std::size_t fieldBound(const Conversion& c)
{
    return std::max(c.width, std::max(c.precision, std::size_t{22}) + 1);
}

// Writes the field at `at` (room for fieldBound(c) bytes and the slack);
// returns its end.
char* writeConversion(char* at, const Conversion& c, std::uint64_t value, bool negative)
{
    // The digits end in the middle, so that a fixed-size copy of kSlack
    // bytes from their start stays inside.
    char buffer[2 * kSlack];
    char* const end = buffer + kSlack;
    if (c.plainDecimal && !negative) {
        // Every field of a listing: "%llu", "%02d", "%04d". The digits go
        // straight to their place.
        const std::size_t count = decimalLength(value);
        at = putFill(at, c.zeroPad ? '0' : ' ', c.width > count ? c.width - count : 0);
        digitsBefore<10>(at + count, value, nullptr);
        return at + count;
    }
    const char* digits = c.type == 'o'   ? digitsBefore<8>(end, value, "01234567")
                         : c.type == 'x' ? digitsBefore<16>(end, value, "0123456789abcdef")
                         : c.type == 'X' ? digitsBefore<16>(end, value, "0123456789ABCDEF")
                                         : digitsBefore<10>(end, value, nullptr);
    // A precision of 0 prints no digits for 0, as printf does.
    const std::size_t count = c.hasPrecision && c.precision == 0 && value == 0
                                  ? 0
                                  : static_cast<std::size_t>(end - digits);
    const std::size_t precision = c.hasPrecision ? c.precision : 1;
    const std::size_t zeros = precision > count ? precision - count : 0;
    const char sign = negative ? '-' : !isSigned(c.type) ? 0 : c.plus ? '+' : c.space ? ' ' : 0;
    const std::size_t length = count + zeros + (sign ? 1 : 0);
    const std::size_t padding = c.width > length ? c.width - length : 0;
    const bool padWithZeros = c.zeroPad && !c.leftAlign && !c.hasPrecision;

    if (padding != 0 && !c.leftAlign && !padWithZeros)
        at = putFill(at, ' ', padding);
    if (sign)
        *at++ = sign;
    if (padding != 0 && padWithZeros)
        at = putFill(at, '0', padding);
    if (zeros != 0)
        at = putFill(at, '0', zeros);
    at = putText(at, digits, count);
    if (padding != 0 && c.leftAlign)
        at = putFill(at, ' ', padding);
    return at;
}

}  // namespace

// A literal keeps kSlack bytes past its text, for putText.
NumericFormat::Piece NumericFormat::pieceOf(std::string literal,
                                            std::optional<Conversion> conversion)
{
    const std::size_t size = literal.size();
    literal.resize(size + kSlack);
    return Piece{std::move(literal), size, conversion};
}

std::optional<NumericFormat> NumericFormat::compile(std::string_view format)
{
    NumericFormat compiled;
    std::string literal;
    for (std::size_t pos = 0; pos < format.size();) {
        const std::size_t percent = format.find('%', pos);
        literal.append(format.substr(pos, percent - pos));
        if (percent == std::string_view::npos)
            break;
        pos = percent + 1;
        if (pos < format.size() && format[pos] == '%') {
            literal += '%';
            ++pos;
            continue;
        }
        Conversion conversion;
        if (!readConversion(format, pos, conversion))
            return std::nullopt;
        compiled.bound_ += literal.size() + fieldBound(conversion);
        compiled.pieces_.push_back(pieceOf(std::move(literal), conversion));
        literal.clear();
    }
    compiled.bound_ += literal.size();
    if (!literal.empty())
        compiled.pieces_.push_back(pieceOf(std::move(literal), std::nullopt));
    return compiled;
}

std::size_t NumericFormat::room() const { return bound_ + kSlack; }

char* NumericFormat::write(char* at, va_list arguments) const
{
    va_list remaining;
    va_copy(remaining, arguments);
    for (const Piece& piece : pieces_) {
        at = putText(at, piece.literal.data(), piece.literalSize);
        if (!piece.conversion)
            continue;
        bool negative = false;
        const std::uint64_t value = takeArgument(*piece.conversion, &remaining, negative);
        at = writeConversion(at, *piece.conversion, value, negative);
    }
    va_end(remaining);
    return at;
}

void NumericFormat::append(std::string& out, va_list arguments) const
{
    const std::size_t start = out.size();
    out.resize(start + room());
    char* const end = write(out.data() + start, arguments);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

}  // namespace quorvane::text
