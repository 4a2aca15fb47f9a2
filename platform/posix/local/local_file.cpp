#include "posix/local/local_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "common/paths.h"
#include "posix/local/target_place.h"

namespace quorvane::client {
namespace {

constexpr std::string_view kNamePrefix = ".quorvane-download-";

std::atomic<bool> unnamedFiles{true};

std::string folderOf(const std::string& path) { return text::folderOf(path, "/"); }

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The path with every link and "." or ".." resolved; the last part may be
// missing. Empty when the folder cannot be resolved.
std::optional<std::string> resolvedFolder(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), std::free);
    if (!real)
        return std::nullopt;
    return std::string(real.get());
}

bool isWithin(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return true;
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// The kernel's protected_symlinks rule, for a link we follow ourselves: in a
// folder that is sticky and writable by all, only a link of the caller's or
// of the folder's owner is followed.
bool mayFollow(const std::string& link, const struct stat& linkInfo)
{
    struct stat folder {};
    if (::stat(folderOf(link).c_str(), &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == folder.st_uid;
}

struct FinalTarget {
    std::string path;
    bool linked = false;  // whether a link led there
};

// Where a chain of symbolic links at `path` ends (the path itself when it is
// no link); that file may not exist yet. Empty with errno set on a loop or a
// link that may not be followed.
std::optional<FinalTarget> finalTarget(std::string path)
{
    constexpr int kMaxLinks = 40;  // as the kernel allows
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return FinalTarget{std::move(path), hop > 0};
        if (!mayFollow(path, info)) {
            errno = EACCES;
            return std::nullopt;
        }
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size())
            return std::nullopt;  // changed under us, or unreadable
        link.resize(static_cast<std::size_t>(length));
        path = link.front() == '/' ? link : folderOf(path) + "/" + link;
    }
    errno = ELOOP;
    return std::nullopt;
}

// A name no other download picks: random bits, with the clock as a fallback.
std::string temporaryName()
{
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits)
        bits =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    char name[64];
    std::snprintf(name, sizeof name, "%.*s%016llx", static_cast<int>(kNamePrefix.size()),
                  kNamePrefix.data(), static_cast<unsigned long long>(bits));
    return name;
}

}  // namespace

// An open file description's lock (not a process's), so that it holds
// whatever process or PID namespace looks, and on NFS across clients.
bool lockWhole(int fd)
{
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

void forEachUnheldFile(int folder, const std::function<bool(std::string_view name)>& wanted,
                       const std::function<void(const std::string& name, const struct stat&)>& act)
{
    struct Closer {
        void operator()(DIR* entries) const { ::closedir(entries); }
    };
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::unique_ptr<DIR, Closer> entries(listed >= 0 ? ::fdopendir(listed) : nullptr);
    if (!entries) {
        if (listed >= 0)
            ::close(listed);
        return;
    }
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string name = entry->d_name;
        if (!wanted(name))
            continue;
        const FileDescriptor fd(
            ::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (fd && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::geteuid() && lockWhole(fd.get()))
            act(name, info);
    }
}

namespace {

// Longer than a live download goes without writing (a stall, the way back
// after a break, a proof), so that where locks are not kept either, a
// leftover is still never a live file.
constexpr auto kLeftoverAge = std::chrono::minutes(10);

bool isOldEnough(const struct stat& info)
{
    const auto modified = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
    return std::chrono::system_clock::now() - modified > kLeftoverAge;
}

// Removes, from `folder`, the named temporary files of ours left behind by
// downloads that ended without cleaning up (a process killed): those whose
// lock can be taken, and that nothing has written for a long while.
void removeLeftovers(int folder)
{
    forEachUnheldFile(
        folder,
        [](std::string_view name) { return name.substr(0, kNamePrefix.size()) == kNamePrefix; },
        [&](const std::string& name, const struct stat& info) {
            if (isOldEnough(info))
                ::unlinkat(folder, name.c_str(), 0);
        });
}

// Whether a file without a name can be given one: linkat's AT_EMPTY_PATH
// needs a privilege before Linux 6.10, and the way round it needs /proc,
// which a minimal container may lack.
bool canNameUnnamedFiles() { return ::geteuid() == 0 || ::access("/proc/self/fd", X_OK) == 0; }

// What open(2) with mode 0666 would give a new file.
mode_t newFileMode()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    const mode_t mask = ::umask(022);  // no /proc: read it the old way
    ::umask(mask);
    return 0666 & ~mask;
}

// A file system without O_TMPFILE says so with one of these.
bool takesNoUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

}  // namespace

Outcome<TargetPlace> placeFor(const std::string& requested, const std::string& root)
{
    const auto cannotWrite = [&](int error) { return localFailure("write", requested, error); };
    const auto target = finalTarget(requested);
    if (!target)
        return cannotWrite(errno);
    const auto folder = resolvedFolder(folderOf(target->path));
    if (!folder)
        return cannotWrite(errno);
    // A device path stays on the device, links or no links.
    if (target->linked || requested.front() == '/') {
        const auto confinement = resolvedFolder(root);
        if (!confinement || !isWithin(*folder, *confinement))
            return cannotWrite(EACCES);
    }
    TargetPlace place;
    place.replacing = ::stat(target->path.c_str(), &place.existing) == 0;
    if (!place.replacing && errno != ENOENT)
        return cannotWrite(errno);
    if (place.replacing) {
        if (!S_ISREG(place.existing.st_mode))  // never replace a folder or a device
            return cannotWrite(S_ISDIR(place.existing.st_mode) ? EISDIR : EINVAL);
        // A read-only file stays as it is, also for root, who could write it:
        // the download fails, as on the platform this library was born on.
        if ((place.existing.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target->path.c_str(), W_OK, AT_EACCESS) != 0)
            return cannotWrite(EACCES);
    }
    // The folder is held open: what the download replaces in the end lies in
    // the folder checked here, whatever is renamed meanwhile.
    place.folder = FileDescriptor(::open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!place.folder)
        return cannotWrite(errno);
    place.target = std::move(target->path);
    return place;
}

mode_t finalModeOf(const TargetPlace& place, int fd)
{
    if (!place.replacing)
        return newFileMode();
    // The replacement keeps the owner and mode of the file it replaces,
    // where we may set them (a file not ours to give away stays ours), but
    // never its set-user-ID or set-group-ID bit.
    [[maybe_unused]] const int owned = ::fchown(fd, place.existing.st_uid, place.existing.st_gid);
    return place.existing.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID);
}

Outcome<TemporaryFile> TemporaryFile::beside(const std::string& requested, const std::string& root)
{
    auto place = placeFor(requested, root);
    if (!place)
        return std::move(place).failure();
    const auto cannotWrite = [&](int error) { return localFailure("write", requested, error); };
    // Private while it fills; its final mode only once complete.
    std::string name;
    const bool unnamed = unnamedFiles && canNameUnnamedFiles();
    FileDescriptor fd(
        unnamed ? ::openat(place->folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1);
    if (!fd && unnamed && !takesNoUnnamedFiles(errno))
        return cannotWrite(errno);
    if (!fd) {
        removeLeftovers(place->folder.get());
        for (int attempt = 0; !fd && attempt < 16; ++attempt) {
            name = temporaryName();
            fd = FileDescriptor(::openat(place->folder.get(), name.c_str(),
                                         O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (!fd && errno != EEXIST)
                return cannotWrite(errno);
        }
        if (!fd)
            return cannotWrite(EEXIST);
        // In use while it fills: never a leftover to another download. A
        // file system that keeps no locks still has the age to go by.
        lockWhole(fd.get());
    }
    const mode_t mode = finalModeOf(*place, fd.get());
    return TemporaryFile(std::move(place->folder), std::move(fd), std::move(name),
                         std::move(place->target), place->replacing, mode);
}

void setUnnamedTemporaryFiles(bool enabled) { unnamedFiles = enabled; }

TemporaryFile::~TemporaryFile()
{
    if (!folder_ || name_.empty())
        return;
    if (!kept_ || !fd_) {
        ::unlinkat(folder_.get(), name_.c_str(), 0);
        return;
    }
    // A kept download that did not finish: what it holds, flushed and
    // recorded, for the next call to go on from.
    struct stat info {};
    if (::fdatasync(fd_.get()) == 0 && ::fstat(fd_.get(), &info) == 0) {
        kept_->flushed = static_cast<std::uint64_t>(info.st_size);
        record();
    }
}

Outcome<> TemporaryFile::restart()
{
    if (::ftruncate(fd_.get(), 0) != 0 || ::lseek(fd_.get(), 0, SEEK_SET) != 0)
        return localFailure("write", target_, errno);
    if (kept_) {
        *kept_ = {};
        record();
    }
    return {};
}

bool TemporaryFile::link(const std::string& name) const
{
    // AT_EMPTY_PATH needs a privilege; through /proc any owner may.
    if (::linkat(fd_.get(), "", folder_.get(), name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    return ::linkat(AT_FDCWD, self.c_str(), folder_.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

Outcome<> TemporaryFile::replaceTarget(DataFlush flush)
{
    const auto failed = [&] { return localFailure("replace", target_, errno); };
    if (replacing_ || flush == DataFlush::Always) {
        if (auto flushed = flushData(); !flushed)
            return flushed;  // the destructor removes a named temporary file
    }
    if (::fchmod(fd_.get(), mode_) != 0)
        return failed();
    const std::string targetName = nameOf(target_);
    if (name_.empty()) {
        // Unnamed: a new file takes its name in one step; one that replaces
        // another gets a name of its own first, then takes the target's.
        if (!replacing_ && link(targetName))
            return ::close(fd_.release()) == 0 ? flushFolder() : failed();
        name_ = temporaryName();
        if (!link(name_)) {
            name_.clear();
            return failed();
        }
    }
    const bool closed = ::close(fd_.release()) == 0;
    if (!closed || ::renameat(folder_.get(), name_.c_str(), folder_.get(), targetName.c_str()) != 0)
        return failed();
    if (kept_)
        ::unlinkat(folder_.get(), (name_ + kRecordSuffix).c_str(), 0);  // done: no record
    name_.clear();
    return flushFolder();
}

namespace {

// The new name is on the disk too, not only the data: a power cut right
// after the call must not take the file back.
Outcome<> flushFolderOf(int folder, const std::string& target)
{
    while (::fsync(folder) != 0) {
        // Some file systems flush no folders (FUSE ones may say so).
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            break;
        if (errno != EINTR)
            return localFailure("replace", target, errno);
    }
    return {};
}

}  // namespace

Outcome<> TemporaryFile::flushFolder() const { return flushFolderOf(folder_.get(), target_); }

Outcome<> TemporaryFile::flushData() const
{
    while (::fdatasync(fd_.get()) != 0)
        if (errno != EINTR)
            return localFailure("replace", target_, errno);
    return {};
}

Outcome<> renameDurably(const std::string& source, const std::string& target)
{
    const FileDescriptor folder(
        ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder || ::rename(source.c_str(), target.c_str()) != 0)
        return localFailure("replace", target, errno);
    return flushFolderOf(folder.get(), target);
}

Outcome<FileDescriptor> openForReading(const std::string& path, const std::string& root)
{
    // Under the same rules as a download writes: no link out of the device
    // root, none of another user's in a sticky folder shared by all.
    const auto target = finalTarget(path);
    if (!target)
        return localFailure("read", path, errno);
    if (target->linked || path.front() == '/') {
        const auto folder = resolvedFolder(folderOf(target->path));
        const auto confinement = resolvedFolder(root);
        if (!folder || !confinement || !isWithin(*folder, *confinement))
            return localFailure("read", path, folder ? EACCES : errno);
    }
    FileDescriptor fd(::open(target->path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0)
        return localFailure("read", path, errno);
    if (!S_ISREG(info.st_mode))
        return localFailure("read", path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    ::fcntl(fd.get(), F_SETFL, O_RDONLY);  // a regular file: blocking reads as usual
    return fd;
}

Failure localFailure(std::string_view action, const std::string& path, int error)
{
    Failure failure(FailureKind::LocalFile);
    failure.cause.append("cannot ").append(action).append(" ").append(path).append(": ");
    failure.cause.append(std::strerror(error));
    failure.error = error;
    return failure;
}

}  // namespace quorvane::client
