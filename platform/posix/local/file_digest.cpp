// SPDX-License-Identifier: MIT
#include "posix/local/file_digest.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>

#include "posix/local/local_file.h"

namespace quorvane::client {
namespace {

// CRC-32 as XCRC and HASH CRC32 give it (the one of zlib and Ethernet).
class Crc32 {
public:
    void update(const unsigned char* data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i)
            value_ = table()[(value_ ^ data[i]) & 0xFF] ^ (value_ >> 8);
    }
    std::uint32_t final() const { return ~value_; }

private:
    static const std::array<std::uint32_t, 256>& table()
    {
        static const auto built = [] {
            std::array<std::uint32_t, 256> entries{};
            for (std::uint32_t n = 0; n < 256; ++n) {
                std::uint32_t c = n;
                for (int k = 0; k < 8; ++k)
                    c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                entries[n] = c;
            }
            return entries;
        }();
        return built;
    }
    std::uint32_t value_ = 0xFFFFFFFFu;
};

const EVP_MD* evpOf(DigestAlgorithm algorithm)
{
    switch (algorithm) {
    case DigestAlgorithm::Sha256: return EVP_sha256();
    case DigestAlgorithm::Sha512: return EVP_sha512();
    case DigestAlgorithm::Sha1: return EVP_sha1();
    case DigestAlgorithm::Md5: return EVP_md5();
    case DigestAlgorithm::Crc32: return nullptr;
    }
    return nullptr;
}

std::string hexOf(const unsigned char* bytes, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i)
        hex.append({kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]});
    return hex;
}

// Hands the file's first `length` bytes to `consume`, piece by piece.
template <typename Consume>
Outcome<> readBack(int fd, std::uint64_t length, const std::string& name, Consume consume)
{
    constexpr std::size_t kPiece = 256 << 10;
    auto buffer = std::make_unique<unsigned char[]>(kPiece);
    for (std::uint64_t at = 0; at < length;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, length - at));
        const ssize_t got = ::pread(fd, buffer.get(), want, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return localFailure("read", name, got == 0 ? EIO : errno);
        consume(buffer.get(), static_cast<std::size_t>(got));
        at += static_cast<std::uint64_t>(got);
    }
    return {};
}

}  // namespace

Outcome<std::string> digestOfFile(int fd, std::uint64_t length, DigestAlgorithm algorithm,
                                  const std::string& name)
{
    if (algorithm == DigestAlgorithm::Crc32) {
        Crc32 crc;
        if (auto read =
                readBack(fd, length, name, [&](auto* data, auto size) { crc.update(data, size); });
            !read)
            return std::move(read).failure();
        const std::uint32_t value = crc.final();
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
        return hexOf(bytes, sizeof bytes);
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), evpOf(algorithm), nullptr) != 1)
        return Failure(FailureKind::Internal, "OpenSSL cannot compute a digest");
    if (auto read =
            readBack(fd, length, name,
                     [&](auto* data, auto size) { EVP_DigestUpdate(context.get(), data, size); });
        !read)
        return std::move(read).failure();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(context.get(), digest, &size);
    return hexOf(digest, size);
}

}  // namespace quorvane::client
