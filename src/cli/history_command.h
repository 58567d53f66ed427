#pragma once
// tarvik-cli history: the list, export, stats and push of the station's history. A build
// without a history (Windows) says so in one line.

#include "cli/cli_app.h"
#include "cli/cli_options.h"

namespace tarvik::cli {

// What a build without a history says when one is asked for.
inline constexpr std::string_view NO_HISTORY_IN_THIS_BUILD =
    "this build keeps no history (it has no SQLite): --history and `history` are for the "
    "Linux build";

int RunHistoryCommand(const CliOptions& options, Streams streams);

}  // namespace tarvik::cli
