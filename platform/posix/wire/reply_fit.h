// SPDX-License-Identifier: MIT
// Whether a reply can be the answer to a command, for commands sent queued:
// a server that answers them out of turn (one that runs commands side by
// side and answers each when done) shows itself by a positive reply that
// belongs to another command.
#pragma once

#include <string_view>

namespace quorvane::client {

// A refusal (4xx, 5xx) may answer anything, a preliminary reply (1xx)
// nothing queued; a positive one only the commands that give that code
// (FEAT 211, TYPE 200, MLST 250, SIZE and MDTM 213, EPSV 229, ...); OPTS,
// whose positive codes vary between servers, any 2xx; commands not in the
// table anything.
bool canAnswer(std::string_view command, int code);

}  // namespace quorvane::client
