// One FTP control connection: sends command lines and reads their replies,
// never waiting past the client's fixed time limits.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "reply_reader.h"
#include "socket.h"
#include "wininet_types.h"

namespace quorvane::client {

inline constexpr auto kConnectTimeout = std::chrono::seconds(30);
inline constexpr auto kReplyTimeout = std::chrono::seconds(60);
// Log-out should not keep the host waiting on a server that never says goodbye.
inline constexpr auto kQuitTimeout = std::chrono::seconds(2);

class ControlConnection {
public:
    // Connects and waits for the server's greeting. On failure returns null
    // and sets the thread's last error.
    static std::unique_ptr<ControlConnection> open(const std::string& host,
                                                   std::uint16_t port);

    // Sends one command line and reads its reply. The command must not hold
    // control characters (checked: such a line is refused, nothing is sent).
    std::optional<Reply> execute(std::string_view command);

    // Reads the next reply, e.g. the completion after a preliminary one.
    std::optional<Reply> readReply(Clock::duration timeout = kReplyTimeout);

    // Says goodbye (briefly waiting for the answer) and closes the socket.
    void quit();

    bool isAlive() const { return static_cast<bool>(socket_); }

    // Checked without waiting before a command is sent: false when the server
    // has gone (end of stream, a 421) or has said anything unasked, which
    // would leave every later reply answering the wrong command. The
    // connection is dropped then.
    bool isReadyForCommand();

    // The server's address, where data connections go too.
    bool peerAddress(PeerAddress& peer) const
    {
        return socket_ && peerAddressOf(socket_.get(), peer);
    }

    explicit ControlConnection(FileDescriptor socket) : socket_(std::move(socket)) {}

private:
    bool send(std::string_view command);
    void drop(DWORD error);

    FileDescriptor socket_;
    ReplyReader reader_;
};

}  // namespace quorvane::client
