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

        // Times found are shown in the zone in effect now, even if TZ or
        // /etc/localtime changed since the host started (localtime_r alone
        // never looks again).
        ::tzset();

        // Parsed while it arrives; handed out only once the server has
        // confirmed the whole listing.
        const bool mlsd = connection->features().mlst;
        std::vector<SearchEntry> entries;
        ListingParser parser(mlsd ? ListingFormat::Mlsd : ListingFormat::List, std::time(nullptr),
                             [&](ListingEntry&& listed) {
                                 if (auto entry = searchEntry(listed, *pattern))
                                     entries.push_back(std::move(*entry));
                             });
        if (!connection->list(mlsd ? "MLSD" : "LIST",
                              [&](std::string_view piece) { parser.feed(piece); }))
            return nullptr;
        parser.finish();
        auto search = std::make_shared<FtpSearch>(std::move(entries), connection, connect);
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
