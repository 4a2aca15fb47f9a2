// SPDX-License-Identifier: MIT
#include "posix/wire/reply_fit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace quorvane::client {
namespace {

struct Answers {
    std::string_view verb;
    std::array<int, 3> codes;  // 0 where unused; {2, 0, 0} for any 2xx
};

// RFC 959, 2389, 3659, 2428, 4217 and the digest drafts; PASS may also ask
// for an account (332), USER for a password (331). TYPE's 200 is exact: a
// 230 that moved off PASS must show (a server's other 2xx only costs it
// the queue).
constexpr Answers kAnswers[] = {
    {"USER", {230, 331, 332}}, {"PASS", {230, 202, 332}}, {"ACCT", {230, 202, 0}},
    {"FEAT", {211, 0, 0}},     {"MLST", {250, 0, 0}},     {"SIZE", {213, 0, 0}},
    {"MDTM", {213, 0, 0}},     {"EPSV", {229, 0, 0}},     {"PASV", {227, 0, 0}},
    {"HASH", {213, 0, 0}},     {"PWD", {257, 0, 0}},      {"TYPE", {200, 0, 0}},
    {"PBSZ", {200, 0, 0}},     {"PROT", {200, 0, 0}},     {"OPTS", {2, 0, 0}},
};

std::string verbOf(std::string_view command)
{
    std::string verb(command.substr(0, command.find(' ')));
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return verb;
}

}  // namespace

bool canAnswer(std::string_view command, int code)
{
    if (code >= 400)
        return true;
    if (code < 200)
        return false;
    const std::string verb = verbOf(command);
    const auto known = std::find_if(std::begin(kAnswers), std::end(kAnswers),
                                    [&](const Answers& answers) { return answers.verb == verb; });
    if (known == std::end(kAnswers))
        return true;  // nothing known against it
    return std::any_of(known->codes.begin(), known->codes.end(), [code](int fits) {
        return fits == code || (fits < 10 && fits == code / 100);
    });
}

}  // namespace quorvane::client
