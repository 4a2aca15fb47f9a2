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
#include "posix/client/connection_life.h"
#include "posix/client/control_connection.h"
#include "posix/client/file_transfer.h"
#include "posix/client/remote_folder.h"
#include "posix/client/server_knowledge.h"
#include "posix/client/transfer_attempt.h"

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

class Resumption;
class TemporaryFile;
struct DownloadState;  // download.cpp
struct UploadState;  // upload.cpp

// A passive transfer under way: its data connection and the server's
// preliminary reply.
struct DataTransfer {
    Channel data;
    Reply started;
    std::string command;
    bool receiving = true;
    std::uint64_t bytes = 0;
    Clock::time_point since{};
};

// How the start of a passive transfer went.
struct TransferStart {
    Outcome<DataTransfer> transfer;
    bool restRefused = false;  // REST was answered no; nothing else was sent
};

// How a transfer ended, after its bytes.
struct TransferEnd {
    AttemptEnd end = AttemptEnd::Completed;
    Outcome<> outcome;
};

class FtpConnection {
public:
    // Connects, logs in and prepares the session (binary type, UTF-8 names).
    // Nothing stays open when it fails.
    static Outcome<std::shared_ptr<FtpConnection>> logIn(const Credentials& credentials);

    explicit FtpConnection(Credentials credentials) : credentials_(std::move(credentials)) {}
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    const ServerFeatures& features() const { return learned_.features; }

    // The zone the server lists LIST times in (see ListZone).
    ListZone listZone();
    // Learns it from one name whose LIST line showed a time of day:
    // `listed` is that time read as if it were UTC, MDTM gives the truth.
    // Where `name` is empty (no line showed one), nothing is asked and the
    // next listing may tell; meanwhile the rule is UTC.
    void learnListZone(std::string_view name, std::int64_t listed);

    // Each command below runs alone on the connection. Names are UTF-8
    // without control characters (the caller checks).
    Outcome<> changeDirectory(std::string_view path);
    Outcome<> deleteFile(std::string_view path);
    Outcome<> createDirectory(std::string_view path);
    Outcome<> removeDirectory(std::string_view path);
    Outcome<> rename(std::string_view from, std::string_view to);
    Outcome<> download(std::string_view remote, TemporaryFile& local);
    // "host:port user /path/of/remote", where the remote file's folder is
    // known: what a download kept across calls belongs to.
    std::optional<std::string> sourceOf(std::string_view remote);
    Outcome<> upload(const LocalFile& local, std::string_view remote);

    // Says goodbye; the connection never logs in again after this.
    void close();

    // A listing read over several calls (listing_stream.cpp, for
    // ListingStream): from its start to its end or abandonment, every other
    // command fails as busy. Each takes the connection's lock.
    Outcome<DataTransfer> openListing(std::string_view command);
    Outcome<std::size_t> readListing(DataTransfer& transfer, char* buffer, std::size_t capacity);
    Outcome<> endListing(DataTransfer& transfer);
    // Reads the rest of a short listing to its end, or drops a long one and
    // with it the control connection (the next call logs in afresh), so that
    // what follows finds the server in step.
    void abandonListing(DataTransfer& transfer);

private:
    // Connects and logs in, all before `deadline` (log_in.cpp). A server
    // found to lose queued commands is tried again, one at a time.
    Outcome<> connect(Deadline deadline);
    Outcome<> connectOnce(Deadline deadline);
    Outcome<> startTls();
    // USER, then the rest in one write: PASS where asked, PBSZ 0 and PROT P
    // under TLS, TYPE I, FEAT and (queued, or where FEAT offers it) OPTS
    // UTF8 ON.
    Outcome<> logInAndPrepare();
    std::vector<std::string> setUpCommands(bool passwordAsked) const;
    Outcome<> checkSetUpReply(std::string_view command, const Reply& reply);

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

    // Where the server waits for the data connection (EPSV or PASV). The
    // replies to `first` are asked in the same write, and come back in it.
    Outcome<PeerAddress> passiveAddress(bool extended, const std::vector<std::string>& first = {},
                                        std::vector<Reply>* firstReplies = nullptr);
    bool usesEpsv() const;

    // The rungs of a passive transfer (data_connections.cpp), shared by
    // listings and file transfers. The start: REST `restart` (if not 0)
    // right before `command`, the data connection connected while the
    // command goes out, the 1xx, and the handshake under TLS; a passive
    // port that cannot be reached is asked again by PASV.
    TransferStart startTransfer(std::string_view command, PeerAddress address, bool extended,
                                std::uint64_t restart, bool receiving);
    // The end: close_notify both ways under TLS, the close, the completion.
    TransferEnd completeTransfer(DataTransfer& transfer, Outcome<> moved);
    // A listing's start: the current folder, no REST.
    Outcome<DataTransfer> startListing(std::string_view command);

    // The transfer ladder: one attempt (transfer_attempt.cpp), the loops over
    // attempts (download.cpp, upload.cpp) and the proofs (verification.cpp).
    AttemptResult attempt(const AttemptPlan& plan);
    // What the server says of `remote`, asked on its own.
    FileIdentity identityOf(std::string_view remote);
    // After a break: a fresh connection where this one is gone, after
    // `pause`, before `deadline`.
    Outcome<> reconnectForResume(Clock::duration pause, Deadline deadline);
    // After a break or a lost completion: a fresh connection where this one
    // is gone, after `pause`, tried again after the pauses a resumption
    // takes while its attempts and its way back last.
    Outcome<> reconnectAfterBreak(Resumption& resumption, Clock::duration pause);
    // Before a proof: after a lost completion, a fresh connection, whose
    // waits `cap` then holds to the way back.
    Outcome<> backToProve(const AttemptResult& result, Resumption& resumption,
                          std::optional<DeadlineCap>& cap);
    // Whether the server's digest of `remote` and the local file's first
    // `length` bytes agree: nothing where the server offers no digest.
    std::optional<Outcome<bool>> digestsAgree(std::string_view remote, const LocalFile& local,
                                              std::uint64_t length);
    // Whether the server's file is the `length` bytes `local` holds: its
    // digest agrees or, without one, it is still `identity` with that size
    // (a download), or it changed from `before` to that size (an upload).
    // False where it is provably not (start over); a failure where nothing
    // proves either.
    Outcome<bool> proveSame(std::string_view remote, const LocalFile& local, std::uint64_t length,
                            const FileIdentity& identity);
    Outcome<bool> proveStored(std::string_view remote, const LocalFile& local, std::uint64_t length,
                              const FileIdentity& before);
    // After an upload's completion: where the server tells sizes, it must
    // hold every byte sent (some answer 226 to a truncated upload).
    Outcome<> serverHolds(std::string_view remote, std::uint64_t length);
    // The steps of the loops, after each attempt: true once the transfer is
    // whole, false for another attempt, a failure to end the call.
    Outcome<bool> nextDownloadStep(std::string_view remote, DownloadState& state,
                                   const AttemptResult& result, Resumption& resumption);
    void judgeDownloadLength(DownloadState& state, AttemptResult& result);
    Outcome<bool> downloadIsWhole(std::string_view remote, DownloadState& state,
                                  const AttemptResult& result, Resumption& resumption);
    Outcome<bool> resumeDownload(DownloadState& state, const AttemptResult& result,
                                 Resumption& resumption);
    Outcome<bool> nextUploadStep(std::string_view remote, UploadState& state,
                                 const AttemptResult& result, Resumption& resumption);
    Outcome<bool> uploadIsStored(std::string_view remote, UploadState& state,
                                 const AttemptResult& result, Resumption& resumption);
    Outcome<bool> resumeUpload(UploadState& state, const AttemptResult& result,
                               Resumption& resumption);

    // The control connection's commands, below the operations that need one.
    ControlConnection& control() { return life_.control(); }
    const ControlConnection& control() const { return life_.control(); }

    std::mutex mutex_;  // one operation at a time on the control connection
    ConnectionLife life_;
    const Credentials credentials_;
    std::shared_ptr<TlsContext> tls_;  // TLS sessions only
    TlsSession tlsSession_;  // what data connections resume
    RemoteFolder folder_;
    ServerKnowledge learned_;
};

}  // namespace quorvane::client
