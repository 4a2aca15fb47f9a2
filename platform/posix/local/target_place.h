// SPDX-License-Identifier: MIT
// The local layer's own: where a download's file goes (its target checked
// as TemporaryFile::beside describes), and the lock a file in use holds.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>

#include "posix/net/failure.h"
#include "posix/net/file_descriptor.h"

namespace quorvane::client {

// What a kept download's record is called beside its file.
inline constexpr const char* kRecordSuffix = ".meta";

struct TargetPlace {
    FileDescriptor folder;  // held open: what the download replaces lies there
    std::string target;  // where links led
    bool replacing = false;
    struct stat existing {};  // the file replaced, if any
};

Outcome<TargetPlace> placeFor(const std::string& requested, const std::string& root);
// The mode the finished file takes (and the owner it keeps, where it may).
mode_t finalModeOf(const TargetPlace& place, int fd);

// A lock on the whole file for as long as this descriptor is open (an open
// file description's: it holds across PID namespaces and NFS clients).
bool lockWhole(int fd);

// Calls `act` for each regular file of this user in `folder` whose name
// `wanted` picks and whose lock nobody holds, while holding it.
void forEachUnheldFile(int folder, const std::function<bool(std::string_view name)>& wanted,
                       const std::function<void(const std::string& name, const struct stat&)>& act);

}  // namespace quorvane::client
