#include "image/image_digest.h"

#include <array>
#include <memory>

#include "platform/files/sha256.h"

namespace tarvik {

std::optional<ImageDigest> DigestImageFile(FileSystem& files, const std::string& path)
{
    const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    const std::unique_ptr<Sha256> hasher = Sha256::Start();
    if (!hasher) {
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
        if (!hasher->Update(buffer.data(), static_cast<std::size_t>(count))) {
            return std::nullopt;
        }
    }
    const std::optional<Sha256Hash> hash = hasher->Finish();
    if (!hash) {
        return std::nullopt;
    }
    static constexpr char DIGITS[] = "0123456789abcdef";
    for (const std::uint8_t byte : *hash) {
        digest.Sha256 += DIGITS[byte >> 4];
        digest.Sha256 += DIGITS[byte & 0x0F];
    }
    return digest;
}

}  // namespace tarvik
