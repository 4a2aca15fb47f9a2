#include "interruption.h"

#include <initializer_list>
#include <mutex>
#include <thread>

#if !defined(_WIN32)
#  include <dirent.h>
#  include <signal.h>
#  include <unistd.h>
#endif

namespace {

std::mutex mutex;
std::string root;
std::string downloads;

#if !defined(_WIN32)

void removeOurs(const std::string& folder, const std::string& prefix)
{
    if (DIR* entries = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (const dirent* entry = ::readdir(entries))
            if (std::string(entry->d_name).rfind(prefix, 0) == 0)
                ::unlink((folder + "/" + entry->d_name).c_str());
        ::closedir(entries);
    }
}

[[noreturn]] void stopWith(int signal)
{
    const std::string pid = std::to_string(::getpid());
    {
        const std::lock_guard lock(mutex);
        ::unlink((root + "/FTPFolder.txt." + pid + ".tmp").c_str());
        if (!downloads.empty())
            removeOurs(downloads, ".quorvane-download-" + pid + "-");
    }
    ::_exit(128 + signal);
}

#endif

}  // namespace

Interruption::Interruption(const std::string& deviceRoot)
{
    root = deviceRoot;
#if !defined(_WIN32)
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGINT, SIGTERM}) {
        // One the program was started with ignored (nohup, a background job)
        // stays ignored.
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN)
            sigaddset(&stops, signal);
    }
    if (::pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0)
        return;
    std::thread([stops] {
        int signal = 0;
        while (::sigwait(&stops, &signal) != 0) {
        }
        stopWith(signal);
    }).detach();
#endif
}

void Interruption::downloadsInto(const std::string& folder)
{
    const std::lock_guard lock(mutex);
    downloads = folder;
}
