#include "fake_platform.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "posix/wininet/file_times.h"

namespace {

HINTERNET newHandle()
{
    static std::uintptr_t next = 0x1000;
    HINTERNET handle = reinterpret_cast<HINTERNET>(next += 0x10);
    fakePlatform().openHandles.insert(handle);
    return handle;
}

}  // namespace

FakePlatform& fakePlatform()
{
    static FakePlatform instance;
    return instance;
}

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                        DWORD flags)
{
    FakePlatform& fake = fakePlatform();
    fake.opens.push_back({agent ? agent : u"", accessType, proxy, proxyBypass, flags});
    return fake.openSucceeds ? newHandle() : nullptr;
}

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                           LPCWSTR password, DWORD service, DWORD flags, DWORD_PTR context)
{
    FakePlatform& fake = fakePlatform();
    fake.connects.push_back({internet, server, port, user, password, service, flags, context});
    return fake.connectSucceeds && fake.openHandles.count(internet) ? newHandle() : nullptr;
}

BOOL InternetCloseHandle(HINTERNET handle)
{
    FakePlatform& fake = fakePlatform();
    fake.closes.push_back(handle);
    fake.openSearches.erase(std::remove(fake.openSearches.begin(), fake.openSearches.end(), handle),
                            fake.openSearches.end());
    return fake.openHandles.erase(handle) ? TRUE : FALSE;
}

namespace {

// Like the platform, an operation on a handle that is not open fails.
BOOL answer(FtpCall call)
{
    FakePlatform& fake = fakePlatform();
    const bool open = fake.openHandles.count(call.connect) > 0;
    fake.ftpCalls.push_back(std::move(call));
    return open && fake.commandSucceeds ? TRUE : FALSE;
}

}  // namespace

BOOL FtpSetCurrentDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return answer({"FtpSetCurrentDirectoryW", connect, directory});
}

BOOL FtpGetFileW(HINTERNET connect, LPCWSTR remoteFile, LPCWSTR newFile, BOOL failIfExists,
                 DWORD attributes, DWORD flags, DWORD_PTR context)
{
    return answer(
        {"FtpGetFileW", connect, remoteFile, newFile, failIfExists, attributes, flags, context});
}

BOOL FtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD flags,
                 DWORD_PTR context)
{
    return answer(
        {"FtpPutFileW", connect, localFile, newRemoteFile, -1, 0xFFFFFFFF, flags, context});
}

BOOL FtpDeleteFileW(HINTERNET connect, LPCWSTR fileName)
{
    return answer({"FtpDeleteFileW", connect, fileName});
}

BOOL FtpCreateDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return answer({"FtpCreateDirectoryW", connect, directory});
}

BOOL FtpRemoveDirectoryW(HINTERNET connect, LPCWSTR directory)
{
    return answer({"FtpRemoveDirectoryW", connect, directory});
}

BOOL FtpRenameFileW(HINTERNET connect, LPCWSTR existing, LPCWSTR newName)
{
    return answer({"FtpRenameFileW", connect, existing, newName});
}

namespace {
thread_local DWORD lastError = 0;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

namespace {

struct FakeSearch {
    std::size_t next = 1;
};

std::map<HINTERNET, FakeSearch>& searches()
{
    static std::map<HINTERNET, FakeSearch> open;
    return open;
}

}  // namespace

HINTERNET FtpFindFirstFileW(HINTERNET connect, LPCWSTR searchFile, WIN32_FIND_DATAW* findData,
                            DWORD flags, DWORD_PTR context)
{
    FakePlatform& fake = fakePlatform();
    fake.findFirsts.push_back({connect, searchFile ? searchFile : u"", flags, context});
    if (!fake.openHandles.count(connect)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (fake.entries.empty()) {
        SetLastError(fake.searchEndError);
        return nullptr;
    }
    *findData = fake.entries.front();
    HINTERNET search = newHandle();
    searches()[search] = {};
    fake.openSearches.push_back(search);
    return search;
}

BOOL InternetFindNextFileW(HINTERNET find, void* findData)
{
    FakePlatform& fake = fakePlatform();
    auto found = searches().find(find);
    if (found == searches().end() || !fake.openHandles.count(find)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (found->second.next >= fake.entries.size()) {
        SetLastError(fake.searchEndError);
        return FALSE;
    }
    *static_cast<WIN32_FIND_DATAW*>(findData) = fake.entries[found->second.next++];
    return TRUE;
}

struct WideStream {
    std::u16string path;
    std::u16string content;
    bool failed = false;
};

WideStream* OpenWideStream(LPCWSTR path, LPCWSTR mode)
{
    FakePlatform& fake = fakePlatform();
    fake.openModes.push_back(mode);
    if (!fake.streamOpenSucceeds)
        return nullptr;
    auto stream = std::make_unique<WideStream>();
    stream->path = path;
    return stream.release();
}

namespace {

int record(WideStream* stream, std::u16string text, bool formatted)
{
    FakePlatform& fake = fakePlatform();
    fake.writes.push_back({stream->path, text, formatted});
    if (fake.streamWritesFail) {
        stream->failed = true;
        return -1;
    }
    stream->content += text;
    return static_cast<int>(text.size());
}

}  // namespace

int WriteWideString(LPCWSTR text, WideStream* stream) { return record(stream, text, false); }

int WriteWideFormatted(WideStream* stream, LPCWSTR format, ...)
{
    // Formats are ASCII: narrow them, format, and widen the result.
    std::string narrow(format, format + std::char_traits<char16_t>::length(format));
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, narrow.c_str(), arguments);
    va_end(arguments);
    return record(stream, std::u16string(buffer, buffer + std::strlen(buffer)), true);
}

int CloseWideStream(WideStream* stream)
{
    const std::unique_ptr<WideStream> owned(stream);
    fakePlatform().files[owned->path] = owned->content;
    return owned->failed ? -1 : 0;
}

BOOL ReplaceWideFile(LPCWSTR from, LPCWSTR to)
{
    auto& files = fakePlatform().files;
    const auto found = files.find(from);
    if (found == files.end())
        return FALSE;
    files[to] = found->second;
    files.erase(from);
    return TRUE;
}

BOOL DeleteWideFile(LPCWSTR path) { return fakePlatform().files.erase(path) ? TRUE : FALSE; }

DWORD GetCurrentProcessId() { return 4242; }

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime)
{
    FakePlatform& fake = fakePlatform();
    fake.convertedTimes.push_back(*fileTime);
    const auto ticks = quorvane::client::ticksOf(*fileTime);
    *localFileTime = quorvane::client::fileTimeOf(
        ticks + static_cast<std::uint64_t>(fake.localOffsetSeconds * 10'000'000LL));
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime)
{
    *systemTime = quorvane::client::systemTimeOf(quorvane::client::ticksOf(*fileTime));
    return TRUE;
}

void TraceCall(const char* call, LPCWSTR first, LPCWSTR second, int result, BOOL)
{
    fakePlatform().traced.push_back({call, first ? first : u"", second ? second : u"", result});
}
