#include "platform/files/path_text.h"

namespace tarvik {

std::filesystem::path PathOf(std::string_view text)
{
    return std::filesystem::path(std::string(text));
}

std::string TextOf(const std::filesystem::path& path)
{
    return path.native();
}

}  // namespace tarvik
