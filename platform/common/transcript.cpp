#include "common/transcript.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/environment.h"
#include "common/server_argument.h"
#include "common/utf.h"
#include "common/write_all.h"

#if defined(_WIN32)
#  include <io.h>
#  include <windows.h>
#else
#  include <dlfcn.h>
#  include <pthread.h>
#  include <signal.h>
#  include <unistd.h>
#endif

namespace quorvane::trace {
namespace {

std::mutex currentMutex;
std::shared_ptr<Transcript> currentTranscript;  // keeps it open
std::atomic<Transcript*> currentPointer{nullptr};
std::atomic<bool> environmentRead{false};

#if defined(_WIN32)

int openAppending(const char* path)
{
    const auto wide = text::toUtf16(path);
    return wide ? ::_wopen(reinterpret_cast<const wchar_t*>(wide->c_str()),
                           _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE)
                : -1;
}

int openStandardError() { return 2; }

#else

// What descriptor 2 was when the module was loaded, before any socket of
// ours could take its number: a transcript goes to standard error only while
// it is still that.
struct Identity {
    bool open = false;
    dev_t device = 0;
    ino_t inode = 0;

    static Identity of(int fd)
    {
        struct stat info {};
        if (::fstat(fd, &info) != 0)
            return {};
        return {true, info.st_dev, info.st_ino};
    }
    bool operator==(const Identity&) const = default;
};

const Identity standardErrorAtLoad = Identity::of(2);

// A copy of standard error, written to instead of descriptor 2 itself.
int openStandardError()
{
    if (!standardErrorAtLoad.open || Identity::of(2) != standardErrorAtLoad)
        return -1;
    return ::fcntl(2, F_DUPFD_CLOEXEC, 3);
}

// A file of the caller's, appended to; never a link, never a file of
// someone else's, never anything that could make a call wait: a FIFO
// only when something reads it (and writes that would wait are dropped),
// a terminal, or a regular file.
int openAppending(const char* path)
{
    const int fd = ::open(
        path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const bool ours = info.st_uid == ::geteuid();
    if ((S_ISREG(info.st_mode) && ours) || (S_ISFIFO(info.st_mode) && ours) ||
        (S_ISCHR(info.st_mode) && ::isatty(fd)))
        return fd;
    ::close(fd);
    return -1;
}

// "fd:N": a descriptor the program opened for its transcript.
int openGiven(std::string_view number)
{
    int fd = 0;
    for (const char c : number) {
        if (c < '0' || c > '9' || fd > 100000)
            return -1;
        fd = fd * 10 + (c - '0');
    }
    return number.empty() ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

#endif

#if defined(_WIN32)

bool isRegularFile(int) { return true; }

struct SigpipeHeld {
    explicit SigpipeHeld(bool) {}
};

#else

bool isRegularFile(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Blocks SIGPIPE on this thread while it lives, and takes away one that the
// write raised, so that the caller's own handling of SIGPIPE never sees it.
class SigpipeHeld {
public:
    explicit SigpipeHeld(bool hold) : hold_(hold)
    {
        if (!hold_)
            return;
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeHeld()
    {
        if (!hold_)
            return;
        sigset_t pending;
        sigpending(&pending);
        const timespec now{};
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1)
            sigtimedwait(&pipe_, nullptr, &now);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    bool hold_;
    bool wasPending_ = false;
    sigset_t pipe_{};
    sigset_t previous_{};
};

#endif

// The file this code was loaded from.
std::string moduleFile()
{
#if defined(_WIN32)
    HMODULE self = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&moduleFile), &self))
        return "?";
    return std::string(path, GetModuleFileNameA(self, path, MAX_PATH));
#else
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<const void*>(&moduleFile), &info) || !info.dli_fname)
        return "?";
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(info.dli_fname, nullptr),
                                                     std::free);
    return real ? real.get() : info.dli_fname;
#endif
}

}  // namespace

std::shared_ptr<Transcript> Transcript::fromEnvironment()
{
    const char* target = text::environmentVariable("QUORVANE_TRACE");
    if (!target || !*target)
        return nullptr;
    const std::string_view asked = target;
    int fd = -1;
    if (asked == "stderr")
        fd = openStandardError();
#if !defined(_WIN32)
    else if (asked.substr(0, 3) == "fd:")
        fd = openGiven(asked.substr(3));
#endif
    else
        fd = openAppending(target);
    if (fd < 0)
        return nullptr;
    auto transcript = std::shared_ptr<Transcript>(new Transcript(fd, fd != 2, !isRegularFile(fd)));
    // Which library writes it, for a report about a failure.
    transcript->write("Quorvane2 " QUORVANE_VERSION " (" + moduleFile() + ")");
    return transcript;
}

Transcript::~Transcript()
{
    if (owned_) {
#if defined(_WIN32)
        ::_close(fd_);
#else
        ::close(fd_);
#endif
    }
}

void Transcript::write(std::string_view event)
{
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start_;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%11.6f] ", since.count());
    std::string text(stamp);
    text.append(event).append("\n");
    // A transcript never fails a call, nor ends the process: a pipe whose
    // reader has gone loses the line, it raises no SIGPIPE.
    const SigpipeHeld held(pipe_);
    text::writeAll(fd_, text);
}

void setCurrent(std::shared_ptr<Transcript> transcript)
{
    // The session's calls come one at a time; only a log-in replaces it.
    const std::lock_guard lock(currentMutex);
    environmentRead = true;
    currentPointer = transcript.get();
    currentTranscript = std::move(transcript);
}

Transcript* current()
{
    if (Transcript* open = currentPointer.load(std::memory_order_acquire))
        return open;
    // The first call of all opens what QUORVANE_TRACE asks for, so that a
    // call made before any log-in is in the transcript too.
    if (!environmentRead.exchange(true))
        setCurrent(Transcript::fromEnvironment());
    return currentPointer.load(std::memory_order_acquire);
}

void writeCall(const char* call, const char16_t* first, const char16_t* second, int result)
{
    auto line = trace::line();
    if (!line)
        return;
    line << "call " << call << "(";
    for (const char16_t* argument : {first, second}) {
        if (!argument)
            continue;
        auto utf8 = text::toUtf8(text::wideView(argument));
        // A server argument may carry a password ("user:secret@host").
        if (utf8 && argument == first && std::string_view(call) == "FTPServerLogIn")
            utf8 = text::withoutUserInformation(*utf8);
        line << (argument == first ? "" : ", ")
             << (utf8 ? escape(*utf8) : std::string("<not UTF-16>"));
    }
    line << ") = " << result;
}

void cause(std::string_view text)
{
    if (!text.empty())
        line() << kCausePrefix << text;
}

Line& Line::operator<<(std::uint64_t number)
{
    if (transcript_)
        text_.append(std::to_string(number));
    return *this;
}

Line& Line::operator<<(int number)
{
    if (transcript_)
        text_.append(std::to_string(number));
    return *this;
}

Line& Line::operator<<(std::chrono::duration<double> seconds)
{
    if (transcript_) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6f s", seconds.count());
        text_.append(text);
    }
    return *this;
}

}  // namespace quorvane::trace
