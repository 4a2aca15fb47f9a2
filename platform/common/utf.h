// SPDX-License-Identifier: MIT
// Strict conversions between UTF-16 (the library's strings) and UTF-8 (the
// wire and the host's file system).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::text {

// The string up to its NUL; an empty view for a null pointer.
std::u16string_view wideView(const char16_t* text);

// Fails on an unpaired surrogate.
std::optional<std::string> toUtf8(std::u16string_view text);

// The same, appending to `out` (whose memory is reused); false on an unpaired
// surrogate, with `out` then as it was.
bool appendUtf8(std::string& out, std::u16string_view text);

// UTF-8 takes at most three bytes for each UTF-16 unit (four for a pair).
inline constexpr std::size_t kMostUtf8PerUnit = 3;
// The same, written at `out`, which has room for kMostUtf8PerUnit bytes a
// unit: where it ends, or null on an unpaired surrogate.
char* writeUtf8(char* out, std::u16string_view text);

// Fails on any ill-formed sequence: overlongs, surrogates, values past U+10FFFF.
std::optional<std::u16string> toUtf16(std::string_view text);

// Decodes the well-formed sequence at `text[i]` into `cp`: its length, or 0
// for an ill-formed one (overlong, a surrogate, past U+10FFFF, cut short).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp);

// Never fails: each ill-formed byte becomes U+FFFD, so text from a server
// cannot turn into invalid UTF-16.
std::u16string toUtf16Lossy(std::string_view text);
// The same into `out`, at most `capacity` units: how many units the whole
// text takes (more than `capacity` when it did not fit).
std::size_t copyUtf16Lossy(std::string_view text, char16_t* out, std::size_t capacity);

// True when UTF-8 `text` holds a control character or a line break: C0 (NUL,
// CR, LF, TAB, ...), C1 (U+0080-U+009F, NEL among them), U+2028 or U+2029.
// Such text must never reach a command line or a listing record.
bool hasControlCharacter(std::string_view text);
// The same for UTF-16 text.
bool hasControlCharacter(std::u16string_view text);

}  // namespace quorvane::text
