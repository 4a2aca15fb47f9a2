// SPDX-License-Identifier: MIT
#include "windows/list_zones.h"

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>

#include "common/list_zone.h"
#include "common/transcript.h"
#include "common/utf.h"

namespace {

using quorvane::trace::line;

// As our own client holds them: this many in memory, the rest in a
// temporary file.
constexpr std::size_t kHeldForTheZone = 10'000;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

std::int64_t ticksOf(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

std::int64_t secondsOf(const FILETIME& time) { return ticksOf(time) / kTicksPerSecond; }

void moveBy(FILETIME& time, std::int64_t seconds)
{
    const auto ticks = static_cast<std::uint64_t>(ticksOf(time) - seconds * kTicksPerSecond);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    time.dwLowDateTime = static_cast<DWORD>(ticks);
}

// C0 and C1 controls and the Unicode line and paragraph separators: each
// would break the listing's records for some reader.
bool hasControlCharacter(const wchar_t* name)
{
    return quorvane::text::hasControlCharacter(
        quorvane::text::wideView(reinterpret_cast<const char16_t*>(name)));
}

// A file listed with a time of day, fit to ask MDTM of: servers refuse
// MDTM of a folder; WinINet gives an entry listed with a year 00:00 (Wine:
// 12:00), so any other time was listed as a time of day; and the name goes
// into a command WinINet sends in the ANSI code page, so ASCII only.
bool fitToProbe(const WIN32_FIND_DATAW& record)
{
    if (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    SYSTEMTIME fields{};
    if (!FileTimeToSystemTime(&record.ftLastWriteTime, &fields))
        return false;
    if (fields.wMinute == 0 && (fields.wHour == 0 || fields.wHour == 12))
        return false;
    for (const wchar_t* c = record.cFileName; *c; ++c)
        if (*c < 0x21 || *c > 0x7e)
            return false;
    return true;
}

// Unnamed to the caller, and deleted once closed.
std::FILE* openSpillFile()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    wchar_t name[MAX_PATH];
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"qv", 0, name) == 0)
        return nullptr;
    std::FILE* file = _wfopen(name, L"w+bTD");  // T: short-lived, D: deleted on close
    if (!file)
        DeleteFileW(name);
    return file;
}

// A record as it waits in the spill file: these fields, then the name.
struct SpilledFields {
    DWORD attributes, sizeHigh, sizeLow;
    FILETIME written;
};

std::string spilled(const WIN32_FIND_DATAW& record)
{
    const SpilledFields fields{record.dwFileAttributes, record.nFileSizeHigh, record.nFileSizeLow,
                               record.ftLastWriteTime};
    std::string bytes(reinterpret_cast<const char*>(&fields), sizeof fields);
    return bytes.append(reinterpret_cast<const char*>(record.cFileName),
                        std::wcslen(record.cFileName) * sizeof(wchar_t));
}

bool unspilled(std::string_view bytes, WIN32_FIND_DATAW& record)
{
    if (bytes.size() < sizeof(SpilledFields))
        return false;
    const std::size_t units = (bytes.size() - sizeof(SpilledFields)) / sizeof(wchar_t);
    if (units >= MAX_PATH)
        return false;
    SpilledFields fields;
    std::memcpy(&fields, bytes.data(), sizeof fields);
    record = {};
    record.dwFileAttributes = fields.attributes;
    record.nFileSizeHigh = fields.sizeHigh;
    record.nFileSizeLow = fields.sizeLow;
    record.ftLastWriteTime = fields.written;
    std::memcpy(record.cFileName, bytes.data() + sizeof fields, units * sizeof(wchar_t));
    return true;
}

// The MDTM time (UTC) the server just answered, as seconds since 1601.
std::optional<std::int64_t> mdtmReplySeconds()
{
    wchar_t reply[512];
    DWORD length = sizeof reply / sizeof reply[0];
    DWORD error = 0;
    if (!InternetGetLastResponseInfoW(&error, reply, &length))
        return std::nullopt;
    const std::wstring text(reply, length);
    const std::size_t at = text.rfind(L"213 ");
    if (at == std::wstring::npos)
        return std::nullopt;
    const std::wstring time = text.substr(at + 4, 14);
    const auto fields = quorvane::text::mdtmFields(std::string(time.begin(), time.end()));
    if (!fields)
        return std::nullopt;
    SYSTEMTIME system{};
    system.wYear = static_cast<WORD>(fields->year);
    system.wMonth = static_cast<WORD>(fields->month);
    system.wDay = static_cast<WORD>(fields->day);
    system.wHour = static_cast<WORD>(fields->hour);
    system.wMinute = static_cast<WORD>(fields->minute);
    system.wSecond = static_cast<WORD>(fields->second);
    FILETIME utc{};
    if (!SystemTimeToFileTime(&system, &utc))
        return std::nullopt;
    return secondsOf(utc);
}

}  // namespace

HINTERNET ListZones::start(HINTERNET connect, HINTERNET found, WIN32_FIND_DATAW& first)
{
    std::lock_guard lock(mutex_);
    auto search = std::make_unique<Search>();
    search->connect = connect;
    search->wininet = found;
    search->held.push_back(first);
    Zone& zone = zones_[connect];
    if (!zone.settled)
        hold(*search, zone);
    if (!deliver(*search, first)) {
        const DWORD error = GetLastError();
        endWinInetSearch(*search);
        SetLastError(error);
        return nullptr;
    }
    const auto handle = reinterpret_cast<HINTERNET>(search.get());
    searches_.emplace(handle, std::move(search));
    return handle;
}

BOOL ListZones::next(HINTERNET handle, WIN32_FIND_DATAW& record)
{
    std::lock_guard lock(mutex_);
    const auto search = searches_.find(handle);
    if (search == searches_.end())
        return InternetFindNextFileW(handle, &record);
    return deliver(*search->second, record);
}

BOOL ListZones::close(HINTERNET handle)
{
    std::lock_guard lock(mutex_);
    if (const auto search = searches_.find(handle); search != searches_.end()) {
        endWinInetSearch(*search->second);
        searches_.erase(search);
        return TRUE;
    }
    for (auto search = searches_.begin(); search != searches_.end();) {
        if (search->second->connect != handle) {
            ++search;
            continue;
        }
        endWinInetSearch(*search->second);
        search = searches_.erase(search);
    }
    zones_.erase(handle);
    return InternetCloseHandle(handle);
}

// Holds the first listing's entries until WinINet's search ends, then
// learns the zone. A failure of WinINet's, or of the spill file, is given
// once the records held before it are out.
void ListZones::hold(Search& search, Zone& zone)
{
    if (fitToProbe(search.held.front()))
        search.probe = search.held.front();
    WIN32_FIND_DATAW record{};
    while (InternetFindNextFileW(search.wininet, &record))
        if (!keep(search, record))
            break;
    if (!search.failure && GetLastError() != ERROR_NO_MORE_FILES)
        search.failure = GetLastError();
    if (!search.failure && search.spill && !search.spill->rewind()) {
        line() << "cannot read back the listing's temporary file: " << std::strerror(errno);
        search.failure = ERROR_READ_FAULT;
    }
    endWinInetSearch(search);
    if (search.failure)
        search.spill.reset();
    else
        learn(search, zone);
}

// Keeps one more record of a held search; false when it could not.
bool ListZones::keep(Search& search, const WIN32_FIND_DATAW& record)
{
    if (!search.probe && fitToProbe(record))
        search.probe = record;
    if (search.held.size() < kHeldForTheZone) {
        search.held.push_back(record);
        return true;
    }
    if (!search.spill)
        search.spill.emplace(openSpillFile());
    if (search.spill->append(spilled(record)))
        return true;
    line() << "cannot hold the listing in a temporary file: " << std::strerror(errno);
    search.failure = ERROR_WRITE_FAULT;
    return false;
}

void ListZones::learn(const Search& search, Zone& zone)
{
    const auto keep = [&](const char* why) {
        zone.settled = true;
        line() << "LIST times are taken as UTC: " << why;
    };
    if (!search.probe) {
        if (!zone.unknownSaid)
            line() << "LIST times are taken as UTC: no entry shows a time of day";
        zone.unknownSaid = true;
        return;
    }
    const std::wstring command = std::wstring(L"MDTM ") + search.probe->cFileName;
    if (!FtpCommandW(search.connect, FALSE, FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr))
        return keep("MDTM was refused");
    const auto truth = mdtmReplySeconds();
    if (!truth)
        return keep("MDTM gave no time");
    const auto offset =
        quorvane::text::listZoneOffset(secondsOf(search.probe->ftLastWriteTime), *truth);
    if (!offset)
        return keep("MDTM and LIST are further apart than any zone");
    zone.settled = true;
    zone.offset = *offset;
    const std::wstring name = search.probe->cFileName;
    line() << "LIST times are " << quorvane::text::zoneText(*offset) << " (MDTM of "
           << std::string(name.begin(), name.end()) << ")";
}

// The next usable record, its time moved by the zone as now known.
BOOL ListZones::deliver(Search& search, WIN32_FIND_DATAW& record)
{
    for (;;) {
        if (!search.held.empty()) {
            record = search.held.front();
            search.held.pop_front();
        } else if (search.spill) {
            const auto bytes = search.spill->next();
            if (!bytes || !unspilled(*bytes, record)) {
                if (bytes || search.spill->failed())
                    search.failure = ERROR_READ_FAULT;
                search.spill.reset();
                continue;
            }
        } else if (search.failure) {
            SetLastError(search.failure);
            return FALSE;
        } else if (!search.wininet) {
            SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        } else if (!InternetFindNextFileW(search.wininet, &record)) {
            return FALSE;
        }
        if (hasControlCharacter(record.cFileName))
            continue;
        moveBy(record.ftLastWriteTime, zones_[search.connect].offset);
        record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime;
        return TRUE;
    }
}

void ListZones::endWinInetSearch(Search& search)
{
    if (search.wininet)
        InternetCloseHandle(search.wininet);
    search.wininet = nullptr;
}

ListZones& listZones()
{
    static ListZones zones;
    return zones;
}
