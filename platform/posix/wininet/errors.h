// SPDX-License-Identifier: MIT
// The client's failures as the platform reports them: one table from
// failure to WinINet error code, and the one place where a failure becomes
// the thread's last error and the transcript's cause. Only the entry points
// call these.
#pragma once

#include "posix/net/failure.h"
#include "posix/wininet/wininet_types.h"

namespace quorvane::client {

DWORD winInetErrorOf(const Failure& failure);

// An entry point's failure: its cause in the transcript, its code as the
// last error.
void reportFailure(const Failure& failure);

// What an entry point returns for an outcome: TRUE, or FALSE once the
// failure is reported.
template <typename T>
BOOL entryPointResult(const Outcome<T>& outcome)
{
    if (outcome)
        return TRUE;
    reportFailure(outcome.failure());
    return FALSE;
}

}  // namespace quorvane::client
