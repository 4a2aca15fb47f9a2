#include "wide_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "numeric_format.h"
#include "transcript.h"
#include "utf.h"

using namespace quorvane;

struct WideStream {
    std::FILE* file = nullptr;
    bool failed = false;  // sticky: any failed write fails the close
    std::string buffer;   // reused by every write
    // Formats already checked and narrowed: a listing repeats the same two.
    std::vector<std::pair<std::u16string, std::string>> formats;
};

namespace {

// WideString is char16_t, or on Windows the 16-bit wchar_t.
std::u16string_view view(LPCWSTR text)
{
    return text::wideView(reinterpret_cast<const char16_t*>(text));
}

int fail(WideStream* stream)
{
    if (stream)
        stream->failed = true;
    return -1;
}

int writeBuffer(WideStream* stream)
{
    const std::string& bytes = stream->buffer;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream->file) != bytes.size()) {
        if (!stream->failed)
            trace::line() << "cause: cannot write the listing file: " << std::strerror(errno);
        return fail(stream);
    }
    return static_cast<int>(bytes.size());
}

}  // namespace

WideStream* adoptWideStream(std::FILE* file)
{
    if (!file)
        return nullptr;
    auto stream = std::make_unique<WideStream>();
    stream->file = file;
    std::setvbuf(file, nullptr, _IOFBF, 64 * 1024);
    return stream.release();  // owned by the caller until CloseWideStream
}

int WriteWideString(LPCWSTR text, WideStream* stream)
{
    if (!stream || !text)
        return fail(stream);
    // A listing makes hundreds of thousands of writes: reuse one buffer.
    stream->buffer.clear();
    // Names reach us as valid UTF-16; anything else is written as U+FFFD
    // rather than as bytes no reader could decode.
    if (!text::appendUtf8(stream->buffer, view(text)))
        stream->buffer = "\xEF\xBF\xBD";
    return writeBuffer(stream);
}

int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...)
{
    if (!stream || !format)
        return fail(stream);
    const std::u16string_view wide = view(format);
    auto known = std::find_if(stream->formats.begin(), stream->formats.end(),
                              [&](const auto& entry) { return entry.first == wide; });
    if (known == stream->formats.end()) {
        // Only integer conversions: a %s or %n would read arguments never passed.
        const auto ascii = text::toUtf8(wide);
        if (!ascii || !client::isNumericFormat(*ascii))
            return fail(stream);
        known = stream->formats.emplace(stream->formats.end(), wide, *ascii);
    }
    stream->buffer.clear();
    va_list arguments;
    va_start(arguments, format);
    client::appendNumericFormat(stream->buffer, known->second, arguments);
    va_end(arguments);
    return writeBuffer(stream);
}

int CloseWideStream(WideStream* stream)
{
    if (!stream)
        return EOF;
    const std::unique_ptr<WideStream> owned(stream);
    const bool closed = std::fclose(owned->file) == 0;
    if (!closed && !owned->failed)
        trace::line() << "cause: cannot write the listing file: " << std::strerror(errno);
    return closed && !owned->failed ? 0 : EOF;
}
