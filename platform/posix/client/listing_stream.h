// SPDX-License-Identifier: MIT
// A folder listing read piece by piece over several calls, its data
// connection open in between, as the platform's streamed search needs it.
// While it is open, every other command on the connection fails as busy,
// as on the platform.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "posix/client/ftp_connection.h"

namespace quorvane::client {

class ListingStream {
public:
    // Starts `command` (LIST or MLSD, of the current folder).
    static Outcome<ListingStream> open(std::shared_ptr<FtpConnection> connection,
                                       std::string_view command);

    ListingStream(ListingStream&& other) noexcept = default;
    ListingStream& operator=(ListingStream&&) = delete;
    ~ListingStream() { abort(); }

    // The next piece of the listing: at least one byte, or 0 at the end of
    // the data stream, after which end() says whether it was whole.
    Outcome<std::size_t> read(char* buffer, std::size_t capacity);
    // After the data stream ended: success once the server confirmed it whole.
    Outcome<> end();
    // Before the end: see FtpConnection::abandonListing.
    void abort();

private:
    ListingStream(std::shared_ptr<FtpConnection> connection, DataTransfer transfer)
        : connection_(std::move(connection)), transfer_(std::move(transfer))
    {
    }

    std::shared_ptr<FtpConnection> connection_;
    std::optional<DataTransfer> transfer_;  // empty once ended or aborted
};

}  // namespace quorvane::client
