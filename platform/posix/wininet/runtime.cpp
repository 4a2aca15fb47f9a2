#include "runtime_api.h"

#include <stdio.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/transcript.h"
#include "common/utf.h"
#include "common/wide_stream.h"
#include "posix/local/device_path.h"
#include "posix/local/local_file.h"
#include "posix/local/write_behind.h"
#include "posix/wininet/file_times.h"
#include "posix/wininet/guarded_call.h"

using namespace quorvane;

WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode)
{
    return client::guarded<WideStream*>(nullptr, [&]() -> WideStream* {
        const auto hostPath = client::hostPathOf(path);
        if (!hostPath || !mode || text::wideView(mode) != u"w") {
            client::reportFailure(client::Failure(client::FailureKind::InvalidArgument,
                                                  "a stream path or mode the client cannot use"));
            return nullptr;
        }
        // A new file, written where nobody sees it until it is whole, and
        // then put in place.
        const std::string root = client::deviceRoot();
        auto file = client::TemporaryFile::beside(*hostPath, root);
        if (!file) {
            // The listing file's folder is the setting most likely at fault.
            client::Failure failure = std::move(file).failure();
            failure.cause += " (in the device root " + root + ", which QUORVANE_DEVICE_ROOT sets)";
            client::reportFailure(failure);
            return nullptr;
        }
        const int fd = ::fcntl(file->fd(), F_DUPFD_CLOEXEC, 0);
        std::FILE* written = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
        if (!written) {
            if (fd >= 0)
                ::close(fd);
            client::reportFailure(client::localFailure("write", *hostPath, errno));
            return nullptr;
        }
        auto pending = std::make_shared<client::TemporaryFile>(std::move(*file));
        // On the disk before it replaces the listing it is written for; a
        // long listing starts going there while it is written.
        constexpr std::uint64_t kWriteBehindStep = 1 << 20;
        return adoptWideStream(
            written,
            [pending] {
                return client::entryPointResult(pending->replaceTarget(
                           client::TemporaryFile::DataFlush::Always)) == TRUE;
            },
            [writeBehind = client::WriteBehind(fd, 0, kWriteBehindStep)](
                std::uint64_t end) mutable { writeBehind.advance(end); });
    });
}

void TraceCall(const char* call, LPCWSTR first, LPCWSTR second, int result, BOOL)
{
    trace::writeCall(call, first, second, result);
}

BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to)
{
    return client::guarded<BOOL>(FALSE, [&]() -> BOOL {
        const auto source = client::hostPathOf(from);
        const auto target = client::hostPathOf(to);
        if (!source || !target) {
            client::reportFailure(client::localFailure("replace", target ? *target : "?", EINVAL));
            return FALSE;
        }
        return client::entryPointResult(client::renameDurably(*source, *target));
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
    const auto offsetSeconds = client::localOffsetAt(client::unixSecondsOfTicks(ticks));
    if (!offsetSeconds)
        return FALSE;
    const std::int64_t offset = *offsetSeconds * static_cast<std::int64_t>(client::kTicksPerSecond);
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
