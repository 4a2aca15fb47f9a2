#include "posix/wininet/wininet_types.h"

#include "posix/wininet/thread_value.h"

namespace {
quorvane::client::ThreadValue& lastError()
{
    static quorvane::client::ThreadValue value;  // ERROR_SUCCESS (0) until set
    return value;
}
}  // namespace

DWORD GetLastError() { return static_cast<DWORD>(lastError().get()); }

void SetLastError(DWORD error) { lastError().set(error); }
