#include "posix/client/remote_folder.h"

namespace quorvane::client {

void RemoteFolder::changed(std::string_view path, std::optional<std::string> named)
{
    path_ = isAbsolute(path) ? std::optional<std::string>(path) : std::move(named);
    state_ = path_ ? State::Known : State::Unnamed;
}

void RemoteFolder::reconnected(bool restored)
{
    if (state_ == State::ServerDefault)
        return;
    state_ = restored && path_ ? State::Known : State::Lost;
}

}  // namespace quorvane::client
