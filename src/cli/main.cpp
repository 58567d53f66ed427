// tarvik-cli: the command flows from a terminal. Options, environment, output and exit
// statuses live in their own files; this one wires them to the process.

#include <iostream>

#include "cli/cli_app.h"
#include "platform/host/program_start.h"
#include "platform/kernel/stop_signal.h"

int main(int argc, char** argv)
{
    tarvik::ProgramStart start(argc, argv);
    const tarvik::cli::ParseResult parsed =
        tarvik::cli::ParseCommandLine(start.Argc(), start.Argv());
    if (!parsed.Options) {
        return parsed.ExitStatus;
    }
    // The transfer loop and the packet driver read the flag. A second Ctrl-C ends the program
    // the ordinary way, should the first be stuck.
    tarvik::InstallStopSignalHandler(tarvik::SecondStopSignal::EndsProgram);
    const tarvik::StopRequested stop = tarvik::StopSignalled;
    const tarvik::cli::Streams streams{std::cout, std::cerr, start.ErrorIsTerminal()};
    const int status = tarvik::cli::RunCli(*parsed.Options, streams, stop);
    std::cout.flush();
    return status;
}
