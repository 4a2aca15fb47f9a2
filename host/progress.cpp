#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct IoCounters {
    std::uint64_t rchar = 0;
    std::uint64_t wchar = 0;
    std::uint64_t writeBytes = 0;
};

IoCounters readCounters()
{
    IoCounters counters;
    std::ifstream io("/proc/self/io");
    std::string name;
    std::uint64_t value = 0;
    while (io >> name >> value) {
        if (name == "rchar:")
            counters.rchar = value;
        else if (name == "wchar:")
            counters.wchar = value;
        else if (name == "write_bytes:")
            counters.writeBytes = value;
    }
    return counters;
}

// Bytes moved since `start`: sendfile counts as reads; splice into a file
// only shows in write_bytes, plain writes in wchar.
std::uint64_t movedSince(const IoCounters& start, Progress kind)
{
    const IoCounters now = readCounters();
    if (kind == Progress::LocalReads)
        return now.rchar - start.rchar;
    return std::max(now.wchar - start.wchar, now.writeBytes - start.writeBytes);
}

void printSize(const char* label, double bytes)
{
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    std::fprintf(stderr, "%s%.1f %s", label, bytes, units[unit]);
}

}  // namespace

ProgressDisplay::ProgressDisplay(Progress kind)
{
    // The counters are Linux's; elsewhere there is no progress to show.
    if (kind != Progress::None && ::isatty(STDERR_FILENO) && std::ifstream("/proc/self/io"))
        watcher_ = std::thread([this, kind] { watch(kind); });
}

ProgressDisplay::~ProgressDisplay()
{
    done_ = true;
    if (watcher_.joinable())
        watcher_.join();
    if (shown_)
        std::fputs("\n", stderr);
}

void ProgressDisplay::watch(Progress kind)
{
    using Clock = std::chrono::steady_clock;
    const IoCounters start = readCounters();
    const auto began = Clock::now();
    while (!done_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const std::chrono::duration<double> elapsed = Clock::now() - began;
        if (elapsed.count() < 1.0 || done_)
            continue;
        const auto bytes = static_cast<double>(movedSince(start, kind));
        printSize("\r", bytes);
        printSize(" at ", bytes / elapsed.count());
        std::fputs("/s   ", stderr);
        shown_ = true;
    }
}
