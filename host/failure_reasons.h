// SPDX-License-Identifier: MIT
// Why a command failed, in one line, without asking the user for anything:
// the program keeps a private transcript of the module's session (an
// in-memory file, gone when the program ends) and reads the last cause it
// gave. A QUORVANE_TRACE the user set is left alone (read where it names a
// file; empty, it turns the transcript off and with it the reasons).
#pragma once

#include <cstdint>
#include <string>

// Points the module's transcript at `target` ("stderr" or a file) for the
// sessions that log in from now on.
void setTranscriptTarget(const std::string& target);

class FailureReasons {
public:
    // Before the module logs in: sets QUORVANE_TRACE unless the user did.
    FailureReasons();
    ~FailureReasons();
    FailureReasons(const FailureReasons&) = delete;
    FailureReasons& operator=(const FailureReasons&) = delete;

    // Before each command.
    void mark();
    // The last cause the transcript gave since mark(); empty if none.
    std::string reasonSinceMark() const;

private:
    std::string path_;  // what can be read back; empty if nothing
    int fd_ = -1;  // the private transcript, kept open
    int writer_ = -1;  // what the module writes it through
    bool remove_ = false;
    std::uint64_t mark_ = 0;
};
