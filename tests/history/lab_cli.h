#pragma once
// tarvik-cli run in the test's process, as a user would type it: its status and what it wrote.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/cli_app.h"
#include "cli/cli_options.h"

namespace tarvik::cli {

struct CliRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

inline CliRun RunCliWith(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "tarvik-cli");
    std::ostringstream out;
    std::ostringstream err;
    const ParseResult parsed =
        ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err);
    CliRun run;
    if (!parsed.Options) {
        run.Status = parsed.ExitStatus;
        run.Err = err.str();
        return run;
    }
    const StopRequested stop = [] { return false; };
    run.Status = RunCli(*parsed.Options, Streams{out, err}, stop);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

// A name of the test's own under the temporary folder.
inline std::string Folder()
{
    return ::testing::TempDir() + "history_cli_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

}  // namespace tarvik::cli
