// SPDX-License-Identifier: MIT
// The session's idea of the server's current folder, through changes and
// reconnections.
#include <gtest/gtest.h>

#include "posix/client/remote_folder.h"

using quorvane::client::RemoteFolder;

namespace {

TEST(RemoteFolder, NeverChangedNeedsNothingAfterAReconnection)
{
    RemoteFolder folder;
    EXPECT_FALSE(folder.wasChanged());
    folder.reconnected(false);
    EXPECT_FALSE(folder.isLost());
    EXPECT_TRUE(folder.allows("relative.txt"));
}

TEST(RemoteFolder, AnAbsoluteChangeIsKnownAsGiven)
{
    RemoteFolder folder;
    folder.changed("/pub/data");
    EXPECT_TRUE(folder.wasChanged());
    EXPECT_EQ(folder.pathToRestore(), "/pub/data");
    folder.reconnected(true);
    EXPECT_FALSE(folder.isLost());
    EXPECT_TRUE(folder.allows("relative.txt"));
}

TEST(RemoteFolder, ARelativeChangeIsKnownOnlyAsPwdNamedIt)
{
    RemoteFolder named;
    named.changed("data", "/home/user/data");
    EXPECT_EQ(named.pathToRestore(), "/home/user/data");

    RemoteFolder unnamed;
    unnamed.changed("data");
    EXPECT_EQ(unnamed.pathToRestore(), std::nullopt);
    EXPECT_TRUE(unnamed.allows("here.txt"));  // still on the connection that went there
    unnamed.reconnected(false);  // nothing to go back to
    EXPECT_TRUE(unnamed.isLost());
}

TEST(RemoteFolder, ALostFolderServesAbsoluteNamesUntilTheNextChange)
{
    RemoteFolder folder;
    folder.changed("/gone");
    folder.reconnected(false);
    EXPECT_TRUE(folder.isLost());
    EXPECT_FALSE(folder.allows("relative.txt"));
    EXPECT_FALSE(folder.allows(""));  // the current folder itself
    EXPECT_TRUE(folder.allows("/elsewhere/file.txt"));
    // Each new connection tries the way back again.
    EXPECT_EQ(folder.pathToRestore(), "/gone");
    folder.reconnected(true);
    EXPECT_FALSE(folder.isLost());

    folder.reconnected(false);
    folder.changed("/fresh");
    EXPECT_FALSE(folder.isLost());
    EXPECT_TRUE(folder.allows("relative.txt"));
}

}  // namespace
