#include "harness.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/utf.h"

namespace harness {
namespace fs = std::filesystem;

namespace {

// A minimal root (a fresh debootstrap) has no /etc/hosts, and "localhost"
// then resolves nowhere. Only there, and only in this mount namespace,
// /etc gets one: an overlay on a tmpfs mounted over /mnt.
std::string ensureLocalhost()
{
    if (::access("/etc/hosts", F_OK) == 0)
        return "";
    if (::mount("tmpfs", "/mnt", "tmpfs", 0, "mode=0755") != 0 ||
        ::mkdir("/mnt/upper", 0755) != 0 || ::mkdir("/mnt/work", 0755) != 0 ||
        ::mount("overlay", "/etc", "overlay", 0,
                "lowerdir=/etc,upperdir=/mnt/upper,workdir=/mnt/work") != 0)
        return std::string("cannot give /etc a hosts file: ") + std::strerror(errno);
    std::ofstream("/etc/hosts") << "127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost\n";
    return "";
}

}  // namespace

std::string enterPrivateNamespaces()
{
    std::error_code ignored;
    fs::create_directories(QUORVANE_DEVICE_ROOT, ignored);
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
        return std::string("unshare failed (run as root): ") + std::strerror(errno);
    if (::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + std::strerror(errno) +
               " (is / a mount point? In a chroot, bind-mount the root onto itself first)";
    if (::mount("tmpfs", QUORVANE_DEVICE_ROOT, "tmpfs", 0, "mode=0755") != 0)
        return std::string("cannot mount a private device root: ") + std::strerror(errno);
    if (const std::string failed = ensureLocalhost(); !failed.empty())
        return failed;
    // The resume tests' servers and proxy bind passive ports 40000-40019,
    // which lie in the ephemeral range: reserved, no connection made earlier
    // in a long run (valgrind's one process) can hold one of them.
    if (std::FILE* reserved = std::fopen("/proc/sys/net/ipv4/ip_local_reserved_ports", "w")) {
        const bool set = std::fputs("40000-40099", reserved) >= 0;
        if (std::fclose(reserved) != 0 || !set)
            return "cannot reserve the passive ports 40000-40099";
    } else {
        return std::string("cannot reserve the passive ports: ") + std::strerror(errno);
    }
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return "no socket for bringing loopback up";
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(probe, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ::ioctl(probe, SIOCSIFFLAGS, &request) == 0;
    ::close(probe);
    return up ? "" : "could not bring loopback up";
}

namespace {

// Starts argv with its standard output (and error, if given) on these.
pid_t spawn(const std::vector<std::string>& argv, int out, int err = -1)
{
    const pid_t parent = ::getpid();
    // The signal comes when the thread that forked ends: only the main one.
    const bool fromMainThread = ::gettid() == parent;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A test process that crashes or is killed at ctest's timeout takes
        // its servers along (a launcher still stops its own server).
        if (fromMainThread && (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent))
            ::_exit(127);
        // As a shell starts a program: whatever the test run inherited (a
        // background job ignores SIGINT), the child begins with the defaults.
        for (const int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE})
            ::signal(signal, SIG_DFL);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(out, STDOUT_FILENO);
        if (err >= 0)
            ::dup2(err, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    pid_ = spawn(argv, pipeFds[1]);
    ::close(pipeFds[1]);
    // Wait for "ready": the server prints it once it listens.
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && seen.find("ready\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd entry{pipeFds[0], POLLIN, 0};
        if (::poll(&entry, 1, 200) <= 0)
            continue;
        char buffer[256];
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        seen.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    ready_ = seen.find("ready\n") != std::string::npos;
}

ServerProcess::~ServerProcess()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    // Launchers stop their server and remove their files first: up to 10 s.
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        ::usleep(20'000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

std::vector<std::string> pyftpdCommand(const fs::path& root, const std::vector<std::string>& extra)
{
    std::vector<std::string> argv = {QUORVANE_PYTHON,
                                     std::string(QUORVANE_SERVERS_DIR) + "/pyftpd_server.py",
                                     "--root", root.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

const std::vector<Server>& allServers()
{
    static const std::vector<Server> servers = {Server::PyftpdlibMlsd, Server::PyftpdlibList,
                                                Server::Vsftpd, Server::Proftpd, Server::PureFtpd};
    return servers;
}

std::string nameOf(Server server)
{
    switch (server) {
    case Server::PyftpdlibMlsd: return "Pyftpdlib";
    case Server::PyftpdlibList: return "PyftpdlibWithoutMlsd";
    case Server::Vsftpd: return "Vsftpd";
    case Server::Proftpd: return "Proftpd";
    case Server::PureFtpd: return "PureFtpd";
    }
    return "?";
}

namespace {

// vsftpd, proftpd and pure-ftpd come up through one launcher.
std::vector<std::string> launcherCommand(const char* kind, const fs::path& root)
{
    return {QUORVANE_PYTHON, std::string(QUORVANE_SERVERS_DIR) + "/launch_server.py", kind,
            "--root", root.string()};
}

}  // namespace

std::vector<std::string> serverCommand(Server server, const fs::path& root)
{
    switch (server) {
    case Server::PyftpdlibMlsd: return pyftpdCommand(root);
    case Server::PyftpdlibList: return pyftpdCommand(root, {"--no-mlsd"});
    case Server::Vsftpd: return launcherCommand("vsftpd", root);
    case Server::Proftpd: return launcherCommand("proftpd", root);
    case Server::PureFtpd: return launcherCommand("pure-ftpd", root);
    }
    return {};
}

std::vector<std::string> tlsServerCommand(Server server, const fs::path& root,
                                          const TlsOptions& options)
{
    std::vector<std::string> argv = serverCommand(server, root);
    argv.insert(argv.end(), {"--tls", QUORVANE_CERTS_DIR, "--tls-max", options.maxVersion,
                             "--idle-timeout", std::to_string(options.idleTimeout)});
    if (!options.log.empty())
        argv.insert(argv.end(), {"--tls-log", options.log.string()});
    return argv;
}

bool listsWithMlsd(Server server)
{
    return server != Server::PyftpdlibList && server != Server::Vsftpd;
}

std::vector<std::string> faultServerCommand(const std::string& scenarioJson, const fs::path& log)
{
    return {QUORVANE_PYTHON,   std::string(QUORVANE_SERVERS_DIR) + "/fault_server.py",
            scenarioJson,      "--log",
            log.string(),      "--certs",
            QUORVANE_CERTS_DIR};
}

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

const Module& module()
{
    static const Module loaded = [] {
        void* handle = ::dlopen(QUORVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
        Module m{};
        auto resolve = [handle](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(handle, name));
            if (!function)
                throw std::runtime_error(std::string("the module lacks ") + name);
        };
        resolve(m.logIn, "FTPServerLogIn");
        resolve(m.logOut, "FTPServerLogOut");
        resolve(m.download, "FTPFileDownload");
        resolve(m.upload, "FTPFileUpload");
        resolve(m.deleteFile, "FTPFileDelete");
        resolve(m.createFolder, "FTPFolderCreate");
        resolve(m.deleteFolder, "FTPFolderDelete");
        resolve(m.rename, "FTPFileRename");
        resolve(m.listFolder, "FTPServerFiles");
        return m;
    }();
    return loaded;
}

std::u16string wide(const std::string& utf8)
{
    auto converted = quorvane::text::toUtf16(utf8);
    if (!converted)
        throw std::invalid_argument("not UTF-8: " + utf8);
    return *converted;
}

fs::path listingFile() { return fs::path(QUORVANE_DEVICE_ROOT) / "FTPFolder.txt"; }

DeviceFolder::DeviceFolder() : name_("test-" + std::to_string(::getpid()))
{
    fs::remove_all(hostPath(""));
    fs::create_directories(hostPath(""));
}

DeviceFolder::~DeviceFolder()
{
    std::error_code ignored;
    fs::remove_all(hostPath(""), ignored);
}

std::u16string DeviceFolder::devicePath(const std::string& name) const
{
    return wide("\\" + name_ + "\\" + name);
}

fs::path DeviceFolder::hostPath(const std::string& name) const
{
    return fs::path(QUORVANE_DEVICE_ROOT) / name_ / name;
}

std::vector<std::string> DeviceFolder::names() const
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(hostPath("")))
        found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

namespace {

void remountDevice(const std::string& size)
{
    if (::mount("tmpfs", QUORVANE_DEVICE_ROOT, "tmpfs", MS_REMOUNT, ("size=" + size).c_str()) != 0)
        throw std::runtime_error(std::string("cannot resize the device: ") + std::strerror(errno));
}

long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

}  // namespace

FullDevice::FullDevice(std::size_t room)
{
    struct statvfs usage {};
    if (::statvfs(QUORVANE_DEVICE_ROOT, &usage) != 0)
        throw std::runtime_error("statvfs of the device failed");
    const std::uintmax_t used = std::uintmax_t(usage.f_blocks - usage.f_bfree) * usage.f_frsize;
    remountDevice(std::to_string(used + room));
}

FullDevice::~FullDevice() { remountDevice("8g"); }

void resetPeakMemory()
{
    // "5" resets the peak resident memory to the current one (Linux 4.0).
    std::ofstream("/proc/self/clear_refs") << "5";
}

long peakMemoryKiB() { return statusKiB("VmHWM:"); }
long residentMemoryKiB() { return statusKiB("VmRSS:"); }

ProgramRun runProgram(const std::vector<std::string>& argv)
{
    ProgramRun run;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = spawn(argv, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    for (int open = 2; open > 0;) {
        if (::poll(fds, 2, 120'000) <= 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (const pollfd& fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    return run;
}

std::vector<std::string> hostCommand()
{
    std::vector<std::string> command;
    std::istringstream emulator(QUORVANE_HOST_EMULATOR);
    for (std::string word; emulator >> word;)
        command.push_back(word);
    command.push_back(QUORVANE_HOST_PROGRAM);
    return command;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name)
{
    if (const char* previous = std::getenv(name))
        previous_ = previous;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (previous_)
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

namespace {

template <typename Keep>
int countDescriptors(Keep keep)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && keep(target.string()))
            ++count;
    }
    return count;
}

}  // namespace

int openDescriptorCount()
{
    return countDescriptors([](const std::string&) { return true; });
}

int openSocketCount()
{
    return countDescriptors(
        [](const std::string& target) { return target.rfind("socket:", 0) == 0; });
}

std::vector<std::string> readLines(const fs::path& file)
{
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace harness
