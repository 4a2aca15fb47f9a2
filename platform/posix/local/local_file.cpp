#include "posix/local/local_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "common/paths.h"

namespace quorvane::client {
namespace {

std::string folderOf(const std::string& path) { return text::folderOf(path, "/"); }

// Where a chain of symbolic links at `path` ends (the path itself when it is
// no link); that file may not exist yet. Empty with errno set on a loop.
std::optional<std::string> finalTarget(std::string path)
{
    constexpr int kMaxLinks = 40;  // as the kernel allows
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
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
std::string uniqueSuffix()
{
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits)
        bits = static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<std::uint64_t>(::getpid()) << 40);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(bits));
    return suffix;
}

}  // namespace

Outcome<TemporaryFile> TemporaryFile::beside(const std::string& requested)
{
    const auto cannotWrite = [&](int error) { return localFailure("write", requested, error); };
    const auto target = finalTarget(requested);
    if (!target)
        return cannotWrite(errno);
    struct stat existing {};
    const bool replacing = ::stat(target->c_str(), &existing) == 0;
    if (!replacing && errno != ENOENT)
        return cannotWrite(errno);
    if (replacing) {
        if (!S_ISREG(existing.st_mode))  // never replace a folder or a device
            return cannotWrite(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
        // A read-only file stays as it is, also for root, who could write it:
        // the download fails, as on the platform this library was born on.
        if ((existing.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0)
            return cannotWrite(EACCES);
    }

    // Created as open(2) with 0666 would create it, under the umask.
    FileDescriptor fd;
    std::string path;
    for (int attempt = 0; !fd && attempt < 16; ++attempt) {
        path = folderOf(*target) + "/.quorvane-download-" + uniqueSuffix();
        fd = FileDescriptor(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd && errno != EEXIST)
            return cannotWrite(errno);
    }
    if (!fd)
        return cannotWrite(EEXIST);
    if (replacing) {
        // The replacement keeps the owner and mode of the file it replaces,
        // where we may set them (a file not ours to give away stays ours),
        // but never its set-user-ID or set-group-ID bit.
        [[maybe_unused]] const int owned = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
        ::fchmod(fd.get(), existing.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID));
    }
    return TemporaryFile(std::move(fd), std::move(path), std::move(*target), replacing);
}

TemporaryFile::~TemporaryFile()
{
    if (!path_.empty())
        ::unlink(path_.c_str());
}

Outcome<> TemporaryFile::replaceTarget()
{
    int synced = 0;
    while (replacing_ && (synced = ::fdatasync(fd_.get())) != 0 && errno == EINTR) {
    }
    const bool closed = ::close(fd_.release()) == 0;
    if (synced != 0 || !closed || ::rename(path_.c_str(), target_.c_str()) != 0)
        return localFailure("replace", target_,
                            errno);  // the destructor removes the temporary file
    path_.clear();
    return {};
}

Outcome<FileDescriptor> openForReading(const std::string& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    Failure failure{FailureKind::LocalFile};
    failure.cause.append("cannot ").append(action).append(" ").append(path).append(": ");
    failure.cause.append(std::strerror(error));
    failure.error = error;
    return failure;
}

}  // namespace quorvane::client
