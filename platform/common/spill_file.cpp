#include "common/spill_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The file is written and read in pieces of this size.
constexpr std::size_t kPiece = 64 * 1024;

using Length = std::uint32_t;  // before each record

}  // namespace

SpillFile::SpillFile(std::FILE* file) : file_(file), failed_(file == nullptr)
{
    if (file_)
        std::setvbuf(file_.get(), nullptr, _IONBF, 0);  // buffered here
}

bool SpillFile::append(std::string_view record)
{
    if (record.size() > Length(-1))
        failed_ = true;
    if (failed_)
        return false;
    const auto length = static_cast<Length>(record.size());
    buffer_.append(reinterpret_cast<const char*>(&length), sizeof length).append(record);
    return buffer_.size() < kPiece || writeOut();
}

bool SpillFile::writeOut()
{
    if (!failed_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size())
        failed_ = true;
    buffer_.clear();
    return !failed_;
}

bool SpillFile::rewind()
{
    if (!writeOut() || std::fflush(file_.get()) != 0 || std::fseek(file_.get(), 0, SEEK_SET) != 0)
        failed_ = true;
    at_ = 0;
    return !failed_;
}

// Until `wanted` bytes from at_ on are read; false at the end of the file.
bool SpillFile::readIn(std::size_t wanted)
{
    while (buffer_.size() - at_ < wanted) {
        buffer_.erase(0, at_);
        at_ = 0;
        const std::size_t held = buffer_.size();
        buffer_.resize(held + std::max(kPiece, wanted));
        const std::size_t got =
            std::fread(buffer_.data() + held, 1, buffer_.size() - held, file_.get());
        buffer_.resize(held + got);
        if (got == 0) {
            failed_ = failed_ || std::ferror(file_.get()) != 0 || held != 0;  // cut short
            return false;
        }
    }
    return true;
}

std::optional<std::string_view> SpillFile::next()
{
    Length length = 0;
    if (failed_ || !readIn(sizeof length))
        return std::nullopt;
    std::memcpy(&length, buffer_.data() + at_, sizeof length);
    if (!readIn(sizeof length + length)) {
        failed_ = true;
        return std::nullopt;
    }
    const std::string_view record(buffer_.data() + at_ + sizeof length, length);
    at_ += sizeof length + length;
    return record;
}
