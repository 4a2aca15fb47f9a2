// SPDX-License-Identifier: MIT
// The server-side current folder as the session knows it: enough to return
// to it on a new connection, and to refuse relative names while they would
// resolve somewhere the caller did not choose.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::client {

class RemoteFolder {
public:
    static bool isAbsolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

    // After the server accepted a change of folder to `path`: an absolute
    // one is known as given; a relative one only as `named` (what PWD then
    // said, if anything), since it means nothing on another connection.
    void changed(std::string_view path, std::optional<std::string> named = std::nullopt);

    // Whether a new connection has a folder to return to at all.
    bool wasChanged() const { return state_ != State::ServerDefault; }
    // The folder a new connection should change to, if one is known.
    const std::optional<std::string>& pathToRestore() const { return path_; }
    // After a reconnection: whether the change back to pathToRestore()
    // succeeded. Otherwise the folder is lost until the next change.
    void reconnected(bool restored);

    bool isLost() const { return state_ == State::Lost; }
    // Whether `name` may be sent: absolute names always; relative ones
    // unless the folder they would resolve in is lost.
    bool allows(std::string_view name) const { return !isLost() || isAbsolute(name); }

private:
    enum class State {
        ServerDefault,  // never changed: the server's own start folder
        Known,  // changed, and path_ names it
        Unnamed,  // changed relatively, and PWD did not name it
        Lost,  // a new connection could not return to it
    };
    State state_ = State::ServerDefault;
    std::optional<std::string> path_;  // Known; Lost where it was known
};

}  // namespace quorvane::client
