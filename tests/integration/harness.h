// SPDX-License-Identifier: MIT
// What the integration tests share: a private network, servers started and
// stopped by the test, and the built module loaded as a host loads it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane2.h"

namespace harness {

// Moves this process into network and mount namespaces of its own: only
// loopback up, so that servers can take 127.0.0.1:21 without touching the
// machine's, and an empty device root, so that tests running side by side
// never share a listing file. Empty on success, else what went wrong.
std::string enterPrivateNamespaces();

// The device's listing file "\FTPFolder.txt" on the host.
std::filesystem::path listingFile();

// A server child process; killed and reaped when the object goes away.
class ServerProcess {
public:
    // Starts argv and waits for the line "ready" on its standard output.
    explicit ServerProcess(const std::vector<std::string>& argv);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool ready() const { return ready_; }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

// pyftpdlib on 127.0.0.1:21 serving `root` to user/secret.
std::vector<std::string> pyftpdCommand(const std::filesystem::path& root,
                                       const std::vector<std::string>& extra = {});

// The servers of the interop matrix, each on 127.0.0.1:21 serving a folder
// to user/secret.
enum class Server { PyftpdlibMlsd, PyftpdlibList, Vsftpd, Proftpd, PureFtpd };

const std::vector<Server>& allServers();
std::string nameOf(Server server);
std::vector<std::string> serverCommand(Server server, const std::filesystem::path& root);
// Whether the client lists with MLSD there (exact seconds) or LIST (minutes,
// and no time of day for dates older than six months).
bool listsWithMlsd(Server server);

// The same servers requiring explicit TLS, with the test CA's certificate
// for localhost, 127.0.0.1 and ::1 (the tests trust that CA only).
struct TlsOptions {
    std::string maxVersion = "1.3";  // or "1.2"
    int idleTimeout = 300;  // seconds (pure-ftpd: whole minutes)
    // Where the server says, per connection, whether it resumed a session
    // (vsftpd, proftpd, pyftpdlib); none if empty.
    std::filesystem::path log;
};
std::vector<std::string> tlsServerCommand(Server server, const std::filesystem::path& root,
                                          const TlsOptions& options);

// The fault server playing `scenarioJson`, recording commands into `log`.
std::vector<std::string> faultServerCommand(const std::string& scenarioJson,
                                            const std::filesystem::path& log);

// A fresh, empty folder for one test, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The module's exports, resolved by name from the built shared library.
struct Module {
    decltype(&FTPServerLogIn) logIn;
    decltype(&FTPServerLogOut) logOut;
    decltype(&FTPFileDownload) download;
    decltype(&FTPFileUpload) upload;
    decltype(&FTPFileDelete) deleteFile;
    decltype(&FTPFolderCreate) createFolder;
    decltype(&FTPFolderDelete) deleteFolder;
    decltype(&FTPFileRename) rename;
    decltype(&FTPServerFiles) listFolder;
};

// Loaded once per process and kept, as a host keeps it.
const Module& module();

std::u16string wide(const std::string& utf8);

// A folder of the device's file system for one test: created under the
// module's device root, removed with the object.
class DeviceFolder {
public:
    DeviceFolder();
    ~DeviceFolder();
    DeviceFolder(const DeviceFolder&) = delete;
    DeviceFolder& operator=(const DeviceFolder&) = delete;

    // The device path of `name` in this folder, with the device's separators.
    std::u16string devicePath(const std::string& name) const;
    // Where that file lies on the host.
    std::filesystem::path hostPath(const std::string& name) const;
    // The names in the folder, sorted.
    std::vector<std::string> names() const;

private:
    std::string name_;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& content);

// The device's file system with only `room` bytes left, as a full disk;
// given its space back with the object.
class FullDevice {
public:
    explicit FullDevice(std::size_t room);
    ~FullDevice();
    FullDevice(const FullDevice&) = delete;
    FullDevice& operator=(const FullDevice&) = delete;
};

// Peak resident memory of this process since the last resetPeakMemory(), and
// its resident memory now, in KiB.
void resetPeakMemory();
long peakMemoryKiB();
long residentMemoryKiB();

// A program run to its end, its output caught.
struct ProgramRun {
    int status = -1;  // the exit status; -1 if it did not exit normally
    std::string out;
    std::string err;
};
ProgramRun runProgram(const std::vector<std::string>& argv);

// The host program of this build, behind the emulator in a cross build (an
// ARM program cannot be started directly where binfmt is not registered).
std::vector<std::string> hostCommand();

// Sets an environment variable for as long as the object lives.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Descriptors of this process: all, and sockets only.
int openDescriptorCount();
int openSocketCount();

std::vector<std::string> readLines(const std::filesystem::path& file);

using Seconds = std::chrono::duration<double>;

}  // namespace harness
