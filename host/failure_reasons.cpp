#include "failure_reasons.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "common/transcript.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <sys/mman.h>
#  include <unistd.h>
#endif

namespace {

std::uint64_t sizeOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

}  // namespace

void setTranscriptTarget(const std::string& target)
{
#if defined(_WIN32)
    _putenv_s("QUORVANE_TRACE", target.c_str());
#else
    ::setenv("QUORVANE_TRACE", target.c_str(), 1);
#endif
}

FailureReasons::FailureReasons()
{
    // The user's choice stands, an empty one (no transcript at all) too.
    if (const char* asked = std::getenv("QUORVANE_TRACE")) {
        if (*asked && std::string_view(asked) != "stderr")
            path_ = asked;
        return;
    }
#if defined(_WIN32)
    char folder[MAX_PATH];
    char file[MAX_PATH];
    if (GetTempPathA(MAX_PATH, folder) && GetTempFileNameA(folder, "qvt", 0, file)) {
        path_ = file;
        remove_ = true;
        setTranscriptTarget(path_);
    }
#else
    // In memory: nothing to clean up, nothing left behind. The module gets
    // a descriptor of its own that appends, while this one reads it back.
    fd_ = ::memfd_create("quorvane-transcript", MFD_CLOEXEC);
    if (fd_ >= 0) {
        path_ = "/proc/self/fd/" + std::to_string(fd_);
        writer_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (writer_ >= 0)
            setTranscriptTarget("fd:" + std::to_string(writer_));
        else
            path_.clear();
    }
#endif
}

FailureReasons::~FailureReasons()
{
#if defined(_WIN32)
    if (remove_)
        std::remove(path_.c_str());
#else
    if (writer_ >= 0)
        ::close(writer_);
    if (fd_ >= 0)
        ::close(fd_);
#endif
}

void FailureReasons::mark()
{
#if !defined(_WIN32)
    if (fd_ >= 0) {
        // Only the coming command's lines are ever read back: the private
        // transcript starts over, so a long session never grows it (the
        // module appends, so it writes on at the new start).
        if (::ftruncate(fd_, 0) == 0) {
            mark_ = 0;
            return;
        }
    }
#endif
    if (!path_.empty())
        mark_ = sizeOf(path_);
}

std::string FailureReasons::reasonSinceMark() const
{
    if (path_.empty())
        return {};
    std::ifstream transcript(path_, std::ios::binary);
    transcript.seekg(static_cast<std::streamoff>(mark_));
    constexpr std::string_view kCause = quorvane::trace::kCausePrefix;
    std::string reason;
    for (std::string line; std::getline(transcript, line);) {
        // "[   0.001234] cause: ..."
        const std::size_t stamp = line.find("] ");
        if (stamp != std::string::npos && line.compare(stamp + 2, kCause.size(), kCause) == 0)
            reason = line.substr(stamp + 2 + kCause.size());
    }
    return reason;
}
