#include "password.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <termios.h>
#  include <unistd.h>
#endif

namespace {

// Turns the terminal's echo off for as long as it lives.
class NoEcho {
public:
    NoEcho()
    {
#if defined(_WIN32)
        input_ = GetStdHandle(STD_INPUT_HANDLE);
        active_ = GetConsoleMode(input_, &mode_) &&
                  SetConsoleMode(input_, mode_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
#else
        active_ = ::isatty(0) && ::tcgetattr(0, &mode_) == 0;
        if (active_) {
            termios quiet = mode_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = ::tcsetattr(0, TCSAFLUSH, &quiet) == 0;
        }
#endif
        if (active_)
            std::fputs("Password: ", stderr);
    }
    ~NoEcho()
    {
        if (!active_)
            return;
#if defined(_WIN32)
        SetConsoleMode(input_, mode_);
#else
        ::tcsetattr(0, TCSAFLUSH, &mode_);
#endif
        std::fputs("\n", stderr);
    }
    NoEcho(const NoEcho&) = delete;
    NoEcho& operator=(const NoEcho&) = delete;

private:
    bool active_ = false;
#if defined(_WIN32)
    HANDLE input_ = nullptr;
    DWORD mode_ = 0;
#else
    termios mode_{};
#endif
};

}  // namespace

std::optional<std::string> readPassword()
{
    const NoEcho quiet;
    std::string line;
    if (!std::getline(std::cin, line) && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void wipeArgument(char* argument) { std::memset(argument, 0, std::strlen(argument)); }
