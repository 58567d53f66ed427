#pragma once
// The libraries the history is built on, as `--version` lists them.

#include <string>
#include <vector>

namespace tarvik {

// One line per library, its name and the version linked into this program: "SQLite 3.40.1",
// "libpq 15.18", "OpenSSL 3.0.20 …".
std::vector<std::string> HistoryLibraryVersions();

}  // namespace tarvik
