// tarvik-cli: the command flows from a terminal. Options, environment, output and exit
// statuses live in their own files; this one wires them to the process.

#include <csignal>
#include <iostream>

#include <unistd.h>

#include "cli/cli_app.h"

namespace {

// Set by SIGINT and SIGTERM; the transfer loop and the packet driver read it.
volatile std::sig_atomic_t stopSignalled = 0;

extern "C" void OnStopSignal(int)
{
    stopSignalled = 1;
}

void InstallStopHandler()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C ends the program the ordinary way, should the first be stuck.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    const tarvik::cli::ParseResult parsed = tarvik::cli::ParseCommandLine(argc, argv);
    if (!parsed.Options) {
        return parsed.ExitStatus;
    }
    InstallStopHandler();
    const tarvik::StopRequested stop = [] { return stopSignalled != 0; };
    const tarvik::cli::Streams streams{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1};
    const int status = tarvik::cli::RunCli(*parsed.Options, streams, stop);
    std::cout.flush();
    return status;
}
