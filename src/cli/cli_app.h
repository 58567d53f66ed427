#pragma once
// One run of tarvik-cli after its options are parsed: makes the environment, runs the command
// through the flows, prints the result and returns the exit status.

#include <ostream>

#include "cli/cli_options.h"
#include "commands/command_line_flows.h"

namespace tarvik::cli {

struct Streams {
    std::ostream& Out;
    std::ostream& Err;
    bool ErrIsTerminal = false;
};

int RunCli(const CliOptions& options, Streams streams, const StopRequested& stop);

}  // namespace tarvik::cli
