#include "common/transcript.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/utf.h"
#include "common/write_all.h"

#if defined(_WIN32)
#  include <io.h>
#else
#  include <unistd.h>
#endif

namespace quorvane::trace {
namespace {

std::mutex currentMutex;
std::shared_ptr<Transcript> currentTranscript;  // keeps it open
std::atomic<Transcript*> currentPointer{nullptr};

int openAppending(const char* path)
{
#if defined(_WIN32)
    const auto wide = text::toUtf16(path);
    return wide ? ::_wopen(reinterpret_cast<const wchar_t*>(wide->c_str()),
                           _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE)
                : -1;
#else
    return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
#endif
}

// The length of a well-formed UTF-8 sequence at `text[i]` that is no control
// character or line break, or 0.
std::size_t printableSequence(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4
                               : lead >= 0xE0               ? (lead <= 0xEF ? 3 : 0)
                               : lead >= 0xC2               ? 2
                                                            : 0;
    if (length == 0 || text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if ((lead == 0xC2 && second <= 0x9F) ||  // C1 controls
        (lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90) ||  // overlong
        (lead == 0xED && second >= 0xA0) ||  // surrogates
        (lead == 0xF4 && second >= 0x90) ||  // past U+10FFFF
        (lead == 0xE2 && second == 0x80 &&  // U+2028, U+2029
         (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8))
        return 0;
    return length;
}

}  // namespace

std::shared_ptr<Transcript> Transcript::fromEnvironment()
{
    const char* target = std::getenv("QUORVANE_TRACE");
    if (!target || !*target)
        return nullptr;
    if (std::string_view(target) == "stderr")
        return std::shared_ptr<Transcript>(new Transcript(2, false));
    const int fd = openAppending(target);
    return fd < 0 ? nullptr : std::shared_ptr<Transcript>(new Transcript(fd, true));
}

Transcript::~Transcript()
{
    if (owned_) {
#if defined(_WIN32)
        ::_close(fd_);
#else
        ::close(fd_);
#endif
    }
}

void Transcript::write(std::string_view event)
{
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - start_;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%11.6f] ", since.count());
    std::string text(stamp);
    text.append(event).append("\n");
    text::writeAll(fd_, text);  // a transcript never fails a call
}

void setCurrent(std::shared_ptr<Transcript> transcript)
{
    // The session's calls come one at a time; only a log-in replaces it.
    const std::lock_guard lock(currentMutex);
    currentPointer = transcript.get();
    currentTranscript = std::move(transcript);
}

Transcript* current() { return currentPointer.load(std::memory_order_acquire); }

std::string escape(std::string_view text, std::size_t limit)
{
    std::string escaped;
    const std::string_view shown = text.substr(0, limit);
    escaped.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size();) {
        const auto byte = static_cast<unsigned char>(shown[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            escaped += shown[i++];
            continue;
        }
        if (const std::size_t length = byte >= 0x80 ? printableSequence(shown, i) : 0) {
            escaped.append(shown.substr(i, length));
            i += length;
            continue;
        }
        char code[5];
        std::snprintf(code, sizeof code, "\\x%02X", byte);
        escaped += byte == '\\' ? std::string("\\\\") : std::string(code);
        ++i;
    }
    if (text.size() > limit)
        escaped.append(" [cut: ")
            .append(std::to_string(text.size() - limit))
            .append(" more bytes]");
    return escaped;
}

void writeCall(const char* call, const char16_t* first, const char16_t* second, int result)
{
    auto line = trace::line();
    if (!line)
        return;
    line << "call " << call << "(";
    for (const char16_t* argument : {first, second}) {
        if (!argument)
            continue;
        const auto utf8 = text::toUtf8(text::wideView(argument));
        line << (argument == first ? "" : ", ")
             << (utf8 ? escape(*utf8) : std::string("<not UTF-16>"));
    }
    line << ") = " << result;
}

void cause(std::string_view text)
{
    if (!text.empty())
        line() << kCausePrefix << text;
}

Line& Line::operator<<(std::uint64_t number)
{
    if (transcript_)
        text_.append(std::to_string(number));
    return *this;
}

Line& Line::operator<<(int number)
{
    if (transcript_)
        text_.append(std::to_string(number));
    return *this;
}

Line& Line::operator<<(std::chrono::duration<double> seconds)
{
    if (transcript_) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6f s", seconds.count());
        text_.append(text);
    }
    return *this;
}

}  // namespace quorvane::trace
