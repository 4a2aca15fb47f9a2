#include "common/wide_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/numeric_format.h"
#include "common/transcript.h"
#include "common/utf.h"

using namespace quorvane;

// The text not yet written out: a listing makes hundreds of thousands of
// small writes, which leave in pieces of kWriteSize. Each write goes straight
// into the buffer, which always has kLargestDirect bytes of room: a longer
// text is made apart first.
constexpr std::size_t kWriteSize = 64 * 1024;
constexpr std::size_t kLargestDirect = 16 * 1024;

struct WideStream {
    std::FILE* file = nullptr;
    bool failed = false;  // sticky: any failed write fails the close
    std::unique_ptr<char[]> buffer =
        std::make_unique_for_overwrite<char[]>(kWriteSize + kLargestDirect);
    std::size_t used = 0;  // below kWriteSize between writes
    // Formats already checked and read: a listing repeats the same two.
    std::vector<std::pair<std::u16string, text::NumericFormat>> formats;
    std::function<bool()> complete;  // see adoptWideStream
    std::function<void(std::uint64_t)> written;  // see adoptWideStream
    std::uint64_t total = 0;  // bytes gone out to the file
};

namespace {

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
    if (!stream->failed && stream->used != 0 &&
        std::fwrite(stream->buffer.get(), 1, stream->used, stream->file) != stream->used) {
        trace::cause(std::string("cannot write the listing file: ") + std::strerror(errno));
        fail(stream);
    }
    stream->total += stream->used;
    stream->used = 0;
    if (!stream->failed && stream->written)
        stream->written(stream->total);
    return !stream->failed;
}

// Ends a write that made the buffer `end`: its size, or -1 when the stream
// has failed (now or before).
int written(WideStream* stream, const char* end)
{
    const auto size = static_cast<std::size_t>(end - stream->buffer.get()) - stream->used;
    stream->used += size;
    if (stream->used >= kWriteSize && !flush(stream))
        return -1;
    return stream->failed ? -1 : static_cast<int>(size);
}

char* room(WideStream* stream) { return stream->buffer.get() + stream->used; }

// A text too long to be made in the buffer, made elsewhere.
int writeApart(WideStream* stream, std::string_view bytes)
{
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t piece = std::min(bytes.size() - at, kLargestDirect);
        std::memcpy(room(stream), bytes.data() + at, piece);
        if (written(stream, room(stream) + piece) < 0)
            return -1;
        at += piece;
    }
    return static_cast<int>(bytes.size());
}

}  // namespace

WideStream* adoptWideStream(std::FILE* file, std::function<bool()> complete,
                            std::function<void(std::uint64_t)> written)
{
    if (!file)
        return nullptr;
    auto stream = std::make_unique<WideStream>();
    stream->file = file;
    stream->complete = std::move(complete);
    stream->written = std::move(written);
    std::setvbuf(file, nullptr, _IONBF, 0);  // the stream buffers itself
    return stream.release();  // owned by the caller until CloseWideStream
}

int WriteWideString(LPCWSTR text, WideStream* stream)
{
    if (!stream || !text)
        return fail(stream);
    // Names reach us as valid UTF-16; anything else is written as U+FFFD
    // rather than as bytes no reader could decode.
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    const std::u16string_view wide = view(text);
    if (wide.size() > kLargestDirect / text::kMostUtf8PerUnit) {
        const auto bytes = text::toUtf8(wide);
        return writeApart(stream, bytes ? std::string_view(*bytes) : kReplacement);
    }
    char* end = text::writeUtf8(room(stream), wide);
    if (!end)
        end = std::copy(kReplacement.begin(), kReplacement.end(), room(stream));
    return written(stream, end);
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
    const text::NumericFormat& compiled = known->second;
    va_list arguments;
    va_start(arguments, format);
    int result = 0;
    if (compiled.room() <= kLargestDirect) {
        result = written(stream, compiled.write(room(stream), arguments));
    } else {
        std::string bytes;
        compiled.append(bytes, arguments);
        result = writeApart(stream, bytes);
    }
    va_end(arguments);
    return result;
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
