#include "data_transfer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string_view>

#include "socket.h"

namespace quorvane::client {
namespace {

constexpr std::size_t kChunk = 1 << 20;        // per splice or sendfile call
constexpr std::size_t kBufferSize = 256 << 10; // when copying through memory

// Waits until `fd` is ready for `events`, or the inactivity limit passes.
TransferStatus awaitProgress(int fd, short events)
{
    bool timedOut = false;
    if (waitFor(fd, events, deadlineIn(kDataInactivityTimeout), timedOut))
        return TransferStatus::Done;
    return timedOut ? TransferStatus::TimedOut : TransferStatus::NetworkError;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Reads what is there, waiting for it if need be: >0 bytes, 0 at the end.
TransferStatus receiveChunk(int dataFd, char* buffer, std::size_t capacity, std::size_t& got)
{
    for (;;) {
        const ssize_t n = ::recv(dataFd, buffer, capacity, 0);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return TransferStatus::Done;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return TransferStatus::NetworkError;
        if (const auto waited = awaitProgress(dataFd, POLLIN); waited != TransferStatus::Done)
            return waited;
    }
}

// Zero-copy calls are used unless a test turns them off to run the copies.
std::atomic<bool> zeroCopyEnabled{true};

// A file system without splice or sendfile support says so with one of these.
bool isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

TransferStatus copyThroughMemory(int dataFd, int fileFd, std::uint64_t& bytes)
{
    auto buffer = std::make_unique<char[]>(kBufferSize);
    for (;;) {
        std::size_t got = 0;
        if (const auto status = receiveChunk(dataFd, buffer.get(), kBufferSize, got);
            status != TransferStatus::Done)
            return status;
        if (got == 0)
            return TransferStatus::Done;
        if (!writeAll(fileFd, buffer.get(), got))
            return TransferStatus::LocalError;
        bytes += got;
    }
}

class Pipe {
public:
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_ = FileDescriptor(fds[0]);
            write_ = FileDescriptor(fds[1]);
            ::fcntl(write_.get(), F_SETPIPE_SZ, static_cast<int>(kChunk));
        }
    }
    explicit operator bool() const { return static_cast<bool>(read_); }
    int readEnd() const { return read_.get(); }
    int writeEnd() const { return write_.get(); }

private:
    FileDescriptor read_;
    FileDescriptor write_;
};

// Moves `pending` bytes from the pipe to the file through memory.
bool copyPipe(const Pipe& pipe, int fileFd, std::size_t pending)
{
    auto buffer = std::make_unique<char[]>(kBufferSize);
    while (pending > 0) {
        const ssize_t got = ::read(pipe.readEnd(), buffer.get(), std::min(pending, kBufferSize));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || !writeAll(fileFd, buffer.get(), static_cast<std::size_t>(got)))
            return false;
        pending -= static_cast<std::size_t>(got);
    }
    return true;
}

enum class Drained { All, Unsupported, Failed };

// Moves everything in the pipe to the file. Unsupported: the file takes no
// splice, and what is still in the pipe has been copied through memory.
Drained drainPipe(const Pipe& pipe, int fileFd, std::size_t pending)
{
    while (pending > 0) {
        const ssize_t moved =
            ::splice(pipe.readEnd(), nullptr, fileFd, nullptr, pending, SPLICE_F_MOVE);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0 && isUnsupported(errno))
            return copyPipe(pipe, fileFd, pending) ? Drained::Unsupported : Drained::Failed;
        if (moved <= 0)
            return Drained::Failed;
        pending -= static_cast<std::size_t>(moved);
    }
    return Drained::All;
}

// Sends the file from `offset` on through memory.
TransferStatus sendThroughMemory(int fileFd, int dataFd, off_t offset, std::uint64_t& bytes)
{
    auto buffer = std::make_unique<char[]>(kBufferSize);
    for (;;) {
        const ssize_t got = ::pread(fileFd, buffer.get(), kBufferSize, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return TransferStatus::LocalError;
        if (got == 0)
            return TransferStatus::Done;
        std::string_view pending(buffer.get(), static_cast<std::size_t>(got));
        while (!pending.empty()) {
            const ssize_t sent = ::send(dataFd, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                pending.remove_prefix(static_cast<std::size_t>(sent));
                continue;
            }
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (const auto waited = awaitProgress(dataFd, POLLOUT);
                    waited != TransferStatus::Done)
                    return waited;
                continue;
            }
            return TransferStatus::NetworkError;
        }
        offset += got;
        bytes += static_cast<std::uint64_t>(got);
    }
}

// sendfile has no MSG_NOSIGNAL: a peer that hangs up would raise SIGPIPE and
// kill the host. Block it on this thread for the call and swallow any raised.
class SigpipeBlocked {
public:
    SigpipeBlocked()
    {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeBlocked()
    {
        sigset_t pending;
        sigpending(&pending);
        if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec noWait{};
            sigtimedwait(&pipeOnly_, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool alreadyPending_ = false;
};

}  // namespace

void setZeroCopy(bool enabled) { zeroCopyEnabled = enabled; }

TransferStatus receiveToFile(int dataFd, int fileFd, std::uint64_t& bytes)
{
    bytes = 0;
    // Socket to pipe to file without copying through user memory.
    Pipe pipe;
    if (!pipe || !zeroCopyEnabled)
        return copyThroughMemory(dataFd, fileFd, bytes);
    for (;;) {
        const ssize_t moved = ::splice(dataFd, nullptr, pipe.writeEnd(), nullptr, kChunk,
                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved > 0) {
            const Drained drained = drainPipe(pipe, fileFd, static_cast<std::size_t>(moved));
            if (drained == Drained::Failed)
                return TransferStatus::LocalError;
            bytes += static_cast<std::uint64_t>(moved);
            if (drained == Drained::Unsupported) {
                // A file system without splice: the rest goes through memory.
                std::uint64_t rest = 0;
                const TransferStatus status = copyThroughMemory(dataFd, fileFd, rest);
                bytes += rest;
                return status;
            }
            continue;
        }
        if (moved == 0)
            return TransferStatus::Done;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return TransferStatus::NetworkError;
        if (const auto waited = awaitProgress(dataFd, POLLIN); waited != TransferStatus::Done)
            return waited;
    }
}

TransferStatus receiveToSink(int dataFd, const std::function<void(std::string_view)>& sink,
                             std::uint64_t limit, std::uint64_t& bytes)
{
    bytes = 0;
    std::array<char, 64 << 10> buffer;
    for (;;) {
        std::size_t got = 0;
        if (const auto status = receiveChunk(dataFd, buffer.data(), buffer.size(), got);
            status != TransferStatus::Done)
            return status;
        if (got == 0)
            return TransferStatus::Done;
        if (bytes + got > limit)
            return TransferStatus::LocalError;
        bytes += got;
        sink(std::string_view(buffer.data(), got));
    }
}

TransferStatus sendFromFile(int fileFd, int dataFd, std::uint64_t& bytes)
{
    bytes = 0;
    off_t offset = 0;
    if (!zeroCopyEnabled)
        return sendThroughMemory(fileFd, dataFd, offset, bytes);
    const SigpipeBlocked noSigpipe;
    for (;;) {
        const ssize_t sent = ::sendfile(dataFd, fileFd, &offset, kChunk);
        if (sent > 0) {
            bytes += static_cast<std::uint64_t>(sent);
            continue;
        }
        if (sent == 0)
            return TransferStatus::Done;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const auto waited = awaitProgress(dataFd, POLLOUT);
                waited != TransferStatus::Done)
                return waited;
            continue;
        }
        if (isUnsupported(errno))  // a file system without sendfile
            return sendThroughMemory(fileFd, dataFd, offset, bytes);
        // sendfile reports a broken socket and an unreadable file alike; tell
        // them apart by whether the socket still takes data.
        return errno == EPIPE || errno == ECONNRESET ? TransferStatus::NetworkError
                                                     : TransferStatus::LocalError;
    }
}

}  // namespace quorvane::client
