// SPDX-License-Identifier: MIT
// Downloads kept across calls and restarts: a named partial file beside its
// target, and beside it a record of what it is a part of (the server and
// remote path, the remote file's size and time) and how much of it is known
// to be on the disk. A power cut may take what was written after the last
// flush; the record never claims more than was flushed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>

#include "common/write_all.h"
#include "posix/local/local_file.h"
#include "posix/local/target_place.h"

namespace quorvane::client {
namespace {

constexpr std::string_view kPartialPrefix = ".quorvane-partial-";
constexpr std::string_view kHeader = "quorvane-partial 1";
// Flushed, and recorded, every so many bytes, or every so often on a slow
// link (once a little has come): what a power cut or a kill can take.
constexpr std::uint64_t kCheckpoint = 8 << 20;
constexpr auto kCheckpointEvery = std::chrono::seconds(2);
constexpr std::uint64_t kCheckpointAtLeast = 256 << 10;
// Partials nobody has touched this long are of no more use.
constexpr auto kStale = std::chrono::hours(72);

// The partial's name for a target: a 64-bit FNV-1a hash of its name.
std::string partialName(const std::string& target)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : target.substr(target.rfind('/') + 1)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "%.*s%016llx", static_cast<int>(kPartialPrefix.size()),
                  kPartialPrefix.data(), static_cast<unsigned long long>(hash));
    return name;
}

struct Record {
    std::string target;
    std::string source;
    TemporaryFile::Kept kept;
};

std::optional<std::uint64_t> numberOr(const std::string& text)
{
    if (text == "-" || text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

// The record as written, or nothing where there is none that can be read.
std::optional<Record> readRecord(int folder, const std::string& name)
{
    const FileDescriptor fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    char text[8192];
    const ssize_t got = fd ? ::read(fd.get(), text, sizeof text) : -1;
    if (got <= 0 || got == static_cast<ssize_t>(sizeof text))
        return std::nullopt;
    std::istringstream lines(std::string(text, static_cast<std::size_t>(got)));
    std::string header, target, source, size, modified, flushed;
    if (!std::getline(lines, header) || header != kHeader || !std::getline(lines, target) ||
        !std::getline(lines, source) || !std::getline(lines, size) ||
        !std::getline(lines, modified) || !std::getline(lines, flushed))
        return std::nullopt;
    const auto bytes = numberOr(flushed);
    if (!bytes)
        return std::nullopt;
    return Record{target, source, {*bytes, numberOr(size), modified == "-" ? "" : modified}};
}

// Partials in `folder` of other targets than `keep` that nobody holds:
// removed with their records (one kept download a folder; its own, when
// days old, starts over).
void removeStalePartials(int folder, const std::string& keep)
{
    forEachUnheldFile(
        folder,
        [&](std::string_view name) {
            return name.substr(0, kPartialPrefix.size()) == kPartialPrefix && name != keep &&
                   name.size() == kPartialPrefix.size() + 16;  // records go with their partials
        },
        [&](const std::string& name, const struct stat&) {
            ::unlinkat(folder, (name + kRecordSuffix).c_str(), 0);
            ::unlinkat(folder, name.c_str(), 0);
        });
}

}  // namespace

std::optional<TemporaryFile> TemporaryFile::kept(const std::string& target, const std::string& root,
                                                 const std::string& source)
{
    auto place = placeFor(target, root);
    if (!place)
        return std::nullopt;
    const std::string name = partialName(place->target);
    FileDescriptor fd(::openat(place->folder.get(), name.c_str(),
                               O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat info {};
    if (!fd || !lockWhole(fd.get()) || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;  // in use by another download, or not ours to take
    removeStalePartials(place->folder.get(), name);
    const std::string targetName = place->target.substr(place->target.rfind('/') + 1);
    auto record = readRecord(place->folder.get(), name + kRecordSuffix);
    const auto stale = std::chrono::system_clock::now() -
                           std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec) >
                       kStale;
    // Only what is known to be on the disk counts; anything of doubt, none.
    if (!record || record->target != targetName || record->source != source || stale ||
        record->kept.flushed > static_cast<std::uint64_t>(info.st_size))
        record = Record{targetName, source, {}};
    if (::ftruncate(fd.get(), static_cast<off_t>(record->kept.flushed)) != 0)
        return std::nullopt;
    const mode_t mode = finalModeOf(*place, fd.get());
    TemporaryFile file(std::move(place->folder), std::move(fd), name, std::move(place->target),
                       place->replacing, mode);
    file.kept_ = record->kept;
    file.source_ = source;
    file.checkpointed_ = std::chrono::steady_clock::now();
    file.record();
    return file;
}

void TemporaryFile::identify(std::optional<std::uint64_t> size, const std::string& modified)
{
    if (!kept_)
        return;
    kept_->size = size;
    kept_->modified = modified;
    record();
}

void TemporaryFile::written(std::uint64_t end)
{
    if (!kept_ || end < kept_->flushed + kCheckpointAtLeast)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (end < kept_->flushed + kCheckpoint && now - checkpointed_ < kCheckpointEvery)
        return;
    if (::fdatasync(fd_.get()) != 0)
        return;
    checkpointed_ = now;
    kept_->flushed = end;
    record();
}

void TemporaryFile::record() const
{
    std::ostringstream text;
    text << kHeader << '\n'
         << target_.substr(target_.rfind('/') + 1) << '\n'
         << source_ << '\n'
         << (kept_->size ? std::to_string(*kept_->size) : "-") << '\n'
         << (kept_->modified.empty() ? "-" : kept_->modified) << '\n'
         << kept_->flushed << '\n';
    // Written beside, flushed, then renamed over: a record is whole or old.
    const std::string record = name_ + kRecordSuffix;
    const std::string fresh = record + ".new";
    const FileDescriptor fd(::openat(folder_.get(), fresh.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd || !text::writeAll(fd.get(), text.str()) || ::fdatasync(fd.get()) != 0 ||
        ::renameat(folder_.get(), fresh.c_str(), folder_.get(), record.c_str()) != 0) {
        ::unlinkat(folder_.get(), fresh.c_str(), 0);
        return;
    }
    ::fsync(folder_.get());
}

}  // namespace quorvane::client
