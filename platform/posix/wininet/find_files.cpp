// SPDX-License-Identifier: MIT
// The folder search, streamed: FtpFindFirstFileW starts the listing and
// returns with its first entry; each InternetFindNextFileW parses on from the
// data connection as far as its next entry. Memory stays the same whatever
// the folder holds (a session's first LIST listing waits for the server's
// zone, beyond a bound in a temporary file). The end ("no more files") comes
// only after the server has confirmed the whole listing; closing the handle
// earlier aborts it.
#include <fnmatch.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "common/spill_file.h"
#include "common/transcript.h"
#include "common/utf.h"
#include "posix/client/listing_stream.h"
#include "posix/local/local_file.h"
#include "posix/wininet/connection_handle.h"
#include "posix/wininet/file_times.h"
#include "posix/wininet/guarded_call.h"
#include "posix/wire/listing_parser.h"

using namespace quorvane::client;
namespace text = quorvane::text;
namespace trace = quorvane::trace;

namespace {

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
// What one read of the listing may bring; the entries parsed from it wait
// for the caller's next requests.
constexpr std::size_t kReadSize = 64 << 10;

struct SearchEntry {
    std::string name;  // UTF-8: turned into UTF-16 straight into the record
    std::uint64_t size;
    bool directory;
    FILETIME modified;
};

// "*.*" is the platform's "everything", dotless names included. Empty, it
// is not compared again for every entry.
std::string searchPattern(const std::string& pattern)
{
    const bool everything = pattern.size() <= 3 && (pattern == "*" || pattern == "*.*");
    return everything ? std::string() : pattern;
}

bool matchesPattern(const std::string& pattern, const std::string& name)
{
    return pattern.empty() || ::fnmatch(pattern.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
}

// The entry as it can be handed out, or nothing: a name with a control
// character would break the records built from it, and one too long for
// cFileName would have to be cut to a name that is another file's. A LIST
// time moves by the server's zone (seconds east of UTC).
std::optional<SearchEntry> searchEntry(ListingEntry&& entry, const std::string& pattern,
                                       std::int64_t zone)
{
    if (text::hasControlCharacter(entry.name) || !matchesPattern(pattern, entry.name))
        return std::nullopt;
    // UTF-16 never takes more units than UTF-8 takes bytes: only a long name
    // is measured.
    if (entry.name.size() >= MAX_PATH && text::copyUtf16Lossy(entry.name, nullptr, 0) >= MAX_PATH)
        return std::nullopt;
    const auto modified =
        entry.modified ? fileTimeOfUnixSeconds(*entry.modified - zone) : std::nullopt;
    return SearchEntry{std::move(entry.name), entry.size, entry.directory,
                       modified.value_or(FILETIME{0, 0})};
}

// What the parser made of the listing, for a user who misses an entry.
void traceStats(const ListingStats& stats)
{
    auto line = trace::line();
    line << "listing: " << std::uint64_t{stats.parsed}
         << (stats.parsed == 1 ? " entry, " : " entries, ") << std::uint64_t{stats.unparsed}
         << (stats.unparsed == 1 ? " line" : " lines") << " not understood";
    if (stats.unparsed > 0)
        line << ", the first: " << trace::escape(stats.firstUnparsed);
}

// Where the server's zone is not known yet, a LIST listing's entries wait
// until it is: the first listing of a session, to its end, where one
// entry's MDTM tells the zone. This many wait in memory, the rest in a
// temporary file; they go out in batches of kReplayBatch.
constexpr std::size_t kHeldForTheZone = 10'000;
constexpr std::size_t kReplayBatch = 1'000;
constexpr const char* kSpillName = "the listing's temporary file";

// An entry as it waits in the spill file: size, time, flags, then the name.
constexpr std::size_t kSpilledFixed = sizeof(std::uint64_t) + sizeof(std::int64_t) + 1;

// Made in `record`, whose memory serves every entry.
void spill(const ListingEntry& entry, std::string& record)
{
    record.resize(kSpilledFixed);
    const std::int64_t modified = entry.modified.value_or(0);
    std::memcpy(record.data(), &entry.size, sizeof entry.size);
    std::memcpy(record.data() + sizeof entry.size, &modified, sizeof modified);
    record.back() = static_cast<char>((entry.directory ? 1 : 0) | (entry.modified ? 2 : 0));
    record.append(entry.name);
}

std::optional<ListingEntry> unspilled(std::string_view record)
{
    if (record.size() < kSpilledFixed)
        return std::nullopt;
    ListingEntry entry;
    std::int64_t modified = 0;
    std::memcpy(&entry.size, record.data(), sizeof entry.size);
    std::memcpy(&modified, record.data() + sizeof entry.size, sizeof modified);
    const char flags = record[kSpilledFixed - 1];
    entry.directory = (flags & 1) != 0;
    if (flags & 2)
        entry.modified = modified;
    entry.name.assign(record.substr(kSpilledFixed));
    return entry;
}

class FtpSearch final : public HandleObject {
public:
    FtpSearch(std::shared_ptr<FtpConnection> connection, ListingStream stream, std::string pattern,
              ListingFormat format, HINTERNET parent)
        : HandleObject(HandleKind::Search, parent), connection_(std::move(connection)),
          stream_(std::move(stream)), pattern_(searchPattern(pattern)),
          zone_(format == ListingFormat::List ? connection_->listZone() : settledZone()),
          parser_(format, std::time(nullptr) + zone_.offset.value_or(0),
                  [this](ListingEntry&& listed) { take(std::move(listed)); }),
          buffer_(std::make_unique<char[]>(kReadSize))
    {
    }

    // The next entry; at the end of the listing or when it failed, the
    // failure (EndOfListing at the end).
    Outcome<> next(WIN32_FIND_DATAW& record)
    {
        while (next_ == pending_.size()) {
            if (replaySpilled())
                continue;
            if (ended_)
                return *ended_;
            readOn();
        }
        const SearchEntry& entry = pending_[next_++];
        record = {};
        record.dwFileAttributes =
            entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = entry.modified;
        record.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
        record.nFileSizeLow = static_cast<DWORD>(entry.size);
        text::copyUtf16Lossy(entry.name, record.cFileName, MAX_PATH - 1);
        return {};
    }

    void close() override
    {
        if (!ended_)
            finish(Failure{FailureKind::EndOfListing});
        stream_.abort();
    }

private:
    static ListZone settledZone()
    {
        ListZone utc;
        utc.settled = true;
        return utc;
    }

    void take(ListingEntry&& listed)
    {
        // A file: servers refuse MDTM of a folder (pyftpdlib, vsftpd).
        if (listed.timeOfDay && probe_.empty() && listed.modified && !listed.directory) {
            probe_ = listed.name;
            probeListed_ = *listed.modified;
        }
        if (!zone_.settled)
            hold(std::move(listed));
        else if (auto entry = searchEntry(std::move(listed), pattern_, zone_.offset.value_or(0)))
            pending_.push_back(std::move(*entry));
    }

    void hold(ListingEntry&& listed)
    {
        if (held_.size() < kHeldForTheZone) {
            held_.push_back(std::move(listed));
            return;
        }
        if (!spill_) {
            // Unnamed, and gone once closed.
            spill_.emplace(std::tmpfile());
            trace::line() << "listing: more than " << std::uint64_t{kHeldForTheZone}
                          << " entries wait for the server's zone: the rest in a temporary file";
        }
        spill(listed, spillRecord_);
        if (!spill_->append(spillRecord_) && !holdFailure_)
            holdFailure_ = localFailure("write", kSpillName, errno);
    }

    // The held entries go out, moved by the zone as now known.
    void release()
    {
        pending_.reserve(pending_.size() + held_.size());
        for (ListingEntry& listed : held_)
            if (auto entry = searchEntry(std::move(listed), pattern_, zone_.offset.value_or(0)))
                pending_.push_back(std::move(*entry));
        held_.clear();
        held_.shrink_to_fit();
        if (spill_ && !spill_->rewind())
            holdFailure_ = localFailure("read", kSpillName, errno);
    }

    // Once the listing has ended whole: the next batch of the entries that
    // waited in the spill file. False when none are left there.
    bool replaySpilled()
    {
        if (!spill_ || !ended_ || ended_->kind != FailureKind::EndOfListing)
            return false;
        pending_.clear();
        next_ = 0;
        for (std::size_t count = 0; count < kReplayBatch; ++count) {
            const auto record = spill_->next();
            auto listed = record ? unspilled(*record) : std::nullopt;
            if (!listed) {
                if (!record && !spill_->failed())
                    spill_.reset();  // all read back
                else
                    ended_ = localFailure("read", kSpillName, errno);
                return true;
            }
            if (auto entry = searchEntry(std::move(*listed), pattern_, zone_.offset.value_or(0)))
                pending_.push_back(std::move(*entry));
        }
        return true;
    }

    void readOn()
    {
        // All handed out: the memory serves the next read's entries, unless
        // it held a whole release of held entries.
        pending_.clear();
        if (pending_.capacity() > kHeldForTheZone / 2)
            pending_.shrink_to_fit();
        next_ = 0;
        auto got = stream_.read(buffer_.get(), kReadSize);
        if (got && *got > 0) {
            parser_.feed(std::string_view(buffer_.get(), *got));
            if (holdFailure_) {
                stream_.abort();
                finish(*holdFailure_);
            }
            return;
        }
        if (!got) {
            stream_.abort();
            finish(std::move(got).failure());
            return;
        }
        parser_.finish();
        auto confirmed = stream_.end();
        if (confirmed && !zone_.settled) {
            connection_->learnListZone(probe_, probeListed_);
            zone_ = connection_->listZone();
        }
        finish(confirmed ? Failure{FailureKind::EndOfListing} : std::move(confirmed).failure());
    }

    void finish(Failure end)
    {
        traceStats(parser_.stats());
        if (end.kind == FailureKind::EndOfListing)
            release();
        ended_ = holdFailure_ ? *holdFailure_ : std::move(end);
    }

    std::shared_ptr<FtpConnection> connection_;
    ListingStream stream_;
    std::string pattern_;
    ListZone zone_;
    ListingParser parser_;
    std::unique_ptr<char[]> buffer_;
    std::vector<ListingEntry> held_;  // until the zone is known
    std::optional<SpillFile> spill_;  // those held beyond kHeldForTheZone
    std::string spillRecord_;  // the one being spilled
    std::optional<Failure> holdFailure_;  // the spill file could not be used
    std::string probe_;  // the first name listed with a time of day
    std::int64_t probeListed_ = 0;
    std::vector<SearchEntry> pending_;  // parsed from the last read
    std::size_t next_ = 0;  // the first of them not handed out yet
    std::optional<Failure> ended_;  // how the listing ended, once it has
};

}  // namespace

HINTERNET FtpFindFirstFileW(HINTERNET connect, LPCWSTR searchFile, WIN32_FIND_DATAW* findData,
                            DWORD, DWORD_PTR)
{
    return guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        auto connection = connectionOf(connect);
        if (!connection) {
            reportFailure(connection.failure());
            return nullptr;
        }
        const auto pattern = searchFile ? commandText(searchFile) : std::string();
        if (!findData || !pattern) {
            reportFailure(Failure{FailureKind::InvalidArgument, "a pattern the client cannot use"});
            return nullptr;
        }
        // Times found are shown in the zone in effect now, even if TZ or
        // /etc/localtime changed since the host started.
        readZoneAgain();

        const bool mlsd = (*connection)->features().mlst;
        auto stream = ListingStream::open(*connection, mlsd ? "MLSD" : "LIST");
        if (!stream) {
            reportFailure(stream.failure());
            return nullptr;
        }
        auto search =
            std::make_shared<FtpSearch>(*connection, std::move(*stream), *pattern,
                                        mlsd ? ListingFormat::Mlsd : ListingFormat::List, connect);
        if (auto first = search->next(*findData); !first) {
            search->close();  // an empty folder: no more files
            reportFailure(first.failure());
            return nullptr;
        }
        return registerHandle(std::move(search));
    });
}

BOOL InternetFindNextFileW(HINTERNET find, void* findData)
{
    return guarded<BOOL>(FALSE, [&]() -> BOOL {
        auto search = findHandleAs<FtpSearch>(find, HandleKind::Search);
        if (!search)
            return entryPointResult(search);
        if (!findData)
            return entryPointResult(
                Outcome<>(Failure{FailureKind::InvalidArgument, "no record to fill"}));
        return entryPointResult((*search)->next(*static_cast<WIN32_FIND_DATAW*>(findData)));
    });
}
