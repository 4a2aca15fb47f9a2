// quorvane: a host program for the Quorvane2 module. It loads the module at
// run time, as a device application would, and runs the commands given on
// its command line in order, printing each result code.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quorvane2.h"
#include "progress.h"
#include "utf.h"

namespace {

constexpr const char* kUsage = R"(usage: quorvane [--module PATH] COMMAND [ARGS]... [COMMAND [ARGS]...]...

Loads libQuorvane2.so (by default the one beside this program) and runs the
commands in order, printing "<command> <result code>" for each. Stops at the
first result other than 999 and exits with status 1.

commands:
  login SERVER USER PASSWORD   open the session (port 21, passive, binary)
  logout                       close the session
  get LOCAL REMOTE             download REMOTE to the device path LOCAL
  put LOCAL REMOTE             upload the device file LOCAL as REMOTE
  rm REMOTE                    delete a remote file
  mkdir REMOTE                 create a remote folder
  rmdir REMOTE                 remove a remote folder
  mv OLD NEW                   rename a remote file
  ls FOLDER                    list a remote folder into the listing file and print it
  cd FOLDER                    make a remote folder current (as ls does, listing file included)

LOCAL is a path of the device's file system: "\" and "/" both separate, and
an absolute path lies under the module's device root. REMOTE names are given
to the server as they stand. Transfers that take longer than a second show
their progress on a terminal.

exit status: 0 all succeeded, 1 a command failed, 2 usage or loading error
)";

class Module {
public:
    explicit Module(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Module() { if (handle_) dlclose(handle_); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }

    template <typename Function>
    Function* resolve(const char* name) const
    {
        return reinterpret_cast<Function*>(dlsym(handle_, name));
    }

private:
    void* handle_;
};

using Arguments = std::vector<std::u16string>;

struct Command {
    const char* name;
    std::size_t argumentCount;
    std::function<FTPResult(const Module&, const Arguments&)> run;
    Progress progress = Progress::None;
};

template <typename Function, typename... Args>
FTPResult call(const Module& module, const char* symbol, Args... args)
{
    auto* function = module.template resolve<Function>(symbol);
    if (!function) {
        std::fprintf(stderr, "quorvane: the module does not export %s\n", symbol);
        std::exit(2);
    }
    return function(args...);
}

// The listing file "\FTPFolder.txt" lies in the device root the module was
// built with.
void printListing()
{
    const std::string path = std::string(QUORVANE_DEVICE_ROOT) + "/FTPFolder.txt";
    FILE* listing = std::fopen(path.c_str(), "rb");
    if (!listing) {
        std::fprintf(stderr, "quorvane: cannot read %s\n", path.c_str());
        return;
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, listing)) > 0)
        std::fwrite(buffer, 1, got, stdout);
    std::fclose(listing);
}

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = {
        {"login", 3,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPServerLogIn)>(m, "FTPServerLogIn", a[0].c_str(),
                                                   a[1].c_str(), a[2].c_str());
         }},
        {"logout", 0,
         [](const Module& m, const Arguments&) {
             return call<decltype(FTPServerLogOut)>(m, "FTPServerLogOut");
         }},
        {"get", 2,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileDownload)>(m, "FTPFileDownload", a[0].c_str(),
                                                    a[1].c_str());
         },
         Progress::LocalWrites},
        {"put", 2,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileUpload)>(m, "FTPFileUpload", a[0].c_str(),
                                                  a[1].c_str());
         },
         Progress::LocalReads},
        {"rm", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileDelete)>(m, "FTPFileDelete", a[0].c_str());
         }},
        {"mkdir", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFolderCreate)>(m, "FTPFolderCreate", a[0].c_str());
         }},
        {"rmdir", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFolderDelete)>(m, "FTPFolderDelete", a[0].c_str());
         }},
        {"ls", 1,
         [](const Module& m, const Arguments& a) {
             const FTPResult result = call<decltype(FTPServerFiles)>(
                 m, "FTPServerFiles", nullptr, nullptr, nullptr, a[0].c_str());
             if (result == FTP_RESULT_OK)
                 printListing();
             return result;
         }},
        {"cd", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPServerFiles)>(m, "FTPServerFiles", nullptr, nullptr,
                                                   nullptr, a[0].c_str());
         }},
        {"mv", 2,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileRename)>(m, "FTPFileRename", a[0].c_str(),
                                                  a[1].c_str());
         }},
    };
    return table;
}

const Command* findCommand(std::string_view name)
{
    for (const Command& command : commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

std::string defaultModulePath()
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return "libQuorvane2.so";
    std::string path(self, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + "libQuorvane2.so";
}

int usageError(const char* message)
{
    std::fprintf(stderr, "quorvane: %s\n%s", message, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> words(argv + 1, argv + argc);
    std::string modulePath = defaultModulePath();
    if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (words.size() >= 2 && words[0] == "--module") {
        modulePath = words[1];
        words.erase(words.begin(), words.begin() + 2);
    }
    if (words.empty())
        return usageError("no command given");

    // Check the whole command line before running anything.
    struct Step {
        const Command* command;
        Arguments arguments;
    };
    std::vector<Step> steps;
    for (std::size_t i = 0; i < words.size();) {
        const Command* command = findCommand(words[i]);
        if (!command)
            return usageError(("unknown command: " + std::string(words[i])).c_str());
        if (words.size() - i - 1 < command->argumentCount)
            return usageError(("too few arguments for " + std::string(words[i])).c_str());
        Step step{command, {}};
        for (std::size_t k = 1; k <= command->argumentCount; ++k) {
            auto wide = quorvane::text::toUtf16(words[i + k]);
            if (!wide)
                return usageError("an argument is not valid UTF-8");
            step.arguments.push_back(std::move(*wide));
        }
        steps.push_back(std::move(step));
        i += command->argumentCount + 1;
    }

    Module module(modulePath);
    if (!module) {
        std::fprintf(stderr, "quorvane: cannot load %s: %s\n", modulePath.c_str(), dlerror());
        return 2;
    }
    for (const Step& step : steps) {
        FTPResult result;
        {
            const ProgressDisplay progress(step.command->progress);
            result = step.command->run(module, step.arguments);
        }
        std::printf("%s %d\n", step.command->name, static_cast<int>(result));
        std::fflush(stdout);
        if (result != FTP_RESULT_OK)
            return 1;
    }
    return 0;
}
