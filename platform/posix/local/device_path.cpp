#include "posix/local/device_path.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "common/environment.h"
#include "common/utf.h"

#ifndef QUORVANE_DEVICE_ROOT
#  define QUORVANE_DEVICE_ROOT "/"
#endif

namespace quorvane::client {

std::string mapDevicePath(std::string_view devicePath, std::string_view root)
{
    std::string path(devicePath);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (path.empty() || path.front() != '/')
        return path;

    std::vector<std::string_view> parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string mapped(root);
    while (!mapped.empty() && mapped.back() == '/')
        mapped.pop_back();
    for (std::string_view part : parts)
        mapped.append("/").append(part);
    return mapped.empty() ? "/" : mapped;
}

namespace {

struct ConfiguredRoot {
    std::mutex mutex;
    std::string root = QUORVANE_DEVICE_ROOT;
    bool keepPartials = false;
};

ConfiguredRoot& configured()
{
    static ConfiguredRoot instance;
    return instance;
}

}  // namespace

std::string deviceRoot()
{
    ConfiguredRoot& root = configured();
    const std::lock_guard lock(root.mutex);
    return root.root;
}

namespace {

// The root as a folder of its own, however it was spelled: links and "."
// or ".." resolved, and absolute ("dev" would move with the working folder,
// and a relative path is not checked against a root).
std::string resolvedRoot(const std::string& asked)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(asked.c_str(), nullptr), std::free);
    if (real)
        return real.get();
    if (asked.front() == '/')
        return asked;
    // Missing: a root that serves nothing, but still never a relative one.
    std::unique_ptr<char, decltype(&std::free)> here(::getcwd(nullptr, 0), std::free);
    return here ? std::string(here.get()) + "/" + asked : asked;
}

}  // namespace

void readDeviceRoot()
{
    const char* asked = text::environmentVariable("QUORVANE_DEVICE_ROOT");
    const std::string chosen = asked && *asked ? asked : QUORVANE_DEVICE_ROOT;
    const char* keep = text::environmentVariable("QUORVANE_KEEP_PARTIAL");
    ConfiguredRoot& root = configured();
    const std::lock_guard lock(root.mutex);
    root.root = resolvedRoot(chosen);
    root.keepPartials = keep && std::string_view(keep) == "1";
}

bool keepsPartialDownloads()
{
    ConfiguredRoot& root = configured();
    const std::lock_guard lock(root.mutex);
    return root.keepPartials;
}

std::optional<std::string> hostPathOf(const char16_t* devicePath)
{
    const auto utf8 = text::toUtf8(text::wideView(devicePath));
    if (!utf8 || utf8->empty())
        return std::nullopt;
    return mapDevicePath(*utf8, deviceRoot());
}

}  // namespace quorvane::client
