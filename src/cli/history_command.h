#pragma once
// tarvik-cli history: the list, export, stats, push and chart of the station's history. A build
// without a history says so in one line.

#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_options.h"

namespace tarvik::cli {

// What a build without a history says when one is asked for.
inline constexpr std::string_view NO_HISTORY_IN_THIS_BUILD =
    "this build keeps no history (it was built without SQLite): --history and `history` need "
    "a build with one";

int RunHistoryCommand(const CliOptions& options, Streams streams);

// The history's libraries and their versions, for --version; none in a build without one.
std::vector<std::string> HistoryLibraries();

}  // namespace tarvik::cli
