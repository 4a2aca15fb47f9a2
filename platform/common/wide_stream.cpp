#include "common/wide_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/numeric_format.h"
#include "common/transcript.h"
#include "common/utf.h"

using namespace quorvane;

struct WideStream {
    std::FILE* file = nullptr;
    bool failed = false;  // sticky: any failed write fails the close
    // The text not yet written out: a listing makes hundreds of thousands of
    // small writes, which leave in pieces of this size.
    std::string pending;
    // Formats already checked and read: a listing repeats the same two.
    std::vector<std::pair<std::u16string, text::NumericFormat>> formats;
    std::function<bool()> complete;  // see adoptWideStream
};

namespace {

constexpr std::size_t kWriteSize = 64 * 1024;

// WideString is char16_t, or on Windows the 16-bit wchar_t.
std::u16string_view view(LPCWSTR text)
{
    return text::wideView(reinterpret_cast<const char16_t*>(text));
}

// Whether NUL-terminated `text` is `known`, read once: a listing looks up
// the same two formats for every record.
bool isSameText(std::u16string_view known, LPCWSTR text)
{
    for (const char16_t unit : known)
        if (static_cast<char16_t>(*text++) != unit)
            return false;
    return *text == 0;
}

int fail(WideStream* stream)
{
    if (stream)
        stream->failed = true;
    return -1;
}

bool flush(WideStream* stream)
{
    std::string& bytes = stream->pending;
    if (!stream->failed && !bytes.empty() &&
        std::fwrite(bytes.data(), 1, bytes.size(), stream->file) != bytes.size()) {
        trace::cause(std::string("cannot write the listing file: ") + std::strerror(errno));
        fail(stream);
    }
    bytes.clear();
    return !stream->failed;
}

// What a write appended since `start`: its size, or -1 when the stream
// has failed (now or before).
int written(WideStream* stream, std::size_t start)
{
    const auto size = static_cast<int>(stream->pending.size() - start);
    if (stream->pending.size() >= kWriteSize && !flush(stream))
        return -1;
    return stream->failed ? -1 : size;
}

}  // namespace

WideStream* adoptWideStream(std::FILE* file, std::function<bool()> complete)
{
    if (!file)
        return nullptr;
    auto stream = std::make_unique<WideStream>();
    stream->file = file;
    stream->complete = std::move(complete);
    std::setvbuf(file, nullptr, _IONBF, 0);  // the stream buffers itself
    stream->pending.reserve(kWriteSize + 1024);
    return stream.release();  // owned by the caller until CloseWideStream
}

int WriteWideString(LPCWSTR text, WideStream* stream)
{
    if (!stream || !text)
        return fail(stream);
    const std::size_t start = stream->pending.size();
    // Names reach us as valid UTF-16; anything else is written as U+FFFD
    // rather than as bytes no reader could decode.
    if (!text::appendUtf8(stream->pending, view(text))) {
        stream->pending.resize(start);
        stream->pending.append("\xEF\xBF\xBD");
    }
    return written(stream, start);
}

int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...)
{
    if (!stream || !format)
        return fail(stream);
    auto known = std::find_if(stream->formats.begin(), stream->formats.end(),
                              [&](const auto& entry) { return isSameText(entry.first, format); });
    if (known == stream->formats.end()) {
        const std::u16string_view wide = view(format);
        // Only integer conversions: a %s or %n would read arguments never passed.
        const auto ascii = text::toUtf8(wide);
        auto compiled = ascii ? text::NumericFormat::compile(*ascii) : std::nullopt;
        if (!compiled)
            return fail(stream);
        known = stream->formats.emplace(stream->formats.end(), wide, std::move(*compiled));
    }
    const std::size_t start = stream->pending.size();
    va_list arguments;
    va_start(arguments, format);
    known->second.append(stream->pending, arguments);
    va_end(arguments);
    return written(stream, start);
}

int CloseWideStream(WideStream* stream)
{
    if (!stream)
        return EOF;
    const std::unique_ptr<WideStream> owned(stream);
    flush(stream);
    // What is written stands at its path only once it is whole.
    if (!owned->failed && owned->complete && !owned->complete())
        owned->failed = true;  // the platform said why
    const bool closed = std::fclose(owned->file) == 0;
    if (!closed && !owned->failed)
        trace::cause(std::string("cannot write the listing file: ") + std::strerror(errno));
    return closed && !owned->failed ? 0 : EOF;
}
