#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if !defined(_WIN32)
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace {

bool readerGone = false;

void checked(bool written)
{
    if (written)
        return;
    if (errno == EPIPE) {
        readerGone = true;
        return;
    }
    std::fprintf(stderr, "quorvane: cannot write the output: %s\n", std::strerror(errno));
    std::_Exit(1);
}

}  // namespace

bool checkStandardStreams()
{
#if !defined(_WIN32)
    for (const int fd : {0, 1, 2}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: this one.
        if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return false;
        if (fd == 1) {
            std::fputs("quorvane: standard output is closed\n", stderr);
            return false;
        }
    }
#endif
    return true;
}

void printOutput(const char* text, std::size_t size)
{
    if (!readerGone)
        checked(std::fwrite(text, 1, size, stdout) == size);
}

void flushOutput()
{
    if (!readerGone)
        checked(std::fflush(stdout) == 0);
}
