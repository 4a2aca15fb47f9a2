// SPDX-License-Identifier: MIT
// Digests a server computes of its own files: the HASH command of the IETF
// draft (draft-bryan-ftpext-hash; OPTS HASH selects the algorithm, FEAT lists
// them with the current one marked "*"), or the older XSHA256, XSHA512,
// XSHA1, XMD5 and XCRC. Only which one to ask and what the answer says: no I/O.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/wire/reply_reader.h"

namespace quorvane::client {

enum class DigestAlgorithm { Sha256, Sha512, Sha1, Md5, Crc32 };

// What FEAT says of digests.
struct DigestFeatures {
    std::vector<DigestAlgorithm> hash;  // after HASH, in any order
    std::optional<DigestAlgorithm> hashCurrent;  // the one marked "*"
    std::vector<DigestAlgorithm> extended;  // XSHA256 and the like
};

// Reads one feature line ("HASH SHA-1*;SHA-256;" or "XSHA256") into `into`;
// other lines change nothing.
void readDigestFeature(std::string_view line, DigestFeatures& into);

// How to ask for a digest: the command, and the OPTS that selects its
// algorithm first where that is needed.
struct DigestRequest {
    DigestAlgorithm algorithm;
    std::string verb;  // "HASH" or "XSHA256" and the like
    std::string select;  // "OPTS HASH SHA-256", or empty
};

// The strongest digest offered (SHA-256, then SHA-512, SHA-1, MD5, CRC32;
// HASH before the older commands), or nothing.
std::optional<DigestRequest> chooseDigest(const DigestFeatures& features);

struct RemoteDigest {
    DigestAlgorithm algorithm;
    std::string hex;  // lower case
};

// The digest of the whole file in a reply to `request`: HASH's
// "213 SHA-256 0-12 <hex> name" (from byte 0, in the algorithm the reply
// names: a server may answer in another than the one FEAT marked), or
// "213 <hex>" / "250 <hex>" for the older commands.
std::optional<RemoteDigest> parseDigestReply(const Reply& reply, const DigestRequest& request);

std::string_view nameOf(DigestAlgorithm algorithm);

}  // namespace quorvane::client
