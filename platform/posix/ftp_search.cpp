// The folder search: FtpFindFirstFileW fetches and parses the whole listing
// in one transfer, then hands out its entries one by one.
#include <fnmatch.h>

#include <ctime>
#include <vector>

#include "entry_point.h"
#include "file_time.h"
#include "ftp_connection.h"
#include "listing_parser.h"

using namespace quorvane::client;
namespace text = quorvane::text;

namespace {

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

struct SearchEntry {
    std::u16string name;
    std::uint64_t size;
    bool directory;
    FILETIME modified;
};

class FtpSearch final : public HandleObject {
public:
    FtpSearch(std::vector<SearchEntry> entries, std::shared_ptr<FtpConnection> connection,
              HINTERNET parent)
        : HandleObject(HandleKind::Search, parent), entries_(std::move(entries)),
          connection_(std::move(connection)) {}

    bool next(WIN32_FIND_DATAW& record)
    {
        if (next_ == entries_.size())
            return false;
        const SearchEntry& entry = entries_[next_++];
        record = {};
        record.dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = entry.modified;
        record.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
        record.nFileSizeLow = static_cast<DWORD>(entry.size);
        entry.name.copy(record.cFileName, entry.name.size());
        return true;
    }

    void close() override { connection_->endSearch(); }

private:
    std::vector<SearchEntry> entries_;
    std::size_t next_ = 0;
    std::shared_ptr<FtpConnection> connection_;
};

bool matchesPattern(const std::string& pattern, const std::string& name)
{
    // "*.*" is the platform's "everything", dotless names included.
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    return ::fnmatch(pattern.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
}

// The entries that can be handed out: a name with a control character would
// break the records built from it, and one too long for cFileName would have
// to be cut to a name that is another file's.
std::vector<SearchEntry> searchEntries(std::vector<ListingEntry> listed, const std::string& pattern)
{
    std::vector<SearchEntry> entries;
    entries.reserve(listed.size());
    for (ListingEntry& entry : listed) {
        if (text::hasControlCharacter(entry.name) || !matchesPattern(pattern, entry.name))
            continue;
        std::u16string name = text::toUtf16Lossy(entry.name);
        if (name.size() >= MAX_PATH)
            continue;
        const auto modified = entry.modified ? fileTimeOfUnixSeconds(*entry.modified) : std::nullopt;
        entries.push_back({std::move(name), entry.size, entry.directory,
                           modified.value_or(FILETIME{0, 0})});
    }
    return entries;
}

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
        if (!connection->beginSearch()) {
            SetLastError(ERROR_FTP_TRANSFER_IN_PROGRESS);
            return nullptr;
        }
        struct EndUnlessKept {
            FtpConnection& connection;
            bool kept = false;
            ~EndUnlessKept() { if (!kept) connection.endSearch(); }
        } searchSlot{*connection};

        const bool mlsd = connection->features().mlst;
        auto listing = connection->list(mlsd ? "MLSD" : "LIST");
        if (!listing)
            return nullptr;
        ListingStats stats;
        auto listed = parseListing(*listing, mlsd ? ListingFormat::Mlsd : ListingFormat::List,
                                   std::time(nullptr), stats);
        listing.reset();  // the text is no longer needed; don't hold it twice
        auto search = std::make_shared<FtpSearch>(searchEntries(std::move(listed), *pattern),
                                                  connection, connect);
        if (!search->next(*findData)) {
            SetLastError(ERROR_NO_MORE_FILES);
            return nullptr;
        }
        HINTERNET handle = registerHandle(std::move(search));
        searchSlot.kept = true;
        return handle;
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
        if (!search->next(*static_cast<WIN32_FIND_DATAW*>(findData))) {
            SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        }
        return TRUE;
    });
}
