// SPDX-License-Identifier: MIT
// The module frame as a host sees it through the dynamic loader.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "harness.h"

using namespace harness;

namespace {

TEST(ModuleFrame, LoadsAndUnloadsWithoutAnyCall)
{
    const bool loadedBefore = ::dlopen(QUORVANE_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD) != nullptr;
    void* handle = ::dlopen(QUORVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    EXPECT_EQ(::dlclose(handle), 0);
    if (loadedBefore) {
        ::dlclose(handle);  // the extra reference RTLD_NOLOAD took
        GTEST_SKIP() << "the module was already loaded in this process";
    }
    EXPECT_EQ(::dlopen(QUORVANE_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the module stayed mapped after its last dlclose";
}

TEST(ModuleFrame, SampleExportsAnswerWhateverTheSession)
{
    void* handle = ::dlopen(QUORVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto* function = reinterpret_cast<int (*)()>(::dlsym(handle, "_Z10fnQuorvanev"));
    auto* variable = static_cast<int*>(::dlsym(handle, "nQuorvane"));
    ASSERT_NE(function, nullptr);
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(function(), 42);
    EXPECT_EQ(*variable, 0);

    TempFolder root;
    ServerProcess server(pyftpdCommand(root.path()));
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(module().logIn(u"127.0.0.1", u"user", u"secret"), FTP_RESULT_OK);
    EXPECT_EQ(function(), 42);
    EXPECT_EQ(*variable, 0);
    EXPECT_EQ(module().logOut(), FTP_RESULT_OK);
    EXPECT_EQ(function(), 42);
    ::dlclose(handle);
}

TEST(ModuleFrame, EntryCallbackIsNotExportedOnElf)
{
    void* handle = ::dlopen(QUORVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(::dlsym(handle, "DllMain"), nullptr);
    EXPECT_EQ(::dlsym(handle, "InternetOpenW"), nullptr) << "a platform function leaked out";
    ::dlclose(handle);
}

}  // namespace
