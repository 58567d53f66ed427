#pragma once
// One run of tarvik-cli after its options are parsed: makes the environment, runs the command
// through the flows, prints the result and returns the exit status.

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "cli/cli_options.h"
#include "commands/command_line_flows.h"
#include "commands/run_environment.h"
#include "lab/replay_target.h"

namespace tarvik::cli {

struct Streams {
    std::ostream& Out;
    std::ostream& Err;
    bool ErrIsTerminal = false;
};

// Makes the environment a command runs on, as the options, the stop and the sharing say: the
// lab or the machine, or a test's own segment in simulated time.
using EnvironmentMaker =
    std::function<std::unique_ptr<RunEnvironment>(const CliOptions& options,
                                                  const StopRequested& stop, RunSharing sharing,
                                                  std::optional<ReplayTarget> replay)>;

int RunCli(const CliOptions& options, Streams streams, const StopRequested& stop);
int RunCli(const CliOptions& options, Streams streams, const StopRequested& stop,
           const EnvironmentMaker& makeEnvironment);

}  // namespace tarvik::cli
