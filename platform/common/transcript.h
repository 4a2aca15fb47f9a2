// The opt-in transcript of a session, for finding out why a call failed:
// QUORVANE_TRACE names "stderr" or a file (appended to, created private) when
// the session logs in. Unset or empty, nothing is written anywhere and
// nothing is formatted. A transcript never changes what a call does.
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

namespace quorvane::trace {

class Transcript {
public:
    // What QUORVANE_TRACE asks for; null when it is unset or empty, or its
    // file cannot be opened.
    static std::shared_ptr<Transcript> fromEnvironment();
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void write(std::string_view event);

private:
    Transcript(int fd, bool owned) : fd_(fd), owned_(owned) {}

    int fd_;
    bool owned_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The session's transcript: set at each log-in, null when off.
void setCurrent(std::shared_ptr<Transcript> transcript);
Transcript* current();

// Bytes from the server as a transcript shows them: printable ASCII and
// UTF-8 as they are, everything else (controls, invalid bytes) as \xNN, and
// at most `limit` bytes of the original, with a mark where it was cut.
std::string escape(std::string_view text, std::size_t limit = 300);

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
