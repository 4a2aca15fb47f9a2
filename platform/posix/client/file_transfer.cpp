#include "posix/client/file_transfer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <optional>

#include "common/write_all.h"
#include "posix/local/local_file.h"
#include "posix/local/write_behind.h"

namespace quorvane::client {
namespace {

constexpr std::size_t kChunk = 1 << 20;  // per splice call
constexpr std::size_t kBufferSize = 256 << 10;  // per read when copying through memory
// Uploads go out in pieces this size, read into memory, as curl and lftp send
// them: measured here against pyftpdlib, vsftpd and pure-ftpd, plain and TLS,
// that beat sendfile in 1 MiB calls (up to twice as fast against pyftpdlib)
// and larger pieces. A receiver's copy then finds the data in the cache.
constexpr std::size_t kSendSize = 64 << 10;

constexpr const char* kStalled = "no data for 60 s (inactivity limit)";
constexpr const char* kBroken = "the data connection broke";

// Zero-copy calls are used unless a test turns them off to run the copies.
std::atomic<bool> zeroCopyEnabled{true};

Failure dataFailure(const IoResult& result) { return failureOf(result, kStalled, kBroken); }

// A file system without splice support says so with one of these.
bool isUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// Waits until the socket has data, or fails when the inactivity limit
// passes first.
Outcome<> awaitData(int fd)
{
    bool timedOut = false;
    if (waitFor(fd, POLLIN, deadlineIn(kDataInactivityTimeout), timedOut))
        return {};
    return dataFailure(timedOut ? IoStatus::TimedOut : IoStatus::Failed);
}

// Hands the stream to `consume` piece by piece, up to its end. Reads fill a
// large buffer where the channel can (TLS records already received).
template <typename Consume>
Outcome<> receiveThroughMemory(Channel& data, Consume consume)
{
    auto buffer = std::make_unique<char[]>(kBufferSize);
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    for (;;) {
        std::size_t got = 0;
        const IoResult status = data.receive(buffer.get(), kBufferSize, got, timer);
        if (status == IoStatus::Closed)
            return {};
        if (status != IoStatus::Ok)
            return dataFailure(status);
        if (auto consumed = consume(buffer.get(), got); !consumed)
            return consumed;
    }
}

// Where the file's data now ends after each piece, to the caller and to the
// write-behind of a file flushed at the end.
class Progress {
public:
    Progress(int fd, bool flushing, std::uint64_t base, const OnWritten& written)
        : base_(base), written_(written)
    {
        if (flushing)
            writeBehind_.emplace(fd, base, kWriteBehindStep);
    }

    void advance(std::uint64_t bytes)
    {
        if (written_)
            written_(base_ + bytes);
        if (writeBehind_)
            writeBehind_->advance(bytes);
    }

private:
    static constexpr std::uint64_t kWriteBehindStep = 16 << 20;
    std::uint64_t base_;
    const OnWritten& written_;
    std::optional<WriteBehind> writeBehind_;
};

Outcome<> copyThroughMemory(Channel& data, const LocalFile& file, Progress& progress,
                            std::uint64_t& bytes)
{
    return receiveThroughMemory(data, [&](const char* piece, std::size_t size) -> Outcome<> {
        if (!text::writeAll(file.fd, std::string_view(piece, size)))
            return localFailure("write", file.name, errno);
        bytes += size;
        progress.advance(bytes);
        return {};
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
        if (got <= 0 ||
            !text::writeAll(fileFd, std::string_view(buffer.get(), static_cast<std::size_t>(got))))
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
Outcome<> spliceToFile(Channel& data, const LocalFile& file, Progress& progress,
                       std::uint64_t& bytes)
{
    Pipe pipe;
    if (!pipe)
        return copyThroughMemory(data, file, progress, bytes);
    for (;;) {
        const ssize_t moved = ::splice(data.fd(), nullptr, pipe.writeEnd(), nullptr, kChunk,
                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (moved > 0) {
            const Drained drained = drainPipe(pipe, file.fd, static_cast<std::size_t>(moved));
            if (drained == Drained::Failed)
                return localFailure("write", file.name, errno);
            bytes += static_cast<std::uint64_t>(moved);
            if (drained == Drained::Unsupported)  // a file system without splice
                return copyThroughMemory(data, file, progress, bytes);
            progress.advance(bytes);
            continue;
        }
        if (moved == 0)
            return {};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return dataFailure(IoResult::failed(errno));
        if (auto ready = awaitData(data.fd()); !ready)
            return ready;
    }
}

}  // namespace

void setZeroCopy(bool enabled) { zeroCopyEnabled = enabled; }

Outcome<> receiveToFile(Channel& data, const LocalFile& file, std::uint64_t at, bool flushing,
                        std::uint64_t& bytes, const OnWritten& written)
{
    bytes = 0;
    if (::lseek(file.fd, static_cast<off_t>(at), SEEK_SET) < 0)
        return localFailure("write", file.name, errno);
    Progress progress(file.fd, flushing, at, written);
    // TLS records are decrypted in user memory anyway.
    if (data.isTls() || !zeroCopyEnabled)
        return copyThroughMemory(data, file, progress, bytes);
    return spliceToFile(data, file, progress, bytes);
}

Outcome<bool> receiveOverlap(Channel& data, const LocalFile& file, std::uint64_t at,
                             std::size_t length, std::uint64_t& bytes)
{
    bytes = 0;
    std::string received;
    auto buffer = std::make_unique<char[]>(kBufferSize);
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    while (received.size() < length) {
        std::size_t got = 0;
        const IoResult status = data.receive(buffer.get(), kBufferSize, got, timer);
        if (status == IoStatus::Closed)
            return false;  // shorter than before: not the same file
        if (status != IoStatus::Ok)
            return dataFailure(status);
        received.append(buffer.get(), got);
    }
    std::string held(length, '\0');
    if (::pread(file.fd, held.data(), length, static_cast<off_t>(at)) !=
        static_cast<ssize_t>(length))
        return localFailure("read", file.name, errno);
    if (std::string_view(received).substr(0, length) != held)
        return false;
    const std::string_view beyond = std::string_view(received).substr(length);
    if (!beyond.empty() &&
        ::pwrite(file.fd, beyond.data(), beyond.size(), static_cast<off_t>(at + length)) !=
            static_cast<ssize_t>(beyond.size()))
        return localFailure("write", file.name, errno);
    bytes = beyond.size();
    return true;
}

Outcome<> sendFromFile(const LocalFile& file, Channel& data, std::uint64_t& bytes,
                       std::uint64_t from)
{
    bytes = 0;
    auto buffer = std::make_unique<char[]>(kSendSize);
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    auto offset = static_cast<off_t>(from);
    for (;;) {
        const ssize_t got = ::pread(file.fd, buffer.get(), kSendSize, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return localFailure("read", file.name, errno);
        if (got == 0)
            return {};
        const IoResult sent =
            data.send(std::string_view(buffer.get(), static_cast<std::size_t>(got)), timer);
        if (sent != IoStatus::Ok)
            return dataFailure(sent);
        offset += got;
        bytes += static_cast<std::uint64_t>(got);
    }
}

}  // namespace quorvane::client
