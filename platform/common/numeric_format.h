// SPDX-License-Identifier: MIT
// printf for integers only: the subset of formats the listing writes, without
// the cost of the C library's general machinery on every record.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::text {

// A numeric format read once, for formatting many times over (a listing
// formats two numbers for every entry).
class NumericFormat {
public:
    // Nothing unless `format` holds only integer conversions (d i u x X o,
    // with the flags "-+ 0", a width, a precision and the length modifiers
    // hh h l ll z j t) and "%%": nothing that would read a pointer.
    static std::optional<NumericFormat> compile(std::string_view format);

    // Writes the text at `at`, which has room() bytes; returns its end.
    char* write(char* at, va_list arguments) const;
    std::size_t room() const;  // the longest text, and a little more
    void append(std::string& out, va_list arguments) const;

    struct Conversion {
        bool leftAlign = false, plus = false, space = false, zeroPad = false;
        std::size_t width = 0;
        std::size_t precision = 0;
        bool hasPrecision = false;
        char length = 0;  // 'H' for hh, 'h', 'l', 'L' for ll, 'z', 'j', 't'
        char type = 0;
        bool plainDecimal = false;  // decimal, at most zero-padded to a short width
    };

private:
    struct Piece {
        std::string literal;  // text before the conversion, and room past it
        std::size_t literalSize = 0;
        std::optional<Conversion> conversion;
    };
    static Piece pieceOf(std::string literal, std::optional<Conversion> conversion);

    std::vector<Piece> pieces_;
    std::size_t bound_ = 0;  // the longest text it can give
};

}  // namespace quorvane::text
