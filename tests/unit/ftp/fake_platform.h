// SPDX-License-Identifier: MIT
// A scriptable stand-in for the platform, linked in place of the real one:
// records every call with its arguments and answers as a test tells it to.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "runtime_api.h"

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

struct FindFirstCall {
    HINTERNET connect;
    std::u16string pattern;
    DWORD flags;
    DWORD_PTR context;
};

// An exported call's outcome, as given to the transcript.
struct TracedCall {
    std::string call;
    std::u16string first, second;  // empty when not given
    int result;
};

// One write to a stream, as the text it appended.
struct StreamWrite {
    std::u16string path;
    std::u16string text;
    bool formatted;
};

struct FakePlatform {
    // Script.
    bool openSucceeds = true;
    bool connectSucceeds = true;
    bool commandSucceeds = true;  // FTP operations on an open connection
    std::vector<WIN32_FIND_DATAW> entries;  // what a search delivers
    DWORD searchEndError = ERROR_NO_MORE_FILES;  // how it ends (also when empty)
    bool streamOpenSucceeds = true;
    bool streamWritesFail = false;
    long long localOffsetSeconds = 0;  // of the local zone, for every instant

    // Record, and the fake's file system.
    std::vector<FindFirstCall> findFirsts;
    std::vector<HINTERNET> openSearches;
    std::vector<StreamWrite> writes;
    std::map<std::u16string, std::u16string> files;  // closed files by path
    std::vector<std::u16string> openModes;
    std::vector<FILETIME> convertedTimes;

    // Record.
    std::vector<OpenCall> opens;
    std::vector<ConnectCall> connects;
    std::vector<FtpCall> ftpCalls;
    std::vector<HINTERNET> closes;  // every InternetCloseHandle argument, nulls included
    std::set<HINTERNET> openHandles;
    std::vector<TracedCall> traced;

    void reset() { *this = FakePlatform(); }
};

FakePlatform& fakePlatform();
