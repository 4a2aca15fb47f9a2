// SPDX-License-Identifier: MIT
// Local paths are paths of the device's file system: `\` and `/` both
// separate, and the device's root lies at a host folder of our choosing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::client {

// Maps a UTF-8 device path to a host path. An absolute path lands under
// `root`, with `.` and `..` resolved so that it cannot climb out of it; a
// relative one keeps its meaning against the process's working folder.
std::string mapDevicePath(std::string_view devicePath, std::string_view root);

// The host folder the device's root maps to: QUORVANE_DEVICE_ROOT as the
// environment had it at the last log-in, else the one the module was built
// with.
std::string deviceRoot();
// Reads QUORVANE_DEVICE_ROOT and QUORVANE_KEEP_PARTIAL again (at each log-in).
void readDeviceRoot();
// Whether downloads are kept across calls and restarts
// (QUORVANE_KEEP_PARTIAL=1 at the last log-in).
bool keepsPartialDownloads();

// The host path for a device path given as UTF-16, under the device root.
// Empty when the path is null, empty or not valid UTF-16.
std::optional<std::string> hostPathOf(const char16_t* devicePath);

}  // namespace quorvane::client
