// printf for integers only: the subset of formats the listing writes, without
// the cost of the C library's general machinery on every record.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace quorvane::client {

// True when `format` holds only integer conversions (d i u x X o, with the
// flags "-+ 0", a width, a precision and the length modifiers hh h l ll z j
// t) and "%%": nothing that would read a pointer.
bool isNumericFormat(std::string_view format);

// Appends the formatted text; `format` must pass isNumericFormat.
void appendNumericFormat(std::string& out, std::string_view format, va_list arguments);

}  // namespace quorvane::client
