#include "fake_platform.h"

#include <cstdint>

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

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR server, INTERNET_PORT port,
                           LPCWSTR user, LPCWSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context)
{
    FakePlatform& fake = fakePlatform();
    fake.connects.push_back({internet, server, port, user, password, service, flags, context});
    return fake.connectSucceeds && fake.openHandles.count(internet) ? newHandle() : nullptr;
}

BOOL InternetCloseHandle(HINTERNET handle)
{
    FakePlatform& fake = fakePlatform();
    fake.closes.push_back(handle);
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
    return answer({"FtpGetFileW", connect, remoteFile, newFile, failIfExists, attributes, flags,
                   context});
}

BOOL FtpPutFileW(HINTERNET connect, LPCWSTR localFile, LPCWSTR newRemoteFile, DWORD flags,
                 DWORD_PTR context)
{
    return answer({"FtpPutFileW", connect, localFile, newRemoteFile, -1, 0xFFFFFFFF, flags,
                   context});
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
