// SPDX-License-Identifier: MIT
// The handle table behind HINTERNET. Handles are opaque numbers, never
// pointers, so a stale or foreign handle is recognised and refused instead of
// being dereferenced.
#pragma once

#include <memory>
#include <vector>

#include "posix/net/failure.h"
#include "posix/wininet/wininet_types.h"

namespace quorvane::client {

enum class HandleKind { Internet, Connection, Search };

class HandleObject {
public:
    explicit HandleObject(HandleKind kind, HINTERNET parent = nullptr)
        : kind_(kind), parent_(parent)
    {
    }
    virtual ~HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;

    HandleKind kind() const { return kind_; }
    HINTERNET parent() const { return parent_; }

    // Releases what the handle holds (sockets, transfers); called once, after
    // the handle has left the table.
    virtual void close() {}

private:
    HandleKind kind_;
    HINTERNET parent_;
};

HINTERNET registerHandle(std::shared_ptr<HandleObject> object);

// The object behind `handle` if it is open and of `kind`.
Outcome<std::shared_ptr<HandleObject>> findHandle(HINTERNET handle, HandleKind kind);

template <typename T>
Outcome<std::shared_ptr<T>> findHandleAs(HINTERNET handle, HandleKind kind)
{
    auto found = findHandle(handle, kind);
    if (!found)
        return std::move(found).failure();
    return std::static_pointer_cast<T>(std::move(*found));
}

// Takes `handle` and every handle opened under it out of the table, children
// first. Empty when `handle` is not open.
std::vector<std::shared_ptr<HandleObject>> unregisterHandleTree(HINTERNET handle);

}  // namespace quorvane::client
