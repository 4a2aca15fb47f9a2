// SPDX-License-Identifier: MIT
// Records set aside in a temporary file and read back once, in the order
// they were written: what a search must hold beyond what memory should,
// until it knows how to hand it out (a session's first listing, until the
// server's zone is known). Shared by the platforms; each makes the file in
// its own way.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class SpillFile {
public:
    // Takes ownership of `file`, opened for writing and reading; a null one
    // fails every call.
    explicit SpillFile(std::FILE* file);

    // False once anything could not be written (errno says why).
    bool append(std::string_view record);
    // Done writing: next() reads from the first record on.
    bool rewind();
    // The next record, valid until the next call; nothing at the end, or
    // when the file could not be read (failed() then says so).
    std::optional<std::string_view> next();
    bool failed() const { return failed_; }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    bool writeOut();
    bool readIn(std::size_t wanted);

    std::unique_ptr<std::FILE, Closer> file_;
    // Writing: records not yet in the file. Reading: bytes read, from at_
    // on not yet handed out.
    std::string buffer_;
    std::size_t at_ = 0;
    bool failed_ = false;
};
