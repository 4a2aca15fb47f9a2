#include "posix/local/device_path.h"

#include <cstdlib>
#include <mutex>
#include <vector>

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

void readDeviceRoot()
{
    const char* asked = std::getenv("QUORVANE_DEVICE_ROOT");
    ConfiguredRoot& root = configured();
    const std::lock_guard lock(root.mutex);
    root.root = asked && *asked ? asked : QUORVANE_DEVICE_ROOT;
}

std::optional<std::string> hostPathOf(const char16_t* devicePath)
{
    const auto utf8 = text::toUtf8(text::wideView(devicePath));
    if (!utf8 || utf8->empty())
        return std::nullopt;
    return mapDevicePath(*utf8, deviceRoot());
}

}  // namespace quorvane::client
