#include "posix/wininet/handles.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace quorvane::client {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<HandleObject>> objects;
    std::uintptr_t nextId = 1;
};

HandleTable& table()
{
    static HandleTable instance;
    return instance;
}

std::uintptr_t idOf(HINTERNET handle) { return reinterpret_cast<std::uintptr_t>(handle); }

void collectTree(HandleTable& handles, HINTERNET handle,
                 std::vector<std::shared_ptr<HandleObject>>& out)
{
    std::vector<HINTERNET> children;
    for (const auto& [id, object] : handles.objects)
        if (object->parent() == handle)
            children.push_back(reinterpret_cast<HINTERNET>(id));
    for (HINTERNET child : children)
        collectTree(handles, child, out);
    auto found = handles.objects.find(idOf(handle));
    out.push_back(std::move(found->second));
    handles.objects.erase(found);
}

}  // namespace

HINTERNET registerHandle(std::shared_ptr<HandleObject> object)
{
    HandleTable& handles = table();
    std::lock_guard lock(handles.mutex);
    const std::uintptr_t id = handles.nextId++;
    handles.objects.emplace(id, std::move(object));
    return reinterpret_cast<HINTERNET>(id);
}

Outcome<std::shared_ptr<HandleObject>> findHandle(HINTERNET handle, HandleKind kind)
{
    HandleTable& handles = table();
    std::lock_guard lock(handles.mutex);
    const auto found = handles.objects.find(idOf(handle));
    if (found == handles.objects.end() || found->second->kind() != kind)
        return Failure{FailureKind::WrongHandle, handle ? "the handle is not open" : "no session"};
    return found->second;
}

std::vector<std::shared_ptr<HandleObject>> unregisterHandleTree(HINTERNET handle)
{
    HandleTable& handles = table();
    std::lock_guard lock(handles.mutex);
    std::vector<std::shared_ptr<HandleObject>> removed;
    if (handles.objects.count(idOf(handle)))
        collectTree(handles, handle, removed);
    return removed;
}

}  // namespace quorvane::client
