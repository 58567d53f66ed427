// The build without a history: no attempt is kept, and asking for one says so.

#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "cli/history_sink.h"

namespace tarvik::cli {

std::string HistoryPath(const HistoryOptions& options)
{
    // The default is none, silently; a file named is refused by OpenAttemptLog with its line.
    return options.Path == HISTORY_NONE ? std::string() : options.Path;
}

std::unique_ptr<AttemptLog> OpenAttemptLog(const std::string&, std::string& error)
{
    error = std::string(NO_HISTORY_IN_THIS_BUILD);
    return nullptr;
}

std::unique_ptr<AttemptPusher> StartBackgroundPush(const std::string&, const std::string&,
                                                   const StationHeartbeat&, UtcClock&,
                                                   std::string& error)
{
    error = std::string(NO_HISTORY_IN_THIS_BUILD);
    return nullptr;
}

std::vector<std::string> HistoryLibraries()
{
    return {};
}

int RunHistoryCommand(const CliOptions&, Streams streams)
{
    streams.Err << "tarvik-cli: " << NO_HISTORY_IN_THIS_BUILD << '\n';
    return EXIT_USAGE;
}

}  // namespace tarvik::cli
