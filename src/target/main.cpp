// tarvik-target: the emulated device as a daemon on a real interface, for labs and
// end-to-end tests. It runs until SIGINT or SIGTERM.

#include <csignal>

#include "target/target_daemon.h"
#include "target/target_options.h"

namespace {

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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    const tarvik::target::TargetParse parsed = tarvik::target::ParseTargetCommandLine(argc, argv);
    if (!parsed.Options) {
        return parsed.ExitStatus;
    }
    InstallStopHandler();
    return tarvik::target::RunDaemon(*parsed.Options, [] { return stopSignalled != 0; });
}
