// A logged-in FTP connection: the handle object behind InternetConnectW, and
// the FTP commands carried out on it.
#pragma once

#include <cstdint>
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
    // A listing streamed over several calls: the data connection stays open
    // in between, and every other command fails with
    // ERROR_FTP_TRANSFER_IN_PROGRESS until it ends or is aborted, as on the
    // platform. `command` is LIST or MLSD, of the current folder.
    bool beginListing(std::string_view command);
    // The next piece of the listing: Ok with bytes, Closed at the end of the
    // data stream (then endListing), anything else a failure (then
    // abortListing).
    IoStatus readListing(char* buffer, std::size_t capacity, std::size_t& got);
    // After the data stream ended: true once the server confirmed it whole.
    bool endListing();
    // Before the end: reads the rest of a short listing to its end, or drops
    // a long one and with it the control connection (the next call logs in
    // afresh), so that what follows finds the server in step.
    void abortListing();

    void close() override;

private:
    // Connects and logs in, all before `deadline`.
    bool connect(Deadline deadline);
    bool startTls();
    bool authenticate(const Credentials& credentials);
    // PBSZ 0 and PROT P: every data connection protected.
    bool protectData();
    bool prepare();

    // Before a command: fails while a listing is open; when the server has
    // dropped the session (an idle time-out, say), logs in again and returns
    // to the folder that was current, so that the command acts where the
    // caller expects. A command that may have reached the server is never
    // sent again: a connection lost after sending fails that call, and the
    // next one reconnects.
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
    // A passive transfer under way: its data connection and the server's
    // preliminary reply.
    struct OpenTransfer {
        Channel data;
        Reply started;
        std::string argument;
        Direction direction;
        std::uint64_t bytes = 0;
        Clock::time_point since{};
    };
    // One passive transfer, in the order that keeps control and data in step:
    // open the data connection, send the command, accept 1xx, (handshake,)
    // move the bytes, end the stream, close, then read the completion. An
    // empty argument stands for the current folder.
    std::optional<OpenTransfer> startTransfer(std::string_view verb, std::string_view argument,
                                              Direction direction);
    bool completeTransfer(OpenTransfer& transfer, TransferStatus moved, DWORD failure);
    // The whole of one: `move` gets the data channel and returns its status
    // and byte count.
    template <typename Move>
    bool transfer(std::string_view verb, std::string_view argument, Direction direction,
                  std::uint64_t& bytes, Move move);
    // False, with ERROR_FTP_TRANSFER_IN_PROGRESS, while a listing is open.
    bool isIdle();
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
    std::optional<OpenTransfer> listing_;  // a streamed listing under way
};

}  // namespace quorvane::client
