// Passive data connections and the transfers that use them.
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

#include "ftp_connection.h"
#include "local_file.h"
#include "passive_reply.h"
#include "transcript.h"

namespace quorvane::client {
namespace {

// After a transfer went wrong, the server's last word is only waited for
// briefly; if it does not come, the connection is dropped rather than left
// out of step.
constexpr auto kAfterFailureReplyTimeout = std::chrono::seconds(5);

DWORD errorFor(TransferStatus status)
{
    switch (status) {
    case TransferStatus::TimedOut: return ERROR_INTERNET_TIMEOUT;
    case TransferStatus::NetworkError: return ERROR_INTERNET_CONNECTION_ABORTED;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

// "213 1234": the size SIZE reports (RFC 3659).
std::optional<std::uint64_t> sizeOf(const Reply& reply)
{
    if (reply.code != 213 || reply.text.size() < 5)
        return std::nullopt;
    std::uint64_t size = 0;
    const std::string_view digits = std::string_view(reply.text).substr(4);
    for (const char c : digits) {
        if (c < '0' || c > '9' || size > (UINT64_MAX - 9) / 10)
            return std::nullopt;
        size = size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return size;
}

// How a data connection ended, for the transcript.
void traceClosed(std::uint64_t bytes, Clock::time_point since, TransferStatus moved)
{
    if (!trace::current())
        return;
    const std::chrono::duration<double> took = Clock::now() - since;
    {
        auto line = trace::line();
        line << "data connection closed: " << bytes << " bytes in " << took;
        if (took.count() > 0) {
            char rate[32];
            std::snprintf(rate, sizeof rate, " (%.1f MB/s)", double(bytes) / took.count() / 1e6);
            line << rate;
        }
    }
    switch (moved) {
    case TransferStatus::Done: break;
    case TransferStatus::TimedOut: trace::line() << "cause: no data for 60 s (inactivity limit)"; break;
    case TransferStatus::NetworkError: trace::line() << "cause: the data connection broke"; break;
    case TransferStatus::LocalError: break;  // the caller names the file
    }
}

}  // namespace

Channel FtpConnection::openPassive(bool extended)
{
    const auto reply = control_->execute(extended ? "EPSV" : "PASV");
    if (!reply)
        return {};
    const auto port = !extended && reply->code == 227 ? parsePasvPort(reply->text)
                      : extended && reply->code == 229 ? parseEpsvPort(reply->text)
                                                       : std::nullopt;
    // The data connection goes where the control connection goes, whatever
    // host a 227 names: a hostile server must not aim us elsewhere.
    PeerAddress peer;
    if (!port || !control_->peerAddress(peer) || !peer.withPort(*port)) {
        traceRefusal(*reply);
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return {};
    }
    ConnectError error = ConnectError::None;
    FileDescriptor data = connectAddress(peer, deadlineIn(kConnectTimeout), error);
    if (!data) {
        trace::line() << "cause: "
                      << (error == ConnectError::TimedOut ? "no data connection (deadline) to "
                                                          : "cannot open the data connection to ")
                      << addressText(peer);
        SetLastError(error == ConnectError::TimedOut ? ERROR_INTERNET_TIMEOUT
                                                     : ERROR_INTERNET_CANNOT_CONNECT);
        return {};
    }
    trace::line() << "data connection to " << addressText(peer);
    return Channel(std::move(data));
}

Channel FtpConnection::openDataConnection()
{
    if (!control_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return {};
    }
    // EPSV where offered, and always over IPv6, where PASV cannot say much.
    PeerAddress peer;
    const bool ipv6 = control_->peerAddress(peer) && isIpv6(peer);
    if (!epsvFailed_ && (features_.epsv || ipv6)) {
        if (Channel data = openPassive(true))
            return data;
        if (!control_->isAlive())
            return {};
        epsvFailed_ = true;  // broken EPSV stays broken: use PASV from now on
    }
    return openPassive(false);
}

bool FtpConnection::protect(Channel& data)
{
    Timer timer = Timer::until(deadlineIn(kConnectTimeout));
    if (const DWORD error = handshakeTls(data, *tls_, credentials_.host, tlsSession_, true, timer)) {
        SetLastError(error);
        return false;
    }
    return true;
}

bool FtpConnection::isIdle()
{
    if (!listing_)
        return true;
    trace::line() << "cause: a listing is still in progress";
    SetLastError(ERROR_FTP_TRANSFER_IN_PROGRESS);
    return false;
}

std::optional<FtpConnection::OpenTransfer> FtpConnection::startTransfer(
    std::string_view verb, std::string_view argument, Direction direction)
{
    if (!ensureConnected() || !isUsableName(argument))
        return std::nullopt;
    Channel data = openDataConnection();
    if (!data)
        return std::nullopt;
    std::string command(verb);
    if (!argument.empty())
        command.append(" ").append(argument);
    auto started = control_->execute(command);
    if (!started)
        return std::nullopt;
    if (!started->isPreliminary()) {
        traceRefusal(*started);
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return std::nullopt;
    }
    OpenTransfer transfer{std::move(data), std::move(*started), std::string(argument), direction};
    transfer.since = Clock::now();
    if (tls_ && !protect(transfer.data)) {
        completeTransfer(transfer, TransferStatus::NetworkError, GetLastError());
        return std::nullopt;
    }
    return transfer;
}

bool FtpConnection::completeTransfer(OpenTransfer& transfer, TransferStatus moved, DWORD failure)
{
    if (moved == TransferStatus::Done) {
        // TLS: close_notify both ways. After an upload that is how the server
        // learns that the file is whole.
        Timer timer = Timer::until(deadlineIn(kDataInactivityTimeout));
        const IoStatus finished = transfer.data.finish(timer);
        if (transfer.direction == Direction::Send && finished != IoStatus::Ok) {
            moved = finished == IoStatus::TimedOut ? TransferStatus::TimedOut
                                                   : TransferStatus::NetworkError;
            failure = errorFor(moved);
        }
    }
    transfer.data.close();  // for a plain upload, this is the end of the file
    traceClosed(transfer.bytes, transfer.since, moved);

    if (moved != TransferStatus::Done) {
        control_->readReply(kAfterFailureReplyTimeout);
        SetLastError(failure ? failure : errorFor(moved));
        return false;
    }
    const auto completion = control_->readReply();
    if (!completion)
        return false;
    if (!completion->isCompletion()) {
        traceRefusal(*completion);
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    // A short stream with a 226 is still a short file.
    const auto announced = parseAnnouncedSize(transfer.started.text, transfer.argument);
    if (transfer.direction == Direction::Receive && announced && *announced != transfer.bytes) {
        trace::line() << "cause: the server announced " << *announced << " bytes, "
                      << transfer.bytes << " arrived";
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    return true;
}

template <typename Move>
bool FtpConnection::transfer(std::string_view verb, std::string_view argument,
                             Direction direction, std::uint64_t& bytes, Move move)
{
    bytes = 0;
    auto open = startTransfer(verb, argument, direction);
    if (!open)
        return false;
    const TransferStatus moved = move(open->data, open->bytes);
    bytes = open->bytes;
    return completeTransfer(*open, moved, errorFor(moved));
}

bool FtpConnection::beginListing(std::string_view command)
{
    std::lock_guard lock(mutex_);
    listing_ = startTransfer(command, {}, Direction::Receive);
    return listing_.has_value();
}

IoStatus FtpConnection::readListing(char* buffer, std::size_t capacity, std::size_t& got)
{
    // Bounds a hostile server's endless listing.
    constexpr std::uint64_t kListingLimit = std::uint64_t(1) << 30;
    std::lock_guard lock(mutex_);
    got = 0;
    if (!listing_)
        return IoStatus::Failed;
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    const IoStatus status = listing_->data.receive(buffer, capacity, got, timer);
    listing_->bytes += got;
    if (listing_->bytes > kListingLimit)
        return IoStatus::Failed;
    return status;
}

bool FtpConnection::endListing()
{
    std::lock_guard lock(mutex_);
    if (!listing_)
        return false;
    const bool complete = completeTransfer(*listing_, TransferStatus::Done, 0);
    listing_.reset();
    return complete;
}

void FtpConnection::abortListing()
{
    // How much of an abandoned listing is read to its end: a transfer that
    // ends normally leaves every server in a clean state. An aborted one
    // does not always: pure-ftpd sends what it could not write into the
    // next listing.
    constexpr std::uint64_t kDrainLimit = 16 << 20;
    constexpr auto kDrainTime = std::chrono::seconds(2);
    std::lock_guard lock(mutex_);
    if (!listing_)
        return;
    const DWORD error = GetLastError();
    const Deadline deadline = deadlineIn(kDrainTime);
    std::uint64_t drained = 0;
    std::array<char, 64 << 10> scratch;
    IoStatus status = IoStatus::Ok;
    while (status == IoStatus::Ok && drained < kDrainLimit) {
        Timer timer = Timer::until(deadline);
        std::size_t got = 0;
        status = listing_->data.receive(scratch.data(), scratch.size(), got, timer);
        drained += got;
    }
    if (status == IoStatus::Closed) {
        completeTransfer(*listing_, TransferStatus::Done, 0);
    } else {
        // Too much left, or the stream broke: a fresh session for the next
        // call rather than one the server may have left out of step.
        listing_->data.close();
        control_.reset();
    }
    listing_.reset();
    SetLastError(error);
}

bool FtpConnection::serverHolds(std::string_view remote, std::uint64_t bytes)
{
    if (!features_.size || !control_ || !control_->isAlive())
        return true;  // nothing to ask: the completion is the verdict
    const auto reply = control_->execute(std::string("SIZE ").append(remote));
    const auto size = reply ? sizeOf(*reply) : std::nullopt;
    // A refused SIZE (upload-only folders hide what they hold) leaves the
    // completion as the verdict.
    if (!size || *size == bytes)
        return true;
    trace::line() << "cause: the server holds " << *size << " bytes of the " << bytes << " sent";
    SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
    return false;
}

bool FtpConnection::download(std::string_view remote, TemporaryFile& local)
{
    std::lock_guard lock(mutex_);
    std::uint64_t bytes = 0;
    TransferStatus status = TransferStatus::Done;
    const bool received = transfer(
        "RETR", remote, Direction::Receive, bytes,
        [&](Channel& data, std::uint64_t& moved) {
            return status = receiveToFile(data, local.fd(), local.replacesAFile(), moved);
        });
    if (status == TransferStatus::LocalError)
        trace::line() << "cause: cannot write " << local.target() << ": "
                      << std::strerror(lastLocalError());
    if (received && !local.replaceTarget()) {
        trace::line() << "cause: cannot replace " << local.target() << ": " << std::strerror(errno);
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return false;
    }
    return received;
}

bool FtpConnection::upload(int localFd, std::string_view remote)
{
    std::lock_guard lock(mutex_);
    std::uint64_t bytes = 0;
    TransferStatus status = TransferStatus::Done;
    const bool sent = transfer("STOR", remote, Direction::Send, bytes,
                               [&](Channel& data, std::uint64_t& moved) {
                                   return status = sendFromFile(localFd, data, moved);
                               });
    if (status == TransferStatus::LocalError)
        trace::line() << "cause: cannot read the local file: " << std::strerror(lastLocalError());
    return sent && serverHolds(remote, bytes);
}

}  // namespace quorvane::client
