#include "local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace quorvane::client {
namespace {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<TemporaryFile> TemporaryFile::besides(const std::string& target)
{
    struct stat existing {};
    const bool targetExists = ::stat(target.c_str(), &existing) == 0;
    if (targetExists && !S_ISREG(existing.st_mode))
        return std::nullopt;  // never replace a folder or a device

    std::string path = folderOf(target) + "/.quorvane-download-XXXXXX";
    FileDescriptor fd(::mkostemp(path.data(), O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    // mkostemp makes the file private; give it the target's mode, or the usual one.
    ::fchmod(fd.get(), targetExists ? existing.st_mode & 07777 : 0644);
    return TemporaryFile(std::move(fd), std::move(path), target);
}

TemporaryFile::~TemporaryFile()
{
    if (!path_.empty())
        ::unlink(path_.c_str());
}

bool TemporaryFile::replaceTarget()
{
    const bool closed = ::close(fd_.release()) == 0;
    if (!closed || ::rename(path_.c_str(), target_.c_str()) != 0)
        return false;  // the destructor removes the temporary file
    path_.clear();
    return true;
}

FileDescriptor openForReading(const std::string& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return fd;
}

}  // namespace quorvane::client
