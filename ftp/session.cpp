#include "session.h"

constinit FTPSession gFTPSession{};

namespace {

constexpr const auto* kAgentName = QV_WIDE("Quorvane");

void closeSession(FTPSession& session)
{
    // Only what is open; the results of the closes are of no use.
    if (session.hConnect)
        InternetCloseHandle(session.hConnect);
    if (session.hInternet)
        InternetCloseHandle(session.hInternet);
    session = {};
}

FTPResult logIn(WideString server, WideString user, WideString password)
{
    HINTERNET internet = InternetOpenW(kAgentName, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet)
        return FTP_RESULT_NO_INTERNET;

    // A log-in over an open session replaces it; close the old one first so
    // its connection does not leak.
    closeSession(gFTPSession);
    gFTPSession.hInternet = internet;
    gFTPSession.hConnect =
        InternetConnectW(internet, server, INTERNET_DEFAULT_FTP_PORT, user, password,
                         INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    if (!gFTPSession.hConnect) {
        closeSession(gFTPSession);
        return FTP_RESULT_FAILED;
    }
    return FTP_RESULT_OK;
}

}  // namespace

extern "C" FTPResult FTPServerLogIn(WideString server, WideString user, WideString password)
{
    // The password is never passed on to the transcript.
    return traced("FTPServerLogIn", logIn(server, user, password), server, user);
}

extern "C" FTPResult FTPServerLogOut(void)
{
    closeSession(gFTPSession);
    return traced("FTPServerLogOut", FTP_RESULT_OK);
}
