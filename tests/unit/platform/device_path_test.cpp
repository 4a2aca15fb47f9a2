#include <gtest/gtest.h>

#include <vector>

#include "posix/local/device_path.h"

using quorvane::client::mapDevicePath;

namespace {

struct Row {
    const char* device;
    const char* root;
    const char* host;
};

TEST(DevicePath, AbsolutePathsLandUnderTheRootAndNeverClimbOut)
{
    const std::vector<Row> rows = {
        {"\\FTPFolder.txt", "/", "/FTPFolder.txt"},
        {"\\FTPFolder.txt", "/srv/device", "/srv/device/FTPFolder.txt"},
        {"\\FTPFolder.txt", "/srv/device/", "/srv/device/FTPFolder.txt"},
        {"\\Temp\\sub\\file.bin", "/root", "/root/Temp/sub/file.bin"},
        {"/Temp/mixed\\seps.txt", "/root", "/root/Temp/mixed/seps.txt"},
        {"\\Temp\\\\double\\.\\file", "/root", "/root/Temp/double/file"},
        {"\\a\\..\\b", "/root", "/root/b"},
        {"\\..\\..\\etc\\passwd", "/root", "/root/etc/passwd"},
        {"\\", "/root", "/root"},
        {"\\", "/", "/"},
        {"\\caf\xc3\xa9 name.txt", "/root", "/root/caf\xc3\xa9 name.txt"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(mapDevicePath(row.device, row.root), row.host) << row.device;
}

TEST(DevicePath, RelativePathsOnlyChangeTheirSeparators)
{
    EXPECT_EQ(mapDevicePath("local\\file.txt", "/root"), "local/file.txt");
    EXPECT_EQ(mapDevicePath("..\\up.txt", "/root"), "../up.txt");
    EXPECT_EQ(mapDevicePath("plain.txt", "/root"), "plain.txt");
}

}  // namespace
