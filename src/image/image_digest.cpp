#include "image/image_digest.h"

#include <array>
#include <memory>

#include <openssl/evp.h>

namespace tarvik {

std::optional<ImageDigest> DigestImageFile(FileSystem& files, const std::string& path)
{
    const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    ImageDigest digest;
    std::array<std::uint8_t, 64 * 1024> buffer{};
    for (;;) {
        const std::int64_t count = file->Read(buffer.data(), buffer.size());
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        digest.Size += static_cast<std::uint64_t>(count);
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1) {
            return std::nullopt;
        }
    }
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> hash{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), hash.data(), &length) != 1) {
        return std::nullopt;
    }
    static constexpr char DIGITS[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        digest.Sha256 += DIGITS[hash[i] >> 4];
        digest.Sha256 += DIGITS[hash[i] & 0x0F];
    }
    return digest;
}

}  // namespace tarvik
