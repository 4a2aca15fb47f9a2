#include "numeric_format.h"

#include <cstddef>
#include <cstdint>

namespace quorvane::client {
namespace {

struct Conversion {
    bool leftAlign = false, plus = false, space = false, zeroPad = false;
    std::size_t width = 0;
    std::size_t precision = 0;
    bool hasPrecision = false;
    char length = 0;  // 'H' for hh, 'h', 'l', 'L' for ll, 'z', 'j', 't'
    char type = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the conversion after a '%' at `pos`; false when it is not one we take.
bool readConversion(std::string_view format, std::size_t& pos, Conversion& c)
{
    for (; pos < format.size(); ++pos) {
        const char flag = format[pos];
        if (flag == '-') c.leftAlign = true;
        else if (flag == '+') c.plus = true;
        else if (flag == ' ') c.space = true;
        else if (flag == '0') c.zeroPad = true;
        else break;
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
    if (pos < format.size() && std::string_view("hlzjt").find(format[pos]) != std::string_view::npos) {
        c.length = format[pos++];
        if (pos < format.size() && (c.length == 'h' || c.length == 'l') && format[pos] == c.length) {
            c.length = c.length == 'h' ? 'H' : 'L';
            ++pos;
        }
    }
    if (pos == format.size() || std::string_view("diouxX").find(format[pos]) == std::string_view::npos)
        return false;
    c.type = format[pos++];
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

void appendConversion(std::string& out, const Conversion& c, std::uint64_t value, bool negative)
{
    const unsigned base = c.type == 'o' ? 8 : (c.type == 'x' || c.type == 'X') ? 16 : 10;
    const char* digitsOf = c.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[24];
    std::size_t count = 0;
    for (std::uint64_t rest = value; rest != 0; rest /= base)
        digits[count++] = digitsOf[rest % base];
    const std::size_t precision = c.hasPrecision ? c.precision : 1;
    const std::size_t zeros = precision > count ? precision - count : 0;
    const char sign = negative ? '-' : !isSigned(c.type) ? 0 : c.plus ? '+' : c.space ? ' ' : 0;
    const std::size_t length = count + zeros + (sign ? 1 : 0);
    const std::size_t padding = c.width > length ? c.width - length : 0;
    const bool padWithZeros = c.zeroPad && !c.leftAlign && !c.hasPrecision;

    if (!c.leftAlign && !padWithZeros)
        out.append(padding, ' ');
    if (sign)
        out += sign;
    if (padWithZeros)
        out.append(padding, '0');
    out.append(zeros, '0');
    while (count > 0)
        out += digits[--count];
    if (c.leftAlign)
        out.append(padding, ' ');
}

}  // namespace

bool isNumericFormat(std::string_view format)
{
    for (std::size_t pos = 0; pos < format.size();) {
        if (format[pos++] != '%')
            continue;
        if (pos < format.size() && format[pos] == '%') {
            ++pos;
            continue;
        }
        Conversion conversion;
        if (!readConversion(format, pos, conversion))
            return false;
    }
    return true;
}

void appendNumericFormat(std::string& out, std::string_view format, va_list arguments)
{
    va_list remaining;
    va_copy(remaining, arguments);
    for (std::size_t pos = 0; pos < format.size();) {
        const std::size_t percent = format.find('%', pos);
        out.append(format.substr(pos, percent - pos));
        if (percent == std::string_view::npos)
            break;
        pos = percent + 1;
        if (pos < format.size() && format[pos] == '%') {
            out += '%';
            ++pos;
            continue;
        }
        Conversion conversion;
        if (!readConversion(format, pos, conversion))
            break;
        bool negative = false;
        const std::uint64_t value = takeArgument(conversion, &remaining, negative);
        appendConversion(out, conversion, value, negative);
    }
    va_end(remaining);
}

}  // namespace quorvane::client
