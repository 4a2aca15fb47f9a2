// The folder search, streamed: FtpFindFirstFileW starts the listing and
// returns with its first entry; each InternetFindNextFileW parses on from the
// data connection as far as its next entry. Memory stays the same whatever
// the folder holds. The end ("no more files") comes only after the server has
// confirmed the whole listing; closing the handle earlier aborts it.
#include <fnmatch.h>

#include <ctime>
#include <deque>
#include <memory>

#include "entry_point.h"
#include "file_time.h"
#include "ftp_connection.h"
#include "listing_parser.h"

using namespace quorvane::client;
namespace text = quorvane::text;

namespace {

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
// What one read of the listing may bring; the entries parsed from it wait
// for the caller's next requests.
constexpr std::size_t kReadSize = 64 << 10;

struct SearchEntry {
    std::u16string name;
    std::uint64_t size;
    bool directory;
    FILETIME modified;
};

bool matchesPattern(const std::string& pattern, const std::string& name)
{
    // "*.*" is the platform's "everything", dotless names included.
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    return ::fnmatch(pattern.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
}

// The entry as it can be handed out, or nothing: a name with a control
// character would break the records built from it, and one too long for
// cFileName would have to be cut to a name that is another file's.
std::optional<SearchEntry> searchEntry(const ListingEntry& entry, const std::string& pattern)
{
    if (text::hasControlCharacter(entry.name) || !matchesPattern(pattern, entry.name))
        return std::nullopt;
    std::u16string name = text::toUtf16Lossy(entry.name);
    if (name.size() >= MAX_PATH)
        return std::nullopt;
    const auto modified = entry.modified ? fileTimeOfUnixSeconds(*entry.modified) : std::nullopt;
    return SearchEntry{std::move(name), entry.size, entry.directory,
                       modified.value_or(FILETIME{0, 0})};
}

class FtpSearch final : public HandleObject {
public:
    FtpSearch(std::shared_ptr<FtpConnection> connection, std::string pattern, ListingFormat format,
              HINTERNET parent)
        : HandleObject(HandleKind::Search, parent), connection_(std::move(connection)),
          pattern_(std::move(pattern)),
          parser_(format, std::time(nullptr),
                  [this](ListingEntry&& listed) {
                      if (auto entry = searchEntry(listed, pattern_))
                          pending_.push_back(std::move(*entry));
                  }),
          buffer_(std::make_unique<char[]>(kReadSize)) {}

    // The next entry; false with the last error set at the end of the
    // listing (ERROR_NO_MORE_FILES) or when it failed (anything else).
    bool next(WIN32_FIND_DATAW& record)
    {
        while (pending_.empty()) {
            if (state_ != State::Reading) {
                SetLastError(error_);
                return false;
            }
            readOn();
        }
        const SearchEntry& entry = pending_.front();
        record = {};
        record.dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = entry.modified;
        record.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
        record.nFileSizeLow = static_cast<DWORD>(entry.size);
        entry.name.copy(record.cFileName, entry.name.size());
        pending_.pop_front();
        return true;
    }

    void close() override
    {
        if (state_ == State::Reading)
            connection_->abortListing();
        state_ = State::Failed;
    }

private:
    enum class State { Reading, Ended, Failed };

    void readOn()
    {
        std::size_t got = 0;
        const IoStatus status = connection_->readListing(buffer_.get(), kReadSize, got);
        if (status == IoStatus::Ok) {
            parser_.feed(std::string_view(buffer_.get(), got));
            return;
        }
        if (status == IoStatus::Closed) {
            parser_.finish();
            const bool confirmed = connection_->endListing();
            state_ = confirmed ? State::Ended : State::Failed;
            error_ = confirmed ? ERROR_NO_MORE_FILES : GetLastError();
            return;
        }
        error_ = status == IoStatus::TimedOut ? ERROR_INTERNET_TIMEOUT
                                              : ERROR_INTERNET_CONNECTION_ABORTED;
        connection_->abortListing();
        state_ = State::Failed;
    }

    std::shared_ptr<FtpConnection> connection_;
    std::string pattern_;
    ListingParser parser_;
    std::unique_ptr<char[]> buffer_;
    std::deque<SearchEntry> pending_;
    State state_ = State::Reading;
    DWORD error_ = ERROR_NO_MORE_FILES;
};

}  // namespace

HINTERNET FtpFindFirstFileW(HINTERNET connect, LPCWSTR searchFile, WIN32_FIND_DATAW* findData,
                            DWORD, DWORD_PTR)
{
    return guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        const auto connection = findHandleAs<FtpConnection>(connect, HandleKind::Connection);
        if (!connection)
            return nullptr;
        const auto pattern = searchFile ? commandText(searchFile) : std::string();
        if (!findData || !pattern) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        // Times found are shown in the zone in effect now, even if TZ or
        // /etc/localtime changed since the host started (localtime_r alone
        // never looks again).
        ::tzset();

        const bool mlsd = connection->features().mlst;
        if (!connection->beginListing(mlsd ? "MLSD" : "LIST"))
            return nullptr;
        auto search = std::make_shared<FtpSearch>(
            connection, *pattern, mlsd ? ListingFormat::Mlsd : ListingFormat::List, connect);
        if (!search->next(*findData)) {
            const DWORD error = GetLastError();  // an empty folder: no more files
            search->close();
            SetLastError(error);
            return nullptr;
        }
        return registerHandle(std::move(search));
    });
}

BOOL InternetFindNextFileW(HINTERNET find, void* findData)
{
    return guarded<BOOL>(FALSE, [&]() -> BOOL {
        const auto search = findHandleAs<FtpSearch>(find, HandleKind::Search);
        if (!search)
            return FALSE;
        if (!findData) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return search->next(*static_cast<WIN32_FIND_DATAW*>(findData)) ? TRUE : FALSE;
    });
}
