#include "data_transfer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>

namespace quorvane::client {
namespace {

constexpr std::size_t kChunk = 1 << 20;        // per splice or sendfile call
constexpr std::size_t kBufferSize = 256 << 10; // when copying through memory

// Zero-copy calls are used unless a test turns them off to run the copies.
std::atomic<bool> zeroCopyEnabled{true};

// A file system without splice or sendfile support says so with one of these.
bool isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

TransferStatus statusOf(IoStatus status)
{
    switch (status) {
    case IoStatus::Ok:
    case IoStatus::Closed: return TransferStatus::Done;
    case IoStatus::TimedOut: return TransferStatus::TimedOut;
    default: return TransferStatus::NetworkError;  // a TLS stream cut short among them
    }
}

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

// Hands the stream to `consume` piece by piece, up to its end. Reads fill a
// large buffer where the channel can (TLS records already received).
template <typename Consume>
TransferStatus receiveThroughMemory(Channel& data, Consume consume)
{
    auto buffer = std::make_unique<char[]>(kBufferSize);
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    for (;;) {
        std::size_t got = 0;
        const IoStatus status = data.receive(buffer.get(), kBufferSize, got, timer);
        if (status == IoStatus::Closed)
            return TransferStatus::Done;
        if (status != IoStatus::Ok)
            return statusOf(status);
        if (const TransferStatus consumed = consume(buffer.get(), got);
            consumed != TransferStatus::Done)
            return consumed;
    }
}

TransferStatus copyThroughMemory(Channel& data, int fileFd, std::uint64_t& bytes)
{
    return receiveThroughMemory(data, [&](const char* piece, std::size_t size) {
        if (!writeAll(fileFd, piece, size))
            return TransferStatus::LocalError;
        bytes += size;
        return TransferStatus::Done;
    });
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

// Socket to pipe to file without copying through user memory.
TransferStatus spliceToFile(Channel& data, int fileFd, std::uint64_t& bytes)
{
    Pipe pipe;
    if (!pipe)
        return copyThroughMemory(data, fileFd, bytes);
    for (;;) {
        const ssize_t moved = ::splice(data.fd(), nullptr, pipe.writeEnd(), nullptr, kChunk,
                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved > 0) {
            const Drained drained = drainPipe(pipe, fileFd, static_cast<std::size_t>(moved));
            if (drained == Drained::Failed)
                return TransferStatus::LocalError;
            bytes += static_cast<std::uint64_t>(moved);
            if (drained == Drained::Unsupported)  // a file system without splice
                return copyThroughMemory(data, fileFd, bytes);
            continue;
        }
        if (moved == 0)
            return TransferStatus::Done;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return TransferStatus::NetworkError;
        if (const auto waited = awaitProgress(data.fd(), POLLIN); waited != TransferStatus::Done)
            return waited;
    }
}

// Sends the file from `offset` on through memory.
TransferStatus sendThroughMemory(int fileFd, Channel& data, off_t offset, std::uint64_t& bytes)
{
    auto buffer = std::make_unique<char[]>(kBufferSize);
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    for (;;) {
        const ssize_t got = ::pread(fileFd, buffer.get(), kBufferSize, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return TransferStatus::LocalError;
        if (got == 0)
            return TransferStatus::Done;
        const IoStatus sent =
            data.send(std::string_view(buffer.get(), static_cast<std::size_t>(got)), timer);
        if (sent != IoStatus::Ok)
            return statusOf(sent) == TransferStatus::Done ? TransferStatus::NetworkError
                                                          : statusOf(sent);
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

// File to socket without copying through user memory.
TransferStatus sendFileToSocket(int fileFd, Channel& data, std::uint64_t& bytes)
{
    off_t offset = 0;
    const SigpipeBlocked noSigpipe;
    for (;;) {
        const ssize_t sent = ::sendfile(data.fd(), fileFd, &offset, kChunk);
        if (sent > 0) {
            bytes += static_cast<std::uint64_t>(sent);
            continue;
        }
        if (sent == 0)
            return TransferStatus::Done;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const auto waited = awaitProgress(data.fd(), POLLOUT);
                waited != TransferStatus::Done)
                return waited;
            continue;
        }
        if (isUnsupported(errno))  // a file system without sendfile
            return sendThroughMemory(fileFd, data, offset, bytes);
        // sendfile reports a broken socket and an unreadable file alike; tell
        // them apart by whether the socket still takes data.
        return errno == EPIPE || errno == ECONNRESET ? TransferStatus::NetworkError
                                                     : TransferStatus::LocalError;
    }
}

}  // namespace

void setZeroCopy(bool enabled) { zeroCopyEnabled = enabled; }

TransferStatus receiveToFile(Channel& data, int fileFd, std::uint64_t& bytes)
{
    bytes = 0;
    // TLS records are decrypted in user memory anyway.
    if (data.isTls() || !zeroCopyEnabled)
        return copyThroughMemory(data, fileFd, bytes);
    return spliceToFile(data, fileFd, bytes);
}

TransferStatus receiveToSink(Channel& data, const std::function<void(std::string_view)>& sink,
                             std::uint64_t limit, std::uint64_t& bytes)
{
    bytes = 0;
    return receiveThroughMemory(data, [&](const char* piece, std::size_t size) {
        if (bytes + size > limit)
            return TransferStatus::LocalError;
        bytes += size;
        sink(std::string_view(piece, size));
        return TransferStatus::Done;
    });
}

TransferStatus sendFromFile(int fileFd, Channel& data, std::uint64_t& bytes)
{
    bytes = 0;
    if (data.isTls() || !zeroCopyEnabled)
        return sendThroughMemory(fileFd, data, 0, bytes);
    return sendFileToSocket(fileFd, data, bytes);
}

}  // namespace quorvane::client
