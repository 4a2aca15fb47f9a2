// A logged-in FTP connection: the handle object behind InternetConnectW, and
// the FTP commands carried out on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "control_connection.h"
#include "data_transfer.h"
#include "handles.h"

namespace quorvane::client {

// What the server's FEAT reply offers (RFC 2389).
struct ServerFeatures {
    bool mlst = false;
    bool epsv = false;
    bool utf8 = false;
    bool size = false;
    bool mdtm = false;
};

ServerFeatures parseFeatures(const Reply& featReply);

struct Credentials {
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    bool tls = false;  // explicit TLS (AUTH TLS) required, on every connection
};

class TemporaryFile;

class FtpConnection final : public HandleObject {
public:
    // Connects, logs in and prepares the session (binary type, UTF-8 names).
    // Null with the last error set on any failure; nothing stays open then.
    static std::shared_ptr<FtpConnection> logIn(const Credentials& credentials,
                                                HINTERNET parent);

    FtpConnection(Credentials credentials, HINTERNET parent)
        : HandleObject(HandleKind::Connection, parent), credentials_(std::move(credentials)) {}

    const ServerFeatures& features() const { return features_; }

    // Each command below runs alone on the connection and returns false with
    // the last error set when it fails. Names are UTF-8 without control
    // characters (the caller checks).
    bool changeDirectory(std::string_view path);
    bool deleteFile(std::string_view path);
    bool createDirectory(std::string_view path);
    bool removeDirectory(std::string_view path);
    bool rename(std::string_view from, std::string_view to);
    bool download(std::string_view remote, TemporaryFile& local);
    bool upload(int localFd, std::string_view remote);
    // Runs a listing command (LIST, MLSD), handing its output to `sink` as it
    // arrives. Only a true result means the listing is complete.
    bool list(std::string_view command, const std::function<void(std::string_view)>& sink);

    // One search at a time per connection, as on the platform: true when
    // this caller may start one.
    bool beginSearch() { return !searching_.exchange(true); }
    void endSearch() { searching_ = false; }

    void close() override;

private:
    // Connects and logs in, all before `deadline`.
    bool connect(Deadline deadline);
    bool startTls();
    bool authenticate(const Credentials& credentials);
    // PBSZ 0 and PROT P: every data connection protected.
    bool protectData();
    bool prepare();

    // Before a command: when the server has dropped the session (an idle
    // time-out, say), logs in again and returns to the folder that was
    // current, so that the command acts where the caller expects. A command
    // that may have reached the server is never sent again: a connection
    // lost after sending fails that call, and the next one reconnects.
    bool ensureConnected();

    // False (with the last error set) for a relative name while the folder
    // it would resolve against is lost: it would act on other files.
    bool isUsableName(std::string_view path);
    static bool isAbsolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

    // Sends `verb argument`; true on a reply of the class `expected` (2 or 3).
    bool simpleCommand(std::string_view verb, std::string_view argument, int expected = 2);

    Channel openDataConnection();
    Channel openPassive(bool extended);
    // The TLS handshake on a data connection, resuming the control
    // connection's session: after the 1xx, the order every server takes.
    bool protect(Channel& data);

    enum class Direction { Receive, Send };
    // One passive transfer, in the order that keeps control and data in step:
    // open the data connection, send the command, accept 1xx, (handshake,)
    // move the bytes, end the stream, close, then read the completion.
    // `move` gets the data channel and returns its status and byte count. An
    // empty argument stands for the current folder.
    template <typename Move>
    bool transfer(std::string_view verb, std::string_view argument, Direction direction,
                  std::uint64_t& bytes, Move move);
    // After an upload's completion: where the server tells sizes, it must
    // hold every byte sent (some answer 226 to a truncated upload).
    bool serverHolds(std::string_view remote, std::uint64_t bytes);

    std::mutex mutex_;  // one operation at a time on the control connection
    std::unique_ptr<ControlConnection> control_;
    const Credentials credentials_;
    std::shared_ptr<TlsContext> tls_;  // TLS sessions only
    TlsSession tlsSession_;            // what data connections resume
    ServerFeatures features_;
    // The current folder as an absolute name, for coming back after a
    // reconnection; unknown when a relative change was not named by PWD.
    std::optional<std::string> folder_;
    bool folderChanged_ = false;
    // After a reconnection that could not return to folder_: the server's
    // current folder is not the caller's, until the next absolute change.
    bool folderLost_ = false;
    bool closed_ = false;  // by InternetCloseHandle: never reconnect then
    bool epsvFailed_ = false;
    std::atomic<bool> searching_{false};
};

}  // namespace quorvane::client
