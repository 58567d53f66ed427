#include "cli/environment.h"

#include "cli/exit_status.h"
#include "commands/messages.h"
#include "commands/startup.h"
#include "platform/os_version.h"
#include "platform/pcap_driver.h"
#include "platform/real_kernel.h"
#include "platform/registry.h"

namespace tarvik::cli {
namespace {

constexpr std::string_view LAB_ADAPTER_DESCRIPTION = "lab0 (the built-in lab's virtual segment)";

int ExitStatusForStartup(int result, const TerminalPort& port)
{
    switch (result) {
    case STARTUP_READY:
        return EXIT_SUCCESS_STATUS;
    case DISCOVERY_NO_ADAPTER:
        return EXIT_NO_LAN_CARD;
    case DISCOVERY_OPEN_ADAPTER_FAILED:
        return EXIT_OPEN_ADAPTER_FAIL;
    case DISCOVERY_OPEN_REGISTRY_FAILED:
        return EXIT_OPEN_REGISTRY_FAIL;
    case DISCOVERY_OPEN_EVENT_FAILED:
        return EXIT_OPEN_EVENT_FAIL;
    case DISCOVERY_START_RECEPTION_FAILED:
        return EXIT_START_RECEPTION_FAIL;
    case STARTUP_WITHOUT_ADAPTER:
        // The window runs on without an adapter; every command here needs one.
        return port.Shown(MSG_GET_VERSION_FAIL) ? EXIT_GET_VERSION_FAIL : EXIT_OS_NOT_SUPPORTED;
    case STARTUP_UNKNOWN_ADAPTER:
        return EXIT_UNKNOWN_ADAPTER;
    default:
        return EXIT_OPEN_ADAPTER_FAIL;
    }
}

void ListForUser(std::ostream& err, const AdapterList& list)
{
    for (std::size_t i = 0; i < list.Names.size(); ++i) {
        err << "  " << i << "  " << list.Descriptions[i] << "  (" << list.Names[i] << ")\n";
    }
}

}  // namespace

Environment::~Environment()
{
    run_.reset();
    binding_.reset();
}

std::unique_ptr<Environment> Environment::Open(const CliOptions& options, TerminalPort& port,
                                               std::ostream& err, const StopRequested& stop,
                                               int& status)
{
    std::unique_ptr<Environment> environment(new Environment);
    Environment& self = *environment;
    self.kernel_ = std::make_unique<RealKernel>();
    PacketDriver* driver = nullptr;
    if (options.Lab) {
        self.lab_ = MakeBuiltInLab(*self.kernel_);
        driver = &self.lab_->Driver();
    } else {
        self.driver_ = std::make_unique<PcapPacketDriver>(*self.kernel_);
        driver = self.driver_.get();
    }
    self.stopAware_ = std::make_unique<StopAwareDriver>(*driver, stop);
    self.binding_ = std::make_unique<Binding>(*self.kernel_, *self.stopAware_);
    self.run_ = std::make_unique<RunState>(*self.binding_, self.files_);

    // Reading an image file and listing the adapters need no open adapter.
    if (options.Which == Command::Info || options.Which == Command::Adapters) {
        status = EXIT_SUCCESS_STATUS;
        return environment;
    }
    status = options.Lab ? self.StartOnLab(port) : self.StartOnMachine(options, port, err);
    if (status != EXIT_SUCCESS_STATUS) {
        return nullptr;
    }
    return environment;
}

int Environment::StartOnLab(TerminalPort& port)
{
    const int result = OpenListedAdapter(*binding_, LAB_ADAPTER_NAME);
    const std::string_view message = DiscoveryResultMessage(result);
    if (!message.empty()) {
        port.ShowMessage(message);
    }
    return ExitStatusForStartup(result, port);
}

int Environment::StartOnMachine(const CliOptions& options, TerminalPort& port, std::ostream& err)
{
    LinuxOsVersionQuery query;
    LiveRegistry registry;
    AdapterList list;
    int result = STARTUP_READY;
    if (!options.Interface.empty()) {
        result = RunStartupSequenceFor(query, registry, *binding_, options.Interface, port, list);
        if (result == STARTUP_UNKNOWN_ADAPTER) {
            err << "tarvik-cli: no adapter " << options.Interface << "; the adapters are:\n";
            ListForUser(err, list);
            port.Note("no adapter " + options.Interface);
        }
    } else {
        FirstAdapterSelection selection;
        result = RunStartupSequence(query, registry, *binding_, selection, port, list);
        if (result == STARTUP_READY && list.Count >= 2) {
            err << "tarvik-cli: using adapter 0, " << list.Descriptions[0]
                << "; pick another with -i IFNAME:\n";
            ListForUser(err, list);
        }
    }
    if (const std::string hint = PrivilegeHint(result, options.ProgramPath); !hint.empty()) {
        err << hint << '\n';
    }
    return ExitStatusForStartup(result, port);
}

int Environment::ListAdapters(TerminalPort& port, AdapterList& list)
{
    list = AdapterList{};
    if (lab_) {
        list.Add(std::string(LAB_ADAPTER_DESCRIPTION), LAB_ADAPTER_NAME);
        return EXIT_SUCCESS_STATUS;
    }
    LinuxOsVersionQuery query;
    LiveRegistry registry;
    int listed = DISCOVERY_OK;
    if (IsWindows9x(query, port)) {
        listed = ListAdapters9x(registry, *binding_, list);
    } else if (IsWindowsNT(query, port)) {
        listed = ListAdaptersNT(registry, list);
    } else {
        port.ShowMessage(MSG_OS_NOT_SUPPORTED);
        return ExitStatusForStartup(STARTUP_WITHOUT_ADAPTER, port);
    }
    if (listed != DISCOVERY_OK) {
        port.ShowMessage(DiscoveryResultMessage(listed));
    }
    return ExitStatusForStartup(listed, port);
}

}  // namespace tarvik::cli
