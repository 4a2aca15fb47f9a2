#include <gtest/gtest.h>

#include <sys/stat.h>

#include "harness.h"

namespace {

// Runs once before the first test, not when ctest only lists the tests.
class PrivateNamespaces : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string problem = harness::enterPrivateNamespaces();
        ASSERT_TRUE(problem.empty()) << problem;
        // pure-ftpd serves as an unprivileged user: what the tests put on its
        // side must be writable by all.
        ::umask(0);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PrivateNamespaces);
    return RUN_ALL_TESTS();
}
