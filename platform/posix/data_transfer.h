// Moving the bytes of one transfer over a data connection. Memory stays fixed
// whatever the file's size; a connection idle for the inactivity limit fails,
// one that is slow but moving does not.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "channel.h"

namespace quorvane::client {

inline constexpr auto kDataInactivityTimeout = std::chrono::seconds(60);

enum class TransferStatus {
    Done,         // the whole stream moved and the peer closed its side
    TimedOut,     // no progress within the inactivity limit
    NetworkError, // the data connection broke
    LocalError,   // the local file could not be read or written
};

// Copies the data connection into `fileFd` until the server ends the stream
// (a TLS stream cut off without close_notify is a NetworkError). A file
// `flushing` to the disk at the end starts writing it out on the way.
TransferStatus receiveToFile(Channel& data, int fileFd, bool flushing, std::uint64_t& bytes);

// Sends all of `fileFd`, from its start, over the data connection.
TransferStatus sendFromFile(int fileFd, Channel& data, std::uint64_t& bytes);

// Downloads on plain channels go socket to file with splice where the file
// system supports it, with a copy through memory where it does not; off,
// they copy (tests use this to run the copying path anywhere).
void setZeroCopy(bool enabled);

// The errno of this thread's last LocalError.
int lastLocalError();

}  // namespace quorvane::client
