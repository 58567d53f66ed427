#include "platform/windows_api.h"

#include "platform/files/path_text.h"

namespace tarvik {

std::filesystem::path PathOf(std::string_view text)
{
    return std::filesystem::path(WideText(text));
}

std::string TextOf(const std::filesystem::path& path)
{
    return Utf8Text(path.native());
}

}  // namespace tarvik
