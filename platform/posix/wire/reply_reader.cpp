#include "posix/wire/reply_reader.h"

#include "posix/wire/digits.h"

namespace quorvane::client {
namespace {

// A reply's first line: three digits, the first 1-5, then ' ', '-' or nothing.
bool parseCode(std::string_view line, int& code)
{
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !isDigit(line[1]) || !isDigit(line[2]))
        return false;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
        return false;
    code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return true;
}

// The last line of a multi-line reply repeats the code followed by a space.
bool endsMultiLine(std::string_view line, std::string_view code)
{
    return line.substr(0, 3) == code && (line.size() == 3 || line[3] == ' ');
}

}  // namespace

void ReplyReader::feed(std::string_view bytes)
{
    if (consumed_ > 0) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    buffer_.append(bytes);
}

ReplyReader::Status ReplyReader::fail(Status status)
{
    error_ = status;
    buffer_.clear();
    buffer_.shrink_to_fit();
    partial_ = {};
    consumed_ = 0;
    return status;
}

ReplyReader::Status ReplyReader::next(Reply& reply)
{
    if (error_ != Status::NeedMore)
        return error_;
    for (;;) {
        const std::size_t end = buffer_.find('\n', consumed_);
        if (end == std::string::npos)
            // The cap counts the text only; leave room for its CR.
            return buffer_.size() - consumed_ > kMaxLine + 1 ? fail(Status::TooLong)
                                                             : Status::NeedMore;
        std::string_view line(buffer_.data() + consumed_, end - consumed_);
        consumed_ = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > kMaxLine)
            return fail(Status::TooLong);
        if (line.find('\0') != std::string_view::npos)
            return fail(Status::Malformed);

        if (!inMultiLine_) {
            if (!parseCode(line, partial_.code))
                return fail(Status::Malformed);
            partial_.text.assign(line);
            if (line.size() > 3 && line[3] == '-') {
                inMultiLine_ = true;
                continue;
            }
        } else {
            if (partial_.text.size() + 1 + line.size() > kMaxReply)
                return fail(Status::TooLong);
            partial_.text += '\n';
            partial_.text.append(line);
            if (!endsMultiLine(line, std::string_view(partial_.text).substr(0, 3)))
                continue;
            inMultiLine_ = false;
        }
        reply = std::move(partial_);
        partial_ = {};
        return Status::Ready;
    }
}

}  // namespace quorvane::client
