// SPDX-License-Identifier: MIT
// The opt-in transcript of a session, for finding out why a call failed:
// QUORVANE_TRACE names "stderr", "fd:N" (a descriptor the program opened for
// it) or a file (appended to, created private), read at the first call and
// again at each log-in. Unset or empty, nothing is written anywhere and
// nothing is formatted. A transcript never changes what a call does, and
// never waits on what it writes to.
//
// One line per event, after the seconds since the transcript opened (a
// monotonic clock). Lines that begin with "cause: " say why something failed.
// Text from the server is escaped and cut, so that it can neither forge lines
// nor flood the disk.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/escape.h"

namespace quorvane::trace {

class Transcript {
public:
    // What QUORVANE_TRACE asks for; null when it is unset or empty, or what
    // it names cannot be written safely: standard error that is closed or is
    // no longer what it was when the module was loaded, a link, a file of
    // someone else's, a FIFO nobody reads, anything but a regular file, a
    // FIFO or a terminal.
    static std::shared_ptr<Transcript> fromEnvironment();
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void write(std::string_view event);

private:
    Transcript(int fd, bool owned, bool pipe) : fd_(fd), owned_(owned), pipe_(pipe) {}

    int fd_;
    bool owned_;
    bool pipe_;  // a pipe, FIFO or terminal, whose reader may go away
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The session's transcript: set at the first call and at each log-in, null
// when off.
void setCurrent(std::shared_ptr<Transcript> transcript);
Transcript* current();

// One line, written when the object goes away; nothing is built while the
// transcript is off, so a call site costs one test then.
class Line {
public:
    Line() : transcript_(current()) {}
    ~Line()
    {
        if (transcript_)
            transcript_->write(text_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    explicit operator bool() const { return transcript_ != nullptr; }

    Line& operator<<(std::string_view text)
    {
        if (transcript_)
            text_.append(text);
        return *this;
    }
    Line& operator<<(const char* text) { return *this << std::string_view(text); }
    Line& operator<<(const std::string& text) { return *this << std::string_view(text); }
    Line& operator<<(std::uint64_t number);
    Line& operator<<(int number);
    // Seconds, to the microsecond.
    Line& operator<<(std::chrono::duration<double> seconds);

private:
    Transcript* transcript_;
    std::string text_;
};

inline Line line() { return Line(); }

// What begins a line that says why something failed; programs that read a
// transcript find the causes by it.
inline constexpr std::string_view kCausePrefix = "cause: ";

// A cause line: "cause: TEXT". Nothing for an empty text.
void cause(std::string_view text);

// An exported call's outcome: "call NAME(FIRST, SECOND) = RESULT", the
// arguments shown safely, null ones left out.
void writeCall(const char* call, const char16_t* first, const char16_t* second, int result);

}  // namespace quorvane::trace
