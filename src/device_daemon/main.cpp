// tarvik-target: the emulated device as a daemon on a real interface, for labs and
// end-to-end tests. It runs until SIGINT or SIGTERM.

#include "device_daemon/target_daemon.h"
#include "device_daemon/target_options.h"
#include "platform/host/program_start.h"
#include "platform/kernel/stop_signal.h"

int main(int argc, char** argv)
{
    tarvik::ProgramStart start(argc, argv);
    const tarvik::target::TargetParse parsed =
        tarvik::target::ParseTargetCommandLine(start.Argc(), start.Argv());
    if (!parsed.Options) {
        return parsed.ExitStatus;
    }
    // The daemon looks at the flag at least every 100 ms, so a second signal needs no
    // harder way out.
    tarvik::InstallStopSignalHandler(tarvik::SecondStopSignal::SetsFlag);
    return tarvik::target::RunDaemon(*parsed.Options, tarvik::StopSignalled);
}
