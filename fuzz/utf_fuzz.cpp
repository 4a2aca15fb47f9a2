// SPDX-License-Identifier: MIT
// UTF-8 and UTF-16 conversions: strict ones round-trip, the lossy one always
// gives valid UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/utf.h"

using namespace quorvane::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto wide = toUtf16(bytes); wide && toUtf8(*wide) != std::string(bytes))
        std::abort();
    if (!toUtf8(toUtf16Lossy(bytes)))
        std::abort();  // the lossy conversion made an unpaired surrogate

    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    if (const auto utf8 = toUtf8(units); utf8 && toUtf16(*utf8) != units)
        std::abort();
    return 0;
}
