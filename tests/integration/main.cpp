#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>

#include "harness.h"

namespace {

// Runs once before the first test, not when ctest only lists the tests.
class PrivateNamespaces : public ::testing::Environment {
public:
    void SetUp() override
    {
        // A failed set-up must fail the run: gtest would report every test
        // as skipped, and ctest counts skipped tests as passed.
        if (const std::string problem = harness::enterPrivateNamespaces(); !problem.empty()) {
            std::fprintf(stderr, "the test harness cannot run here: %s\n", problem.c_str());
            std::_Exit(2);
        }
        // pure-ftpd serves as an unprivileged user: what the tests put on its
        // side must be writable by all.
        ::umask(0);
        // TLS sessions trust the test CA, and nothing else.
        ::setenv("SSL_CERT_FILE", QUORVANE_CERTS_DIR "/ca.crt", 1);
        ::setenv("SSL_CERT_DIR", QUORVANE_CERTS_DIR, 1);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PrivateNamespaces);
    return RUN_ALL_TESTS();
}
