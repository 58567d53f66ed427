#pragma once
// File names are UTF-8 text everywhere in the program; std::filesystem reads a narrow string
// in the system's own encoding (the ANSI code page on Windows). These convert as UTF-8.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

inline std::filesystem::path PathOf(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string TextOf(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace tarvik
