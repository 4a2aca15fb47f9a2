// SPDX-License-Identifier: MIT
// The Windows module as a Windows host sees it, run under Wine: exports by
// name and by ordinal, the sample exports, and a session against a local
// FTP server.
//   quorvane_windows_test SERVER_ROOT LOCAL_FOLDER
// SERVER_ROOT is the server's folder and LOCAL_FOLDER a scratch folder, both
// as Windows paths (under Wine, Z:\ is the host's root).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "Quorvane2.h"
#include "module_loader.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char* what)
{
    (ok ? passed : failed)++;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
}

std::string readAll(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::wstring& path, const std::string& bytes)
{
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << bytes;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

template <typename Function>
Function* as(void* address)
{
    return reinterpret_cast<Function*>(address);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorvane_windows_test SERVER_ROOT LOCAL_FOLDER\n");
        return 2;
    }
    const std::wstring server = argv[1];
    const std::wstring local = argv[2];

    const ModuleLoader module(ModuleLoader::defaultPath());
    check(static_cast<bool>(module), "LoadLibraryW loads Quorvane2.dll");
    if (!module) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }
    const char* names[] = {"FTPServerFiles",    "FTPFileDownload",      "FTPFileUpload",
                           "FTPFileDelete",     "FTPFolderCreate",      "FTPFolderDelete",
                           "FTPFileRename",     "FTPServerLogIn",       "FTPServerLogOut",
                           "_ZN9CQuorvaneC1Ev", "_ZN9CQuorvaneaSERKS_", "_Z10fnQuorvanev",
                           "nQuorvane"};
    bool sameEverywhere = true;
    for (int ordinal = 1; ordinal <= 13; ++ordinal) {
        void* byName = module.byName(names[ordinal - 1]);
        sameEverywhere &= byName != nullptr && byName == module.byOrdinal(ordinal);
    }
    check(sameEverywhere, "all 13 exports resolve by name and by ordinal to the same address");
    check(module.byOrdinal(1) == module.byName("FTPServerFiles"), "ordinal 1 is FTPServerFiles");
    check(module.byOrdinal(8) == module.byName("FTPServerLogIn"), "ordinal 8 is FTPServerLogIn");
    check(module.byOrdinal(14) == nullptr, "there is no ordinal 14");

    auto* fnQuorvaneAt = as<int()>(module.byName("_Z10fnQuorvanev"));
    const int* nQuorvaneAt = static_cast<const int*>(module.byName("nQuorvane"));
    check(fnQuorvaneAt && fnQuorvaneAt() == 42, "fnQuorvane returns 42");
    check(nQuorvaneAt && *nQuorvaneAt == 0, "nQuorvane is 0");

    auto* logIn = as<decltype(FTPServerLogIn)>(module.byName("FTPServerLogIn"));
    auto* logOut = as<decltype(FTPServerLogOut)>(module.byName("FTPServerLogOut"));
    auto* download = as<decltype(FTPFileDownload)>(module.byName("FTPFileDownload"));
    auto* upload = as<decltype(FTPFileUpload)>(module.byName("FTPFileUpload"));
    auto* remove = as<decltype(FTPFileDelete)>(module.byName("FTPFileDelete"));
    auto* createFolder = as<decltype(FTPFolderCreate)>(module.byName("FTPFolderCreate"));
    auto* deleteFolder = as<decltype(FTPFolderDelete)>(module.byName("FTPFolderDelete"));
    auto* rename = as<decltype(FTPFileRename)>(module.byName("FTPFileRename"));
    auto* list = as<decltype(FTPServerFiles)>(module.byName("FTPServerFiles"));

    check(logOut() == FTP_RESULT_OK, "log-out before any log-in gives 999");
    check(remove(L"x.txt") == FTP_RESULT_FAILED, "a command before log-in gives 2");
    check(logIn(L"127.0.0.2", L"user", L"secret") == FTP_RESULT_FAILED,
          "log-in where nothing listens gives 2");
    // The transcript over WinINet: the call, its result, and WinINet's reason.
    const std::wstring transcript = local + L"\\transcript.txt";
    _wputenv_s(L"QUORVANE_TRACE", transcript.c_str());
    check(logIn(L"127.0.0.1", L"user", L"wrong") == FTP_RESULT_FAILED,
          "log-in with a wrong password gives 2");
    _wputenv_s(L"QUORVANE_TRACE", L"");
    const std::string traced = readAll(transcript);
    check(traced.find("] call FTPServerLogIn(127.0.0.1, user) = 2") != std::string::npos,
          "the transcript has the failed log-in");
    check(traced.find("] cause: ") != std::string::npos &&
              traced.find("wrong") == std::string::npos,
          "the transcript says why, without the password");
    check(logIn(L"127.0.0.1", L"user\r\nDELE keep.txt", L"secret") == FTP_RESULT_FAILED,
          "a user name with CR LF is refused");
    check(logIn(L"ftpes://127.0.0.1", L"user", L"secret") == FTP_RESULT_FAILED,
          "ftpes:// is refused: WinINet has no FTPS");
    check(logIn(L"ftps://127.0.0.1", L"user", L"secret") == FTP_RESULT_FAILED,
          "ftps:// is refused");
    check(logIn(L"ftp://127.0.0.1:2121", L"user", L"secret") == FTP_RESULT_FAILED,
          "the port a URL names is the one WinINet connects to (nothing listens on 2121)");
    check(logIn(L"ftp://127.0.0.1:21", L"user", L"secret") == FTP_RESULT_OK,
          "ftp://HOST:21 logs in on port 21");
    check(logIn(L"ftp://127.0.0.1/pub", L"user", L"secret") == FTP_RESULT_FAILED,
          "a URL with a path is refused");
    check(logIn(L"ftp://127.0.0.1/", L"user", L"secret") == FTP_RESULT_OK,
          "ftp://HOST/ logs in to HOST");
    const std::wstring sessionTranscript = local + L"\\session.txt";
    _wputenv_s(L"QUORVANE_TRACE", sessionTranscript.c_str());
    check(logIn(L"127.0.0.1", L"user", L"secret") == FTP_RESULT_OK, "log-in gives 999");
    _wputenv_s(L"QUORVANE_TRACE", L"");
    check(fnQuorvaneAt() == 42, "fnQuorvane still returns 42 after a log-in");

    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    bytes += "\r\n\n\r\r\nend";
    writeAll(local + L"\\up.bin", bytes);
    check(upload((local + L"\\up.bin").c_str(), L"up.bin") == FTP_RESULT_OK, "upload gives 999");
    check(readAll(server + L"\\up.bin") == bytes, "the upload is byte-exact");
    check(download((local + L"\\down.bin").c_str(), L"up.bin") == FTP_RESULT_OK,
          "download gives 999");
    check(readAll(local + L"\\down.bin") == bytes, "the download is byte-exact");

    writeAll(local + L"\\keep.txt", "precious");
    check(download((local + L"\\keep.txt").c_str(), L"missing.txt") == FTP_RESULT_FAILED,
          "download of a missing file gives 2");
    check(readAll(local + L"\\keep.txt") == "precious",
          "a failed download leaves the existing local file whole");

    check(rename(L"up.bin", L"renamed.bin") == FTP_RESULT_OK, "rename gives 999");
    check(exists(server + L"\\renamed.bin") && !exists(server + L"\\up.bin"),
          "the file is renamed on the server");
    check(rename(L"up.bin", L"other.bin") == FTP_RESULT_FAILED, "rename of a missing file gives 2");
    check(remove(L"renamed.bin\r\nDELE keep.txt") == FTP_RESULT_FAILED,
          "a name with CR LF is refused");
    check(createFolder(L"folder") == FTP_RESULT_OK, "folder creation gives 999");
    check(createFolder(L"folder") == FTP_RESULT_FAILED, "creating it again gives 2");

    // The server lists in its local time, five and a half hours east of
    // UTC, and so does the host: once the zone is learnt (MDTM of one
    // entry), the file renamed a moment ago shows the time of now, to a
    // few minutes, in this listing and the next.
    const auto listedNow = [&]() {
        const std::string listing = readAll(L"\\FTPFolder.txt");
        const std::size_t record = listing.find("renamed.bin\n");
        if (record == std::string::npos)
            return false;
        const std::size_t timeLine = listing.find('\n', listing.find('\n', record) + 1) + 1;
        int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
        if (std::sscanf(listing.c_str() + timeLine, "%d/%d/%d  %d:%d:%d", &month, &day, &year,
                        &hour, &minute, &second) != 6)
            return false;
        SYSTEMTIME now{};
        GetLocalTime(&now);
        const int apart =
            std::abs((now.wHour * 60 + now.wMinute) - (hour * 60 + minute)) % (24 * 60);
        return apart <= 3 || apart >= 24 * 60 - 3;
    };
    check(list(nullptr, nullptr, nullptr, L"/") == FTP_RESULT_OK, "listing gives 999");
    const std::string listing = readAll(L"\\FTPFolder.txt");
    check(listing.find("renamed.bin\n") != std::string::npos &&
              listing.find("folder\n") != std::string::npos,
          "the listing file names the folder's entries");
    check(listing.find('\r') == std::string::npos, "the listing file has plain LF line ends");
    check(listedNow(), "a listed time is true: the server's zone was learnt");
    check(list(nullptr, nullptr, nullptr, L"/") == FTP_RESULT_OK && listedNow(),
          "the next listing of the session keeps the zone");
    const std::string session = readAll(sessionTranscript);
    const std::string learnt = "] LIST times are UTC+05:30 (MDTM of renamed.bin)";
    const std::size_t at = session.find(learnt);
    check(at != std::string::npos &&
              session.find("LIST times", at + learnt.size()) == std::string::npos,
          "the transcript says the zone, learnt once");
    check(list(nullptr, nullptr, nullptr, L"/no-such-folder") == FTP_RESULT_NO_FOLDER,
          "listing a missing folder gives 3");

    check(deleteFolder(L"folder") == FTP_RESULT_OK, "folder removal gives 999");
    check(remove(L"renamed.bin") == FTP_RESULT_OK, "delete gives 999");
    check(!exists(server + L"\\renamed.bin") && !exists(server + L"\\folder"),
          "the file and the folder are gone from the server");

    // A new session's first listing, too long for its entries to wait in
    // memory for the zone (the rest wait in a temporary file): its times
    // are true all the same, and every entry is there. The files but one
    // were made by run_wine.sh (faster than under Wine).
    constexpr int kMany = 10'050;
    writeAll(server + L"\\many\\renamed.bin", "x");
    check(logIn(L"127.0.0.1", L"user", L"secret") == FTP_RESULT_OK, "a new log-in gives 999");
    check(list(nullptr, nullptr, nullptr, L"/many") == FTP_RESULT_OK && listedNow(),
          "a first listing of more than 10,000 entries has true times");
    const std::string many = readAll(L"\\FTPFolder.txt");
    std::size_t lines = 0;
    for (const char c : many)
        lines += c == '\n';
    check(lines == 3 * (kMany + 1), "and every entry");
    check(logOut() == FTP_RESULT_OK, "log-out gives 999");
    check(remove(L"x.txt") == FTP_RESULT_FAILED, "a command after log-out gives 2");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
