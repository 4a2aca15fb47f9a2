#include "runtime_types.h"

#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device_path.h"
#include "entry_point.h"
#include "file_time.h"
#include "numeric_format.h"
#include "utf.h"

using namespace quorvane;

struct WideStream {
    FILE* file = nullptr;
    bool failed = false;  // sticky: any failed write fails the close
    std::string buffer;   // reused by every write
    // Formats already checked and narrowed: a listing repeats the same two.
    std::vector<std::pair<std::u16string, std::string>> formats;
};

namespace {

int fail(WideStream* stream)
{
    if (stream)
        stream->failed = true;
    return -1;
}

}  // namespace

WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode)
{
    return client::guarded<WideStream*>(nullptr, [&]() -> WideStream* {
        const auto hostPath = client::hostPathOf(path);
        auto fopenMode = text::toUtf8(text::wideView(mode));
        if (!hostPath || !fopenMode || fopenMode->empty())
            return nullptr;
        fopenMode->append("e");  // close on exec
        FILE* file = ::fopen(hostPath->c_str(), fopenMode->c_str());
        if (!file)
            return nullptr;
        auto stream = std::make_unique<WideStream>();
        stream->file = file;
        ::setvbuf(file, nullptr, _IOFBF, 64 * 1024);
        return stream.release();  // owned by the caller until CloseWideStream
    });
}

int WriteWideString(LPCWSTR text, WideStream* stream)
{
    if (!stream || !text)
        return fail(stream);
    // A listing makes hundreds of thousands of writes: reuse one buffer.
    std::string& utf8 = stream->buffer;
    utf8.clear();
    // Names reach us as valid UTF-16; anything else is written as U+FFFD
    // rather than as bytes no reader could decode.
    if (!text::appendUtf8(utf8, text::wideView(text)))
        utf8 = "\xEF\xBF\xBD";
    if (::fwrite(utf8.data(), 1, utf8.size(), stream->file) != utf8.size())
        return fail(stream);
    return static_cast<int>(utf8.size());
}

int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...)
{
    if (!stream || !format)
        return fail(stream);
    const std::u16string_view wide = text::wideView(format);
    auto known = std::find_if(stream->formats.begin(), stream->formats.end(),
                              [&](const auto& entry) { return entry.first == wide; });
    if (known == stream->formats.end()) {
        // Only integer conversions: a %s or %n would read arguments never passed.
        const auto ascii = text::toUtf8(wide);
        if (!ascii || !client::isNumericFormat(*ascii))
            return fail(stream);
        known = stream->formats.emplace(stream->formats.end(), wide, *ascii);
    }
    std::string& text = stream->buffer;
    text.clear();
    va_list arguments;
    va_start(arguments, format);
    client::appendNumericFormat(text, known->second, arguments);
    va_end(arguments);
    if (::fwrite(text.data(), 1, text.size(), stream->file) != text.size())
        return fail(stream);
    return static_cast<int>(text.size());
}

int CloseWideStream(WideStream* stream)
{
    if (!stream)
        return EOF;
    const std::unique_ptr<WideStream> owned(stream);
    const bool closed = ::fclose(owned->file) == 0;
    return closed && !owned->failed ? 0 : EOF;
}

BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to)
{
    return client::guarded<BOOL>(FALSE, [&]() -> BOOL {
        const auto source = client::hostPathOf(from);
        const auto target = client::hostPathOf(to);
        return source && target && ::rename(source->c_str(), target->c_str()) == 0;
    });
}

BOOL DeleteWideFile(LPCWSTR path)
{
    return client::guarded<BOOL>(FALSE, [&]() -> BOOL {
        const auto hostPath = client::hostPathOf(path);
        return hostPath && ::unlink(hostPath->c_str()) == 0;
    });
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime)
{
    if (!fileTime || !localFileTime)
        return FALSE;
    const std::uint64_t ticks = client::ticksOf(*fileTime);
    const time_t instant = client::unixSecondsOf(ticks);
    tm local{};
    if (!::localtime_r(&instant, &local))
        return FALSE;
    const std::int64_t offset = static_cast<std::int64_t>(local.tm_gmtoff) * client::kTicksPerSecond;
    if ((offset < 0 && ticks < static_cast<std::uint64_t>(-offset)) ||
        (offset > 0 && ticks > client::kMaxFileTimeTicks - static_cast<std::uint64_t>(offset)))
        return FALSE;
    *localFileTime = client::fileTimeOf(ticks + static_cast<std::uint64_t>(offset));
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime)
{
    if (!fileTime || !systemTime)
        return FALSE;
    const std::uint64_t ticks = client::ticksOf(*fileTime);
    if (ticks > client::kMaxFileTimeTicks)
        return FALSE;
    *systemTime = client::systemTimeOf(ticks);
    return TRUE;
}
