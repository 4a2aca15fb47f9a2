// SPDX-License-Identifier: MIT
#include "posix/wire/digest_reply.h"

#include <algorithm>
#include <array>

#include "common/ascii.h"

namespace quorvane::client {
namespace {

struct Known {
    DigestAlgorithm algorithm;
    std::string_view hashName;  // in HASH's list
    std::string_view verb;  // the older command
    std::size_t hexLength;
};

// Strongest first: the order a digest is chosen in.
constexpr std::array<Known, 5> kKnown = {{
    {DigestAlgorithm::Sha256, "SHA-256", "XSHA256", 64},
    {DigestAlgorithm::Sha512, "SHA-512", "XSHA512", 128},
    {DigestAlgorithm::Sha1, "SHA-1", "XSHA1", 40},
    {DigestAlgorithm::Md5, "MD5", "XMD5", 32},
    {DigestAlgorithm::Crc32, "CRC32", "XCRC", 8},
}};

const Known& known(DigestAlgorithm algorithm)
{
    return *std::find_if(kKnown.begin(), kKnown.end(),
                         [&](const Known& k) { return k.algorithm == algorithm; });
}

bool contains(const std::vector<DigestAlgorithm>& list, DigestAlgorithm algorithm)
{
    return std::find(list.begin(), list.end(), algorithm) != list.end();
}

std::optional<std::string> lowerHex(std::string_view text, std::size_t length)
{
    if (text.size() != length)
        return std::nullopt;
    std::string hex;
    for (const char c : text) {
        const char lower = text::asciiLower(c);
        if (!text::isDigit(lower) && (lower < 'a' || lower > 'f'))
            return std::nullopt;
        hex.push_back(lower);
    }
    return hex;
}

// The words of a line, split at blanks.
std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> found;
    while (!line.empty()) {
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(' ')));
        const std::string_view word = line.substr(0, line.find(' '));
        if (!word.empty())
            found.push_back(word);
        line.remove_prefix(word.size());
    }
    return found;
}

}  // namespace

std::string_view nameOf(DigestAlgorithm algorithm) { return known(algorithm).hashName; }

void readDigestFeature(std::string_view line, DigestFeatures& into)
{
    const std::string_view name = line.substr(0, line.find(' '));
    for (const Known& k : kKnown)
        if (text::equalsIgnoringCase(name, k.verb))
            into.extended.push_back(k.algorithm);
    if (!text::equalsIgnoringCase(name, "HASH") || name.size() == line.size())
        return;
    std::string_view list = line.substr(name.size() + 1);
    while (!list.empty()) {
        std::string_view entry = list.substr(0, list.find(';'));
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
        const bool current = !entry.empty() && entry.back() == '*';
        if (current)
            entry.remove_suffix(1);
        for (const Known& k : kKnown) {
            if (!text::equalsIgnoringCase(entry, k.hashName))
                continue;
            into.hash.push_back(k.algorithm);
            if (current)
                into.hashCurrent = k.algorithm;
        }
    }
}

std::optional<DigestRequest> chooseDigest(const DigestFeatures& features)
{
    for (const Known& k : kKnown) {
        if (!contains(features.hash, k.algorithm))
            continue;
        const bool selected = features.hashCurrent == k.algorithm;
        return DigestRequest{k.algorithm, "HASH",
                             selected ? std::string() : "OPTS HASH " + std::string(k.hashName)};
    }
    for (const Known& k : kKnown)
        if (contains(features.extended, k.algorithm))
            return DigestRequest{k.algorithm, std::string(k.verb), {}};
    return std::nullopt;
}

std::optional<RemoteDigest> parseDigestReply(const Reply& reply, const DigestRequest& request)
{
    const std::string_view text = reply.text;
    const auto line = words(text.substr(text.rfind('\n') + 1));
    const auto digest = [](const Known& k, std::string_view hex) -> std::optional<RemoteDigest> {
        auto lower = lowerHex(hex, k.hexLength);
        return lower ? std::optional(RemoteDigest{k.algorithm, std::move(*lower)}) : std::nullopt;
    };
    if (request.verb != "HASH") {
        // "250 <hex>" (proftpd) or "213 <hex>".
        if ((reply.code != 213 && reply.code != 250) || line.size() != 2)
            return std::nullopt;
        return digest(known(request.algorithm), line[1]);
    }
    // "213 SHA-256 0-12 <hex> name": the name may hold blanks.
    if (reply.code != 213 || line.size() < 4 || line[2].substr(0, 2) != "0-")
        return std::nullopt;
    for (const Known& k : kKnown)
        if (text::equalsIgnoringCase(line[1], k.hashName))
            return digest(k, line[3]);
    return std::nullopt;
}

}  // namespace quorvane::client
