// SPDX-License-Identifier: MIT
// The life of a session's control connection: one state, entered and left
// through the transitions below, rather than a pointer and flags that each
// command reads apart.
#pragma once

#include <memory>
#include <optional>

#include "posix/client/control_connection.h"

namespace quorvane::client {

class ConnectionLife {
public:
    enum class State {
        Down,  // no control connection: the next command logs in
        Up,  // logged in: the control connection carries commands
        Listing,  // a listing holds the connection: other commands are busy
        Closed,  // closed by the caller: it never logs in again
    };

    State state() const { return state_; }
    // Up or Listing, on a socket still open (a failed read or write, or a
    // server that left, closes it).
    bool isLive() const { return hasControl() && control_->isAlive(); }
    // Up, and the server has neither left nor said anything unasked.
    bool isReadyForCommand() { return state_ == State::Up && control_->isReadyForCommand(); }
    // The control connection: Up or Listing only.
    ControlConnection& control() { return *control_; }
    const ControlConnection& control() const { return *control_; }

    // Down -> Up: logged in on `control`.
    void cameUp(std::unique_ptr<ControlConnection> control)
    {
        control_ = std::move(control);
        state_ = State::Up;
    }
    // Up or Listing -> Down: the socket closes without a QUIT (a log-in that
    // failed, a connection out of step or lost).
    void drop()
    {
        control_.reset();
        if (state_ != State::Closed)
            state_ = State::Down;
    }
    // -> Closed, saying goodbye where there is a connection.
    void close()
    {
        if (hasControl())
            control_->quit();
        control_.reset();
        state_ = State::Closed;
    }
    // Up -> Listing.
    void beginListing() { state_ = State::Listing; }
    // Listing -> Up; where the listing dropped the connection, it stays Down.
    void endListing()
    {
        if (state_ == State::Listing)
            state_ = State::Up;
    }

    // No wait of the control connection lasts past `cap` while set.
    void setDeadlineCap(std::optional<Deadline> cap)
    {
        if (hasControl())
            control_->setDeadlineCap(cap);
    }

private:
    bool hasControl() const { return state_ == State::Up || state_ == State::Listing; }

    State state_ = State::Down;
    std::unique_ptr<ControlConnection> control_;  // while Up or Listing
};

// Caps the waits of the session's control connection for as long as the cap
// lives; the connection may be dropped, or replaced, meanwhile.
class DeadlineCap {
public:
    DeadlineCap(ConnectionLife& life, Deadline cap) : life_(life) { life_.setDeadlineCap(cap); }
    ~DeadlineCap() { life_.setDeadlineCap(std::nullopt); }
    DeadlineCap(const DeadlineCap&) = delete;
    DeadlineCap& operator=(const DeadlineCap&) = delete;

private:
    ConnectionLife& life_;
};

}  // namespace quorvane::client
