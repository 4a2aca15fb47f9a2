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
#include <ctime>
#include <memory>
#include <vector>

#include "common/transcript.h"
#include "common/utf.h"
#include "posix/client/listing_stream.h"
#include "posix/local/local_file.h"
#include "posix/wininet/connection_handle.h"
#include "posix/wininet/file_times.h"
#include "posix/wininet/guarded_call.h"
#include "posix/wininet/held_entries.h"
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

// An entry ready to be handed out. Its name waits in UTF-8 among the others
// of its batch, and is turned into UTF-16 straight into the record.
struct SearchEntry {
    std::size_t nameAt;
    std::size_t nameSize;
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

bool matchesPattern(const std::string& pattern, std::string_view name)
{
    return pattern.empty() ||
           ::fnmatch(pattern.c_str(), std::string(name).c_str(), FNM_NOESCAPE) == 0;
}

// Whether the entry can be handed out: a name with a control character would
// break the records built from it, and one too long for cFileName would have
// to be cut to a name that is another file's.
bool canHandOut(std::string_view name, const std::string& pattern)
{
    if (text::hasControlCharacter(name) || !matchesPattern(pattern, name))
        return false;
    // UTF-16 never takes more units than UTF-8 takes bytes: only a long name
    // is measured.
    return name.size() < MAX_PATH || text::copyUtf16Lossy(name, nullptr, 0) < MAX_PATH;
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
// entry's MDTM tells the zone. They go out in batches of kReplayBatch.
constexpr std::size_t kReplayBatch = 1'000;
constexpr const char* kSpillName = "the listing's temporary file";

class FtpSearch final : public HandleObject {
public:
    FtpSearch(std::shared_ptr<FtpConnection> connection, ListingStream stream, std::string pattern,
              ListingFormat format, HINTERNET parent)
        : HandleObject(HandleKind::Search, parent), connection_(std::move(connection)),
          stream_(std::move(stream)), pattern_(searchPattern(pattern)),
          zone_(format == ListingFormat::List ? connection_->listZone() : settledZone()),
          parser_(format, std::time(nullptr) + zone_.offset.value_or(0),
                  [this](const ListingEntry& listed) { take(listed); }),
          buffer_(std::make_unique<char[]>(kReadSize))
    {
    }

    // The next entry; at the end of the listing or when it failed, the
    // failure (EndOfListing at the end).
    Outcome<> next(WIN32_FIND_DATAW& record)
    {
        while (next_ == pending_.size()) {
            if (replayHeld())
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
        text::copyUtf16Lossy(std::string_view(pendingNames_).substr(entry.nameAt, entry.nameSize),
                             record.cFileName, MAX_PATH - 1);
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

    void take(const ListingEntry& listed)
    {
        // A file: servers refuse MDTM of a folder (pyftpdlib, vsftpd).
        if (listed.timeOfDay && probe_.empty() && listed.modified && !listed.directory) {
            probe_ = listed.name;
            probeListed_ = *listed.modified;
        }
        if (zone_.settled)
            addPending(listed.name, listed.size, listed.directory, listed.modified);
        else if (!held_.add(listed) && !holdFailure_)
            holdFailure_ = localFailure("write", kSpillName, errno);
    }

    // A LIST time moves by the server's zone (seconds east of UTC).
    void addPending(std::string_view name, std::uint64_t size, bool directory,
                    std::optional<std::int64_t> listed)
    {
        if (!canHandOut(name, pattern_))
            return;
        const auto modified =
            listed ? fileTimeOfUnixSeconds(*listed - zone_.offset.value_or(0)) : std::nullopt;
        pending_.push_back(SearchEntry{pendingNames_.size(), name.size(), size, directory,
                                       modified.value_or(FILETIME{0, 0})});
        pendingNames_.append(name);
    }

    // Once the listing has ended whole: the next batch of the entries that
    // waited for the zone. False when none are left.
    bool replayHeld()
    {
        if (!releasing_)
            return false;
        startBatch();
        for (std::size_t count = 0; count < kReplayBatch; ++count) {
            const auto held = held_.next();
            if (!held) {
                releasing_ = false;
                if (held_.failed())
                    ended_ = localFailure("read", kSpillName, errno);
                return true;
            }
            addPending(held->name, held->size, held->directory, held->modified);
        }
        return true;
    }

    // All handed out: the memory serves the next entries.
    void startBatch()
    {
        pending_.clear();
        pendingNames_.clear();
        next_ = 0;
    }

    void readOn()
    {
        startBatch();
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
        // The held entries go out, moved by the zone as now known.
        if (end.kind == FailureKind::EndOfListing && !holdFailure_) {
            releasing_ = held_.rewind();
            if (!releasing_)
                holdFailure_ = localFailure("read", kSpillName, errno);
        }
        ended_ = holdFailure_ ? *holdFailure_ : std::move(end);
    }

    std::shared_ptr<FtpConnection> connection_;
    ListingStream stream_;
    std::string pattern_;
    ListZone zone_;
    ListingParser parser_;
    std::unique_ptr<char[]> buffer_;
    HeldEntries held_;  // until the zone is known
    bool releasing_ = false;  // the listing has ended whole: held_ goes out
    std::optional<Failure> holdFailure_;  // the temporary file could not be used
    std::string probe_;  // the first name listed with a time of day
    std::int64_t probeListed_ = 0;
    std::vector<SearchEntry> pending_;  // parsed from the last read, or released
    std::string pendingNames_;  // their names, one after the other
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
