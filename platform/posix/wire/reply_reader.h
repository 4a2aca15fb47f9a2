// SPDX-License-Identifier: MIT
// Assembles FTP replies (RFC 959 section 4.2) from the bytes of a control
// connection. Memory is bounded: lines and whole replies have fixed caps.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::client {

struct Reply {
    int code = 0;
    std::string text;  // every line of the reply, joined by '\n', without CR/LF

    bool isPreliminary() const { return code / 100 == 1; }
    bool isCompletion() const { return code / 100 == 2; }
};

class ReplyReader {
public:
    static constexpr std::size_t kMaxLine = 8 * 1024;
    static constexpr std::size_t kMaxReply = 64 * 1024;

    enum class Status {
        NeedMore,  // no complete reply buffered yet
        Ready,  // a reply was taken out
        Malformed,  // a NUL byte, or a first line without a valid code
        TooLong,  // a line or a reply past its cap
    };

    void feed(std::string_view bytes);

    // Takes the next complete reply out of the buffered bytes. An error is
    // final: the stream cannot be resynchronised after it.
    Status next(Reply& reply);

    // Bytes received but not yet taken out as a reply.
    bool hasBufferedBytes() const { return buffer_.size() > consumed_ || inMultiLine_; }

private:
    Status fail(Status status);

    std::string buffer_;
    std::size_t consumed_ = 0;
    Reply partial_;
    bool inMultiLine_ = false;
    Status error_ = Status::NeedMore;
};

}  // namespace quorvane::client
