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

struct FakePlatform {
    // Script.
    bool openSucceeds = true;
    bool connectSucceeds = true;

    // Record.
    std::vector<OpenCall> opens;
    std::vector<ConnectCall> connects;
    std::vector<HINTERNET> closes;  // every InternetCloseHandle argument, nulls included
    std::set<HINTERNET> openHandles;

    void reset() { *this = FakePlatform(); }
};

FakePlatform& fakePlatform();
