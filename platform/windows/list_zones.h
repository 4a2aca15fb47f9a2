// SPDX-License-Identifier: MIT
// WinINet's searches as the shim hands them out. WinINet fills each found
// record with the server's LIST time, its fields as listed, as if UTC. Many
// servers list in their own local time: as our own client does, the first
// listing of a session holds its entries (beyond a bound in a temporary
// file), asks MDTM (UTC) of one entry listed with a time of day, and moves
// every time of the session by the zone that shows. Names with control
// characters, which would break the listing file, are skipped.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "common/spill_file.h"

class ListZones {
public:
    // Takes over WinINet's search `found` of `connect`, whose first record
    // is `first`; the handle to use from now on, or null (with the last
    // error set) when no usable entry comes.
    HINTERNET start(HINTERNET connect, HINTERNET found, WIN32_FIND_DATAW& first);
    BOOL next(HINTERNET search, WIN32_FIND_DATAW& record);
    // Closes a search handed out here, or passes any other handle on to
    // WinINet (forgetting what was learnt of a session it closes).
    BOOL close(HINTERNET handle);

private:
    struct Zone {
        bool settled = false;
        bool unknownSaid = false;  // "no entry shows a time of day", once
        std::int64_t offset = 0;  // seconds east of UTC
    };
    struct Search {
        HINTERNET connect = nullptr;
        HINTERNET wininet = nullptr;  // null once WinINet's search ended
        std::deque<WIN32_FIND_DATAW> held;
        std::optional<SpillFile> spill;  // held beyond the bound
        DWORD failure = 0;  // the error once the held records are out
        std::optional<WIN32_FIND_DATAW> probe;  // listed with a time of day
    };

    void hold(Search& search, Zone& zone);
    static bool keep(Search& search, const WIN32_FIND_DATAW& record);
    void learn(const Search& search, Zone& zone);
    BOOL deliver(Search& search, WIN32_FIND_DATAW& record);
    void endWinInetSearch(Search& search);

    std::mutex mutex_;
    std::map<HINTERNET, Zone> zones_;  // by connect handle
    std::map<HINTERNET, std::unique_ptr<Search>> searches_;  // by the handle handed out
};

ListZones& listZones();
