// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "posix/local/device_path.h"
#include "posix/local/local_file.h"

using namespace quorvane::client;
namespace fs = std::filesystem;

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

// However the root is spelled ("dev", "./dev/"), it is taken as the folder it
// names: absolute paths map under it as a whole path, and a link inside it
// that leads out is refused, as for a root given absolutely.
TEST(DevicePath, ARelativeRootConfinesAsAnAbsoluteOneDoes)
{
    std::string pattern = (fs::temp_directory_path() / "quorvane-root-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path work = fs::canonical(pattern);
    fs::create_directories(work / "dev");
    fs::create_directories(work / "outside");
    fs::create_symlink("../outside", work / "dev" / "data");
    const fs::path before = fs::current_path();
    fs::current_path(work);
    for (const char* spelling : {"dev", "./dev/", "outside/../dev"}) {
        ::setenv("QUORVANE_DEVICE_ROOT", spelling, 1);
        readDeviceRoot();
        EXPECT_EQ(deviceRoot(), (work / "dev").string()) << spelling;
        const auto mapped = hostPathOf(u"\\data\\secret.conf");
        ASSERT_TRUE(mapped) << spelling;
        const auto refused = TemporaryFile::beside(*mapped, deviceRoot());
        ASSERT_FALSE(refused) << spelling;
        EXPECT_EQ(refused.failure().error, EACCES) << spelling;
    }
    EXPECT_TRUE(fs::is_empty(work / "outside"));
    ::unsetenv("QUORVANE_DEVICE_ROOT");
    readDeviceRoot();
    fs::current_path(before);
    fs::remove_all(work);
}

}  // namespace
