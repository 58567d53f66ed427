#pragma once
// Everything one run of tarvik-cli works over: the clock, the packet driver (libpcap on a real
// interface, or the built-in lab's virtual segment), the binding and the run's state. Members
// go in reverse order of their making, so the binding tears the adapter down (StopReception,
// CloseRequestEvent, CloseAdapter) before the driver, the lab and the clock go.

#include <memory>
#include <ostream>

#include "cli/cli_options.h"
#include "cli/stop_aware_driver.h"
#include "cli/terminal_port.h"
#include "lab/lab_setup.h"
#include "netio/adapter_discovery.h"
#include "netio/binding.h"
#include "platform/file_system.h"
#include "platform/kernel.h"
#include "protocol/run_state.h"

namespace tarvik::cli {

class Environment {
public:
    ~Environment();

    // Makes the run's environment for the options: opens the adapter unless the command
    // needs none. Failures show their message through the port; the result is then nothing
    // and status holds the exit status.
    static std::unique_ptr<Environment> Open(const CliOptions& options, TerminalPort& port,
                                             std::ostream& err, const StopRequested& stop,
                                             int& status);

    Kernel& Clock() { return *kernel_; }
    RunState& Run() { return *run_; }

    // The adapters this run can use, as the start-up sequence lists them; the listing's
    // exit status (0, or that of its failure, whose message the port has shown).
    int ListAdapters(TerminalPort& port, AdapterList& list);

private:
    Environment() = default;
    int StartOnMachine(const CliOptions& options, TerminalPort& port, std::ostream& err);
    int StartOnLab(TerminalPort& port);

    std::unique_ptr<Kernel> kernel_;
    std::unique_ptr<Lab> lab_;
    std::unique_ptr<PacketDriver> driver_;
    std::unique_ptr<StopAwareDriver> stopAware_;
    std::unique_ptr<Binding> binding_;
    PosixFileSystem files_;
    std::unique_ptr<RunState> run_;
};

}  // namespace tarvik::cli
