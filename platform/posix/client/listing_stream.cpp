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

}  // namespace

Outcome<ListingStream> ListingStream::open(std::shared_ptr<FtpConnection> connection,
                                           std::string_view command)
{
    std::lock_guard lock(connection->mutex_);
    auto started = connection->startListing(command);
    if (!started)
        return std::move(started).failure();
    connection->listing_ = true;
    return ListingStream(std::move(connection), std::move(*started));
}

void ListingStream::release()
{
    transfer_.reset();
    connection_->listing_ = false;
}

Outcome<std::size_t> ListingStream::read(char* buffer, std::size_t capacity)
{
    std::lock_guard lock(connection_->mutex_);
    if (!transfer_)
        return Failure{FailureKind::Internal, "the listing has ended"};
    Timer timer = Timer::idleFor(kDataInactivityTimeout);
    std::size_t got = 0;
    const IoStatus status = transfer_->data.receive(buffer, capacity, got, timer);
    transfer_->bytes += got;
    if (transfer_->bytes > kListingLimit)
        return Failure{FailureKind::ConnectionLost, "the listing is longer than 1 GiB"};
    if (status == IoStatus::Closed)
        return std::size_t{0};
    if (status != IoStatus::Ok)
        return failureOf(status, "no data for 60 s (inactivity limit)",
                         "the data connection broke");
    return got;
}

Outcome<> ListingStream::end()
{
    std::lock_guard lock(connection_->mutex_);
    if (!transfer_)
        return Failure{FailureKind::Internal, "the listing has ended"};
    auto complete = connection_->completeTransfer(*transfer_, {});
    release();
    return std::move(complete.outcome);
}

void ListingStream::abort()
{
    if (!connection_)
        return;  // moved from
    std::lock_guard lock(connection_->mutex_);
    if (!transfer_)
        return;
    const Deadline deadline = deadlineIn(kDrainTime);
    std::uint64_t drained = 0;
    std::array<char, 64 << 10> scratch;
    IoStatus status = IoStatus::Ok;
    while (status == IoStatus::Ok && drained < kDrainLimit) {
        Timer timer = Timer::until(deadline);
        std::size_t got = 0;
        status = transfer_->data.receive(scratch.data(), scratch.size(), got, timer);
        drained += got;
    }
    if (status == IoStatus::Closed) {
        static_cast<void>(connection_->completeTransfer(*transfer_, {}));
    } else {
        // Too much left, or the stream broke: a fresh session for the next
        // call rather than one the server may have left out of step.
        transfer_->data.close();
        connection_->control_.reset();
    }
    release();
}

}  // namespace quorvane::client
