// The process's single FTP session and the result codes of the exported
// functions.
#pragma once

#include "Quorvane2.h"
#include "wininet_api.h"

// Both handles are null while the session is Closed. Zero by static
// initialisation: no code runs at load to set it up.
struct FTPSession {
    HINTERNET hInternet;
    HINTERNET hConnect;
};

extern FTPSession gFTPSession;
