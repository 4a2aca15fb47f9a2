// SPDX-License-Identifier: MIT
// Our TLS client on arbitrary bytes from the server: the handshake, reads and
// the end of the stream fail cleanly, in bounded time, whatever arrives.
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "posix/net/tls.h"

using namespace quorvane::client;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto context = TlsContext::create();
    int fds[2];
    if (!context || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    const FileDescriptor client(fds[0]);
    const FileDescriptor server(fds[1]);
    ::fcntl(client.get(), F_SETFL, O_NONBLOCK);
    // The server's whole side at once, then the end of its stream.
    if (::send(server.get(), data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size))
        return 0;
    ::shutdown(server.get(), SHUT_WR);

    TlsStream stream(*context, client.get(), size % 2 == 0);
    Timer timer = Timer::until(deadlineIn(std::chrono::milliseconds(200)));
    const IoResult shaken = stream.handshake(size % 3 ? "localhost" : "127.0.0.1", nullptr, timer);
    if (shaken == IoStatus::Ok)
        std::abort();  // fuzzed bytes cannot forge a certificate a trusted CA signed
    char buffer[4096];
    std::size_t got = 0;
    if (stream.read(buffer, sizeof buffer, got, timer) == IoStatus::Ok && got == 0)
        std::abort();
    stream.shutdown(timer);
    return 0;
}
