// SPDX-License-Identifier: MIT
// The process's single FTP session and the result codes of the exported
// functions.
#pragma once

#include "Quorvane2.h"
#include "runtime_api.h"
#include "wininet_api.h"

// Both handles are null while the session is Closed. Zero by static
// initialisation: no code runs at load to set it up.
struct FTPSession {
    HINTERNET hInternet;
    HINTERNET hConnect;
};

extern FTPSession gFTPSession;

// An exported call's result, once the session's transcript (if on) has it.
inline FTPResult traced(const char* call, FTPResult result, LPCWSTR first = nullptr,
                        LPCWSTR second = nullptr)
{
    TraceCall(call, first, second, result, result == FTP_RESULT_OK);
    return result;
}
