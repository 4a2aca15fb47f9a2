#include "posix/client/listing_stream.h"

#include <array>

namespace quorvane::client {
namespace {

// Bounds a hostile server's endless listing.
constexpr std::uint64_t kListingLimit = std::uint64_t(1) << 30;
// How much of an abandoned listing is read to its end: a transfer that ends
// normally leaves every server in a clean state. An aborted one does not
// always: pure-ftpd sends what it could not write into the next listing.
constexpr std::uint64_t kDrainLimit = 16 << 20;
constexpr auto kDrainTime = std::chrono::seconds(2);

Failure ended() { return Failure{FailureKind::Internal, "the listing has ended"}; }

}  // namespace

Outcome<DataTransfer> FtpConnection::openListing(std::string_view command)
{
    std::lock_guard lock(mutex_);
    auto started = startListing(command);
    if (started)
        life_.beginListing();
    return started;
}

Outcome<std::size_t> FtpConnection::readListing(DataTransfer& transfer, char* buffer,
                                                std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    std::size_t got = 0;
    const IoResult status = transfer.data.receive(buffer, capacity, got, timer);
    transfer.bytes += got;
    if (transfer.bytes > kListingLimit)
        return Failure{FailureKind::ConnectionLost, "the listing is longer than 1 GiB"};
    if (status == IoStatus::Closed)
        return std::size_t{0};
    if (status != IoStatus::Ok)
        return failureOf(status, "no data for 60 s (inactivity limit)",
                         "the data connection broke");
    return got;
}

Outcome<> FtpConnection::endListing(DataTransfer& transfer)
{
    std::lock_guard lock(mutex_);
    if (life_.state() != ConnectionLife::State::Listing)  // closed meanwhile
        return Failure{FailureKind::ConnectionLost, "the session is closed"};
    auto complete = completeTransfer(transfer, {});
    life_.endListing();
    return std::move(complete.outcome);
}

void FtpConnection::abandonListing(DataTransfer& transfer)
{
    std::lock_guard lock(mutex_);
    if (life_.state() != ConnectionLife::State::Listing) {  // closed meanwhile
        transfer.data.close();
        return;
    }
    const Deadline deadline = deadlineIn(kDrainTime);
    std::uint64_t drained = 0;
    std::array<char, 64 << 10> scratch;
    IoResult status = IoStatus::Ok;
    while (status == IoStatus::Ok && drained < kDrainLimit) {
        Timer timer = Timer::until(deadline);
        std::size_t got = 0;
        status = transfer.data.receive(scratch.data(), scratch.size(), got, timer);
        drained += got;
    }
    if (status == IoStatus::Closed) {
        static_cast<void>(completeTransfer(transfer, {}));
    } else {
        // Too much left, or the stream broke: a fresh session for the next
        // call rather than one the server may have left out of step.
        transfer.data.close();
        life_.drop();
    }
    life_.endListing();
}

Outcome<ListingStream> ListingStream::open(std::shared_ptr<FtpConnection> connection,
                                           std::string_view command)
{
    auto started = connection->openListing(command);
    if (!started)
        return std::move(started).failure();
    return ListingStream(std::move(connection), std::move(*started));
}

Outcome<std::size_t> ListingStream::read(char* buffer, std::size_t capacity)
{
    if (!transfer_)
        return ended();
    return connection_->readListing(*transfer_, buffer, capacity);
}

Outcome<> ListingStream::end()
{
    if (!transfer_)
        return ended();
    auto complete = connection_->endListing(*transfer_);
    transfer_.reset();
    return complete;
}

void ListingStream::abort()
{
    if (!connection_ || !transfer_)
        return;  // moved from, or ended
    connection_->abandonListing(*transfer_);
    transfer_.reset();
}

}  // namespace quorvane::client
