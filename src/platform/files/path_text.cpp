#include "platform/files/path_text.h"

#include <algorithm>
#include <system_error>

namespace tarvik {

std::vector<std::string> FilesIn(const std::string& folder, std::string_view suffix)
{
    std::vector<std::string> files;
    std::error_code failed;
    std::filesystem::directory_iterator entries(PathOf(folder), failed);
    for (; !failed && entries != std::filesystem::directory_iterator(); entries.increment(failed)) {
        const std::string path = TextOf(entries->path());
        if (entries->is_regular_file(failed) && path.ends_with(suffix)) {
            files.push_back(path);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string JoinPath(const std::string& folder, std::string_view name)
{
    return TextOf(PathOf(folder) / PathOf(name));
}

}  // namespace tarvik
