// SPDX-License-Identifier: MIT
#include "posix/client/file_identity.h"

#include "posix/wire/file_facts.h"

namespace quorvane::client {
namespace {

using Presence = FileIdentity::Presence;

// A refusal that says "no such file"; other refusals say nothing.
constexpr int kNoSuchFile = 550;

// What one answer says of the file's presence.
template <typename T>
Presence presenceOf(const Reply& reply, const Answer<T>& answer)
{
    if (answer.kind != Answer<T>::Kind::Refused)
        return Presence::Present;
    return reply.code == kNoSuchFile ? Presence::Absent : Presence::Unknown;
}

// Two answers on one file: present wins over absent, either over unknown.
Presence combined(Presence a, Presence b)
{
    if (a == Presence::Present || b == Presence::Present)
        return Presence::Present;
    return a == Presence::Absent || b == Presence::Absent ? Presence::Absent : Presence::Unknown;
}

}  // namespace

bool isSameFile(const FileIdentity& before, const FileIdentity& now)
{
    return before.isStrong() && now.isStrong() && before.modified == now.modified &&
           (!before.size || !now.size || *before.size == *now.size);
}

bool hasChangedFrom(const FileIdentity& before, const FileIdentity& now)
{
    if (!now.isPresent() || before.presence == Presence::Unknown)
        return false;
    if (before.presence == Presence::Absent)
        return true;
    const bool otherTime =
        !before.modified.empty() && !now.modified.empty() && before.modified != now.modified;
    const bool otherSize = before.size && now.size && *before.size != *now.size;
    return otherTime || otherSize;
}

std::vector<std::string> identityCommands(const ServerFeatures& features, std::string_view remote)
{
    std::vector<std::string> commands;
    const std::string name(remote);
    if (features.mlst)
        return {"MLST " + name};
    if (features.size)
        commands.push_back("SIZE " + name);
    if (features.mdtm)
        commands.push_back("MDTM " + name);
    return commands;
}

FileIdentity identityFrom(const ServerFeatures& features, const std::vector<Reply>& replies)
{
    FileIdentity identity;
    std::size_t next = 0;
    if (features.mlst && next < replies.size()) {
        const Reply& reply = replies[next++];
        const auto facts = parseMlstReply(reply);
        identity.presence = presenceOf(reply, facts);
        if (facts.has() && !facts.value.isFile)
            identity.presence = Presence::Unknown;  // a folder is no file to transfer
        if (facts.has()) {
            identity.size = facts.value.size;
            identity.modified = facts.value.modified;
        }
        return identity;
    }
    if (features.size && next < replies.size()) {
        const Reply& reply = replies[next++];
        const auto size = parseSizeReply(reply);
        identity.presence = presenceOf(reply, size);
        if (size.has())
            identity.size = size.value;
    }
    if (features.mdtm && next < replies.size()) {
        const Reply& reply = replies[next++];
        const auto time = parseMdtmReply(reply);
        identity.presence = combined(identity.presence, presenceOf(reply, time));
        if (time.has())
            identity.modified = time.value;
    }
    return identity;
}

std::string describe(const FileIdentity& identity)
{
    switch (identity.presence) {
    case Presence::Unknown: return "unknown";
    case Presence::Absent: return "absent";
    case Presence::Present: break;
    }
    std::string text = "size " + (identity.size ? std::to_string(*identity.size) : "?");
    return text + ", modified " + (identity.modified.empty() ? "?" : identity.modified);
}

}  // namespace quorvane::client
