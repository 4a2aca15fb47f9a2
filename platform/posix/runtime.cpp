#include "runtime_api.h"

#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "device_path.h"
#include "entry_point.h"
#include "file_time.h"
#include "wide_stream.h"
#include "utf.h"

using namespace quorvane;

WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode)
{
    return client::guarded<WideStream*>(nullptr, [&]() -> WideStream* {
        const auto hostPath = client::hostPathOf(path);
        auto fopenMode = text::toUtf8(text::wideView(mode));
        if (!hostPath || !fopenMode || fopenMode->empty())
            return nullptr;
        fopenMode->append("e");  // close on exec
        return adoptWideStream(::fopen(hostPath->c_str(), fopenMode->c_str()));
    });
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
