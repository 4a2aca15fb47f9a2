// SPDX-License-Identifier: MIT
// The folder named by a "257" reply to PWD (RFC 959): the text between the
// first quote and its closing quote, where a doubled quote stands for one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::client {

std::optional<std::string> parsePwdReply(std::string_view reply);

}  // namespace quorvane::client
