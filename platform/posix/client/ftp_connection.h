// SPDX-License-Identifier: MIT
// A logged-in FTP connection (what InternetConnectW's handle holds) and the
// FTP commands carried out on it.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/server_argument.h"
#include "posix/client/control_connection.h"
#include "posix/client/file_transfer.h"
#include "posix/client/remote_folder.h"
#include "posix/wire/feature_reply.h"

namespace quorvane::client {

struct Credentials {
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    // TLS on every connection, required: after AUTH TLS (explicit) or from
    // the first byte (implicit).
    text::Security security = text::Security::Plain;
};

class TemporaryFile;

// A passive transfer under way: its data connection and the server's
// preliminary reply.
struct DataTransfer {
    enum class Direction { Receive, Send };

    Channel data;
    Reply started;
    std::string argument;
    Direction direction;
    std::uint64_t bytes = 0;
    Clock::time_point since{};
    // Resumed at an offset: the 150's size is the file's, not this stream's.
    bool resumed = false;
    // Set by completeTransfer: the data stream ended as it should (FIN;
    // close_notify under TLS), but the completion never came (the control
    // connection lost, or silent past its deadline).
    bool dataEnded = false;
    bool completionMissing = false;
};

// How one attempt at a transfer went.
struct TransferAttempt {
    Outcome<> outcome;
    std::uint64_t bytes = 0;  // moved in this attempt
    bool started = false;  // the server took the command (1xx)
    bool restRefused = false;  // the restart offset was not taken
    bool dataEnded = false;
    bool completionMissing = false;
    std::optional<std::uint64_t> announced;  // the file's size, as the 150 gave it
};

class FtpConnection {
public:
    // Connects, logs in and prepares the session (binary type, UTF-8 names).
    // Nothing stays open when it fails.
    static Outcome<std::shared_ptr<FtpConnection>> logIn(const Credentials& credentials);

    explicit FtpConnection(Credentials credentials) : credentials_(std::move(credentials)) {}
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    const ServerFeatures& features() const { return features_; }

    // Each command below runs alone on the connection. Names are UTF-8
    // without control characters (the caller checks).
    Outcome<> changeDirectory(std::string_view path);
    Outcome<> deleteFile(std::string_view path);
    Outcome<> createDirectory(std::string_view path);
    Outcome<> removeDirectory(std::string_view path);
    Outcome<> rename(std::string_view from, std::string_view to);
    Outcome<> download(std::string_view remote, TemporaryFile& local);
    Outcome<> upload(const LocalFile& local, std::string_view remote);

    // Says goodbye; the connection never logs in again after this.
    void close();

private:
    friend class ListingStream;

    // Connects and logs in, all before `deadline`.
    Outcome<> connect(Deadline deadline);
    Outcome<> startTls();
    Outcome<> authenticate();
    // PBSZ 0 and PROT P: every data connection protected.
    Outcome<> protectData();
    Outcome<> prepare();

    // Before a command: fails while a listing is open; when the server has
    // dropped the session (an idle time-out, say), logs in again and returns
    // to the folder that was current, so that the command acts where the
    // caller expects. A command that may have reached the server is never
    // sent again: a connection lost after sending fails that call, and the
    // next one reconnects.
    Outcome<> ensureConnected(std::optional<Deadline> before = std::nullopt);
    // ensureConnected(), and each name one the folder allows (a relative one
    // while the folder is lost would act on other files; an empty one stands
    // for the current folder).
    Outcome<> readyFor(std::initializer_list<std::string_view> names);

    // Sends `verb argument`; fails unless the reply is of the class
    // `expected` (2 or 3).
    Outcome<> simpleCommand(std::string_view verb, std::string_view argument, int expected = 2);

    // Where the server waits for the data connection (EPSV or PASV).
    Outcome<PeerAddress> passiveAddress(bool extended);
    bool usesEpsv() const;

    // One passive transfer, in the order that keeps control and data in step:
    // ask for the data port, connect and send the command at once, accept
    // 1xx (and the handshake, under TLS), move the bytes, end the stream,
    // close, then read the completion. An empty argument stands for the
    // current folder.
    // `restart`, if not 0, goes as REST right before the command.
    Outcome<DataTransfer> startTransfer(std::string_view verb, std::string_view argument,
                                        DataTransfer::Direction direction,
                                        std::uint64_t restart = 0, bool* restRefused = nullptr);
    Outcome<> completeTransfer(DataTransfer& transfer, Outcome<> moved);
    // The whole of one: `move` gets the data channel and counts the bytes.
    using Move = std::function<Outcome<>(Channel& data, std::uint64_t& bytes)>;
    TransferAttempt transfer(std::string_view verb, std::string_view argument,
                             DataTransfer::Direction direction, std::uint64_t restart, bool resumed,
                             const Move& move);
    // After an upload's completion: where the server tells sizes, it must
    // hold every byte sent (some answer 226 to a truncated upload).
    Outcome<> serverHolds(std::string_view remote, std::uint64_t bytes);
    // What the server says of a file now: its size and, where it tells,
    // its modification time; empty where it does not say.
    struct RemoteState {
        std::optional<std::uint64_t> size;
        std::string modified;
    };
    RemoteState remoteState(std::string_view remote);
    // After a transfer broke: a fresh connection where this one is gone,
    // spaced out by `pause` and done before `deadline`.
    Outcome<> reconnectForResume(Clock::duration pause, Deadline deadline);

    std::mutex mutex_;  // one operation at a time on the control connection
    std::unique_ptr<ControlConnection> control_;  // null once dropped
    const Credentials credentials_;
    std::shared_ptr<TlsContext> tls_;  // TLS sessions only
    TlsSession tlsSession_;  // what data connections resume
    bool handshakeBeforeReply_ = false;  // learnt: see DataProtection
    RemoteFolder folder_;
    bool closed_ = false;  // by InternetCloseHandle: never reconnect then
    bool listing_ = false;  // a ListingStream is open on the connection

    // Learned about this server on the way.
    ServerFeatures features_;
    bool epsvFailed_ = false;  // broken EPSV stays broken: PASV from then on
};

}  // namespace quorvane::client
