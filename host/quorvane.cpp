// SPDX-License-Identifier: MIT
// quorvane: a host program for the Quorvane2 module. It loads the module at
// run time, as a device application would, and runs the commands given on
// its command line in order, printing each result code.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quorvane2.h"
#include "failure_reasons.h"
#include "interruption.h"
#include "module_loader.h"
#include "output.h"
#include "password.h"
#include "progress.h"
#include "common/utf.h"

namespace {

constexpr const char* kUsage =
    R"(usage: quorvane [OPTION]... COMMAND [ARGS]... [COMMAND [ARGS]...]...

Loads the module (libQuorvane2.so, or Quorvane2.dll on Windows; by default
the one beside this program, else the installed one) and runs the commands in
order, printing "<command> <result code>" for each. Stops at the first result
other than 999, says why in one line ("get 2: RETR x.txt: 550 No such file
or directory"), and exits with status 1.

options:
  -v, --verbose   show the session's transcript on stderr (commands, replies
                  with the password masked, data connections, TLS, causes)
  --module PATH   load the module from PATH
  --device-root DIR  the host folder the device's root lies in (the listing
                  file, absolute LOCAL paths); sets QUORVANE_DEVICE_ROOT
  --by-ordinal    resolve the exports by ordinal instead of by name
                  (Windows only: ELF modules have no ordinals)
  --version       print the program's version and exit
  -h, --help      print this help and exit

commands:
  login SERVER USER PASSWORD   open the session (passive, binary); SERVER is
                               HOST (port 21), ftp://HOST[:PORT],
                               ftpes://HOST[:PORT] (explicit TLS, port 21) or
                               ftps://HOST[:PORT] (implicit TLS, port 990);
                               PASSWORD "-" reads it from standard input (not
                               echoed on a terminal): prefer it, since other
                               users see command lines (the program wipes a
                               password given there, but only once it runs)
  logout                       close the session
  get LOCAL REMOTE             download REMOTE to the device path LOCAL
  put LOCAL REMOTE             upload the device file LOCAL as REMOTE
  rm REMOTE                    delete a remote file
  mkdir REMOTE                 create a remote folder
  rmdir REMOTE                 remove a remote folder
  mv OLD NEW                   rename a remote file
  ls FOLDER                    list a remote folder into the listing file and print it
  cd FOLDER                    make a remote folder current (as ls does, listing file included)
  version                      print the program's version and whether each export resolves

LOCAL is a path of the device's file system: "\" and "/" both separate, and
an absolute path lies under the module's device root. REMOTE names are given
to the server as they stand. Transfers that take longer than a second show
their progress when stderr is a terminal.

environment:
  QUORVANE_TRACE   "stderr" or a file: the module's transcript goes there
                   (as with -v); SSL_CERT_FILE and SSL_CERT_DIR name the
                   certificates ftpes:// trusts (OpenSSL's defaults otherwise)
  QUORVANE_DEVICE_ROOT  the device root, as with --device-root ("/" unless
                   set: a user who is not root names a folder of their own)

exit status: 0 all succeeded, 1 a command failed or the output could not be
written, 2 usage or loading error, 130/143 stopped by SIGINT/SIGTERM

The exports and their ordinals, and the rest: man quorvane, man quorvane2.
)";

// How exports are looked up, chosen once on the command line.
bool resolveByOrdinal = false;

struct Export {
    const char* name;  // as exported (decorated where the compiler decorates)
    int ordinal;
};

constexpr Export kExports[] = {
    {"FTPServerFiles", 1},     {"FTPFileDownload", 2},       {"FTPFileUpload", 3},
    {"FTPFileDelete", 4},      {"FTPFolderCreate", 5},       {"FTPFolderDelete", 6},
    {"FTPFileRename", 7},      {"FTPServerLogIn", 8},        {"FTPServerLogOut", 9},
    {"_ZN9CQuorvaneC1Ev", 10}, {"_ZN9CQuorvaneaSERKS_", 11}, {"_Z10fnQuorvanev", 12},
    {"nQuorvane", 13},
};

using Module = ModuleLoader;

using Arguments = std::vector<std::u16string>;

struct Command {
    const char* name;
    std::size_t argumentCount;
    std::function<FTPResult(const Module&, const Arguments&)> run;
    Progress progress = Progress::None;
};

void* resolve(const Module& module, const char* symbol)
{
    if (!resolveByOrdinal)
        return module.byName(symbol);
    for (const Export& entry : kExports)
        if (std::string_view(entry.name) == symbol)
            return module.byOrdinal(entry.ordinal);
    return nullptr;
}

template <typename Function, typename... Args>
FTPResult call(const Module& module, const char* symbol, Args... args)
{
    auto* function = reinterpret_cast<Function*>(resolve(module, symbol));
    if (!function) {
        std::fprintf(stderr, "quorvane: the module does not export %s\n", symbol);
        std::exit(2);
    }
    return function(args...);
}

// The host's strings are UTF-16 on every platform; the module's WideString
// is char16_t or, on Windows, the 16-bit wchar_t.
WideString wide(const std::u16string& text) { return reinterpret_cast<WideString>(text.c_str()); }

// The host folder the device's root lies in: the program and the module it
// loads follow the same setting (--device-root, else QUORVANE_DEVICE_ROOT,
// else the program's own default).
std::string deviceRoot = QUORVANE_DEVICE_ROOT;

// Where a device path lies on the host, as the module maps it (for the
// folder a download's temporary file goes to).
std::string hostFolderOf(std::u16string_view devicePath)
{
    std::string path = quorvane::text::toUtf8(devicePath).value_or("");
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (!path.empty() && path.front() == '/')
        path.insert(0, deviceRoot);
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The listing file "\FTPFolder.txt" lies in the device root.
void printListing()
{
#if defined(_WIN32)
    const std::string path = "\\FTPFolder.txt";
#else
    const std::string path = deviceRoot + "/FTPFolder.txt";
#endif
    FILE* listing = std::fopen(path.c_str(), "rb");
    if (!listing) {
        std::fprintf(stderr, "quorvane: cannot read %s\n", path.c_str());
        return;
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, listing)) > 0)
        printOutput(buffer, got);
    std::fclose(listing);
}

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = {
        {"login", 3,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPServerLogIn)>(m, "FTPServerLogIn", wide(a[0]), wide(a[1]),
                                                   wide(a[2]));
         }},
        {"logout", 0,
         [](const Module& m, const Arguments&) {
             return call<decltype(FTPServerLogOut)>(m, "FTPServerLogOut");
         }},
        {"get", 2,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileDownload)>(m, "FTPFileDownload", wide(a[0]), wide(a[1]));
         },
         Progress::LocalWrites},
        {"put", 2,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileUpload)>(m, "FTPFileUpload", wide(a[0]), wide(a[1]));
         },
         Progress::LocalReads},
        {"rm", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileDelete)>(m, "FTPFileDelete", wide(a[0]));
         }},
        {"mkdir", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFolderCreate)>(m, "FTPFolderCreate", wide(a[0]));
         }},
        {"rmdir", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFolderDelete)>(m, "FTPFolderDelete", wide(a[0]));
         }},
        {"ls", 1,
         [](const Module& m, const Arguments& a) {
             const FTPResult result = call<decltype(FTPServerFiles)>(m, "FTPServerFiles", nullptr,
                                                                     nullptr, nullptr, wide(a[0]));
             if (result == FTP_RESULT_OK)
                 printListing();
             return result;
         }},
        {"cd", 1,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPServerFiles)>(m, "FTPServerFiles", nullptr, nullptr, nullptr,
                                                   wide(a[0]));
         }},
        {"mv", 2,
         [](const Module& m, const Arguments& a) {
             return call<decltype(FTPFileRename)>(m, "FTPFileRename", wide(a[0]), wide(a[1]));
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

int printVersion(const Module& module)
{
    std::printf("quorvane %s\n", QUORVANE_VERSION);
    int missing = 0;
    for (const Export& entry : kExports) {
        const void* byName = module.byName(entry.name);
        std::printf("%3d %-22s %s", entry.ordinal, entry.name, byName ? "by name" : "MISSING");
        if (Module::hasOrdinals()) {
            const void* byOrdinal = module.byOrdinal(entry.ordinal);
            std::printf(", %s", byOrdinal == byName ? "same by ordinal" : "DIFFERS by ordinal");
            missing += byOrdinal != byName;
        }
        std::printf("\n");
        missing += byName == nullptr;
    }
    return missing == 0 ? 0 : 1;
}

// The program's version, the module's it loads, and where the device root lies.
int printVersions(const std::string& modulePath)
{
    std::printf("quorvane %s\n", QUORVANE_VERSION);
    const Module module(modulePath);
    if (module) {
        const std::string version = module.version();
        std::printf("module %s%s%s\n", module.file().c_str(), version.empty() ? "" : ", version ",
                    version.c_str());
    } else {
        std::printf("module %s cannot be loaded: %s\n", modulePath.c_str(), module.error().c_str());
    }
#if !defined(_WIN32)
    std::printf("device root %s\n", deviceRoot.c_str());
#endif
    flushOutput();
    return module ? 0 : 2;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "quorvane: %s\nTry 'quorvane --help' for more information.\n",
                 message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!checkStandardStreams())
        return 1;
#if !defined(_WIN32)
    // Output into a closed pipe ("| head") must not end the session unasked.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (const char* root = std::getenv("QUORVANE_DEVICE_ROOT"); root && *root)
        deviceRoot = root;
    std::vector<std::string_view> words(argv + 1, argv + argc);
    std::string modulePath = Module::defaultPath();
    bool verbose = false;
    while (!words.empty() && words[0].substr(0, 1) == "-") {
        if (words[0] == "--help" || words[0] == "-h") {
            std::fputs(kUsage, stdout);
            flushOutput();
            return 0;
        }
        if (words[0] == "--version")
            return printVersions(modulePath);
        if (words[0] == "-v" || words[0] == "--verbose") {
            verbose = true;
            words.erase(words.begin());
        } else if (words[0] == "--module" && words.size() >= 2) {
            modulePath = words[1];
            words.erase(words.begin(), words.begin() + 2);
        } else if (words[0] == "--device-root" && words.size() >= 2) {
            deviceRoot = words[1];
            words.erase(words.begin(), words.begin() + 2);
        } else if (words[0] == "--by-ordinal") {
            if (!Module::hasOrdinals())
                return usageError("--by-ordinal: ELF modules have no ordinals; "
                                  "their exports can only be resolved by name");
            resolveByOrdinal = true;
            words.erase(words.begin());
        } else {
            return usageError("unknown option: " + std::string(words[0]));
        }
    }
    if (words.empty())
        return usageError("no command given");
    const bool versionOnly = words.size() == 1 && words[0] == "version";

    // Check the whole command line before running anything.
    if (versionOnly)
        words.clear();
    struct Step {
        const Command* command;
        Arguments arguments;
    };
    std::vector<Step> steps;
    for (std::size_t i = 0; i < words.size();) {
        const Command* command = findCommand(words[i]);
        if (!command)
            return usageError("unknown command: " + std::string(words[i]));
        if (words.size() - i - 1 < command->argumentCount)
            return usageError("too few arguments for " + std::string(words[i]));
        Step step{command, {}};
        for (std::size_t k = 1; k <= command->argumentCount; ++k) {
            std::string_view word = words[i + k];
            // "get a.txt logout": the argument left out, not a file "logout".
            if (findCommand(word) || word == "version")
                return usageError("too few arguments for " + std::string(words[i]) + ": \"" +
                                  std::string(word) + "\" is a command (for a file or password " +
                                  "of that name, write ./" + std::string(word) + " or \"-\")");
            const bool password = command->name == std::string_view("login") && k == 3;
            std::optional<std::string> typed;
            if (password && word == "-") {
                if (!(typed = readPassword()))
                    return usageError("no password on standard input");
                word = *typed;
            }
            auto wide = quorvane::text::toUtf16(word);
            if (password && !typed)
                wipeArgument(const_cast<char*>(words[i + k].data()));
            if (!wide)
                return usageError("an argument is not valid UTF-8");
            step.arguments.push_back(std::move(*wide));
        }
        steps.push_back(std::move(step));
        i += command->argumentCount + 1;
    }

#if !defined(_WIN32)
    ::setenv("QUORVANE_DEVICE_ROOT", deviceRoot.c_str(), 1);
#endif
    const Interruption interruption(deviceRoot);
    Module module(modulePath);
    if (!module) {
        std::fprintf(stderr, "quorvane: cannot load %s: %s\n", modulePath.c_str(),
                     module.error().c_str());
        return 2;
    }
    if (versionOnly) {
        const int status = printVersion(module);
        flushOutput();
        return status;
    }
    if (verbose)
        setTranscriptTarget("stderr");
    FailureReasons reasons;
    for (const Step& step : steps) {
        FTPResult result;
        reasons.mark();
        Interruption::downloadsInto(step.command->progress == Progress::LocalWrites
                                        ? hostFolderOf(step.arguments[0])
                                        : std::string());
        {
            const ProgressDisplay progress(step.command->progress);
            result = step.command->run(module, step.arguments);
        }
        const std::string reason = result == FTP_RESULT_OK ? "" : reasons.reasonSinceMark();
        std::string line = std::string(step.command->name) + " " + std::to_string(result);
        if (!reason.empty())
            line.append(": ").append(reason);
        line += '\n';
        printOutput(line.data(), line.size());
        flushOutput();
        if (result != FTP_RESULT_OK)
            return 1;
    }
    return 0;
}
