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
