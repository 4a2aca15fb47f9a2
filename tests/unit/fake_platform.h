// A scriptable stand-in for the platform, linked in place of the real one:
// records every call with its arguments and answers as a test tells it to.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "wininet_api.h"

struct OpenCall {
    std::u16string agent;
    DWORD accessType;
    LPCWSTR proxy;
    LPCWSTR proxyBypass;
    DWORD flags;
};

struct ConnectCall {
    HINTERNET internet;
    LPCWSTR server;
    INTERNET_PORT port;
    LPCWSTR user;
    LPCWSTR password;
    DWORD service;
    DWORD flags;
    DWORD_PTR context;
};

// One FTP operation on a connection, with the arguments it was given in the
// order the operation takes them.
struct FtpCall {
    std::string operation;
    HINTERNET connect;
    LPCWSTR first;
    LPCWSTR second = nullptr;
    BOOL failIfExists = -1;
    DWORD attributes = 0xFFFFFFFF;
    DWORD flags = 0xFFFFFFFF;
    DWORD_PTR context = 0xFFFFFFFF;
};

struct FakePlatform {
    // Script.
    bool openSucceeds = true;
    bool connectSucceeds = true;
    bool commandSucceeds = true;  // FTP operations on an open connection

    // Record.
    std::vector<OpenCall> opens;
    std::vector<ConnectCall> connects;
    std::vector<FtpCall> ftpCalls;
    std::vector<HINTERNET> closes;  // every InternetCloseHandle argument, nulls included
    std::set<HINTERNET> openHandles;

    void reset() { *this = FakePlatform(); }
};

FakePlatform& fakePlatform();
