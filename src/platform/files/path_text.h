#pragma once
// File names are UTF-8 text everywhere in the program; std::filesystem reads a narrow string
// in the system's own encoding (the ANSI code page on Windows) and may throw on bytes it cannot
// convert. These convert as the rest of the program does: on Linux a name is its bytes, on
// Windows UTF-8 to the wide name and back (bytes that are not UTF-8 become U+FFFD, as in every
// other file name the program hands to Windows).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

std::filesystem::path PathOf(std::string_view text);
std::string TextOf(const std::filesystem::path& path);

// The regular files directly in a folder whose names end in suffix, sorted; none when the
// folder is missing or cannot be read.
std::vector<std::string> FilesIn(const std::string& folder, std::string_view suffix);
// A path joined as the system joins it.
std::string JoinPath(const std::string& folder, std::string_view name);

}  // namespace tarvik
