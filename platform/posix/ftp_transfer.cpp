// Passive data connections and the transfers that use them.
#include <optional>

#include "ftp_connection.h"
#include "local_file.h"
#include "passive_reply.h"

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

}  // namespace

FileDescriptor FtpConnection::openPassive(bool extended)
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
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return {};
    }
    ConnectError error = ConnectError::None;
    FileDescriptor data = connectAddress(peer, deadlineIn(kConnectTimeout), error);
    if (!data)
        SetLastError(error == ConnectError::TimedOut ? ERROR_INTERNET_TIMEOUT
                                                     : ERROR_INTERNET_CANNOT_CONNECT);
    return data;
}

FileDescriptor FtpConnection::openDataConnection()
{
    if (!control_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return {};
    }
    // EPSV where offered, and always over IPv6, where PASV cannot say much.
    PeerAddress peer;
    const bool ipv6 = control_->peerAddress(peer) && isIpv6(peer);
    if (!epsvFailed_ && (features_.epsv || ipv6)) {
        if (FileDescriptor data = openPassive(true))
            return data;
        if (!control_->isAlive())
            return {};
        epsvFailed_ = true;  // broken EPSV stays broken: use PASV from now on
    }
    return openPassive(false);
}

template <typename Move>
bool FtpConnection::transfer(std::string_view verb, std::string_view argument,
                             Direction direction, Move move)
{
    if (!ensureConnected() || !isUsableName(argument))
        return false;
    FileDescriptor data = openDataConnection();
    if (!data)
        return false;
    std::string command(verb);
    if (!argument.empty())
        command.append(" ").append(argument);
    const auto started = control_->execute(command);
    if (!started)
        return false;
    if (!started->isPreliminary()) {
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    std::uint64_t bytes = 0;
    const TransferStatus moved = move(data.get(), bytes);
    data.reset();  // for an upload, this is the end of the file

    if (moved != TransferStatus::Done) {
        control_->readReply(kAfterFailureReplyTimeout);
        SetLastError(errorFor(moved));
        return false;
    }
    const auto completion = control_->readReply();
    if (!completion)
        return false;
    if (!completion->isCompletion()) {
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    // A short stream with a 226 is still a short file.
    const auto announced = parseAnnouncedSize(started->text, argument);
    if (direction == Direction::Receive && announced && *announced != bytes) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    return true;
}

bool FtpConnection::download(std::string_view remote, TemporaryFile& local)
{
    std::lock_guard lock(mutex_);
    const bool received = transfer(
        "RETR", remote, Direction::Receive,
        [&](int dataFd, std::uint64_t& bytes) { return receiveToFile(dataFd, local.fd(), bytes); });
    if (received && !local.replaceTarget()) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return false;
    }
    return received;
}

bool FtpConnection::upload(int localFd, std::string_view remote)
{
    std::lock_guard lock(mutex_);
    return transfer(
        "STOR", remote, Direction::Send,
        [&](int dataFd, std::uint64_t& bytes) { return sendFromFile(localFd, dataFd, bytes); });
}

bool FtpConnection::list(std::string_view command,
                         const std::function<void(std::string_view)>& sink)
{
    // Bounds a hostile server's endless listing.
    constexpr std::uint64_t kListingLimit = std::uint64_t(1) << 30;
    std::lock_guard lock(mutex_);
    return transfer(command, {}, Direction::Receive, [&](int dataFd, std::uint64_t& bytes) {
        return receiveToSink(dataFd, sink, kListingLimit, bytes);
    });
}

}  // namespace quorvane::client
