// SPDX-License-Identifier: MIT
// A session stopped by SIGINT or SIGTERM ends at once, with status 130 or
// 143, without leaving the module's temporary files named on the device:
// where the file system has no unnamed files, a download or a listing under
// way is a file whose name carries this process's id, and the program
// removes it on its way out.
#pragma once

#include <string>

class Interruption {
public:
    // From now on the signals are taken by a thread of its own (no handler
    // interrupts the module); `deviceRoot` holds the listing file.
    explicit Interruption(const std::string& deviceRoot);
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    // The folder a download of the coming command writes into, if any.
    static void downloadsInto(const std::string& folder);
};
