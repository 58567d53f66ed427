#pragma once
// An image file's size and SHA-256, for the record of which device got which image.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files/file_system.h"

namespace tarvik {

struct ImageDigest {
    std::uint64_t Size = 0;
    std::string Sha256;  // 64 lower-case hex digits
};

// Nothing when the file cannot be read to its end.
std::optional<ImageDigest> DigestImageFile(FileSystem& files, const std::string& path);

}  // namespace tarvik
