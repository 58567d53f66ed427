#include <filesystem>
#include <system_error>

#include "platform/files/file_system.h"
#include "platform/files/path_text.h"

namespace tarvik {

bool ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes,
                      std::string& error)
{
    const std::filesystem::path target = PathOf(path);
    std::filesystem::path written = target;
    written += ".partial";
    std::error_code failed;
    std::filesystem::remove(written, failed);
    if (!WriteNewFile(TextOf(written), bytes, false)) {
        error = "cannot write " + TextOf(written);
        std::filesystem::remove(written, failed);
        return false;
    }
    std::filesystem::rename(written, target, failed);
    if (failed) {
        error = "cannot replace " + path + ": " + failed.message();
        std::filesystem::remove(written, failed);
        return false;
    }
    return true;
}

}  // namespace tarvik
