#pragma once
// One run's hold on the network, made the same way for every front end: the clock, the packet
// driver (the built-in lab's virtual segment, or libpcap on the machine's interfaces), the
// registry that lists the adapters, the operating-system family, the binding and the run's
// state. Start runs the start-up sequence over them; what a real interface needs done around
// it besides (captures, capabilities) its InterfaceAccess does. Members go in reverse order of
// their making, so the binding tears the adapter down before the driver, the lab and the clock
// go.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "commands/adapter_selection.h"
#include "commands/command_line_flows.h"
#include "commands/command_port.h"
#include "commands/interface_access.h"
#include "commands/stop_aware_driver.h"
#include "lab/lab_setup.h"
#include "lab/replay_target.h"
#include "netio/binding.h"
#include "netio/fan_out_driver.h"
#include "platform/capture/frame_trace.h"
#include "platform/files/file_system.h"
#include "platform/files/pinned_files.h"
#include "platform/host/os_version.h"
#include "platform/kernel/kernel.h"
#include "platform/registry/registry.h"
#include "protocol/run_state.h"

namespace tarvik {

// Where a run's frames go: the built-in lab, or the machine's own interfaces.
enum class SegmentKind { Lab, Real };

// One run or several: several runs share the opened adapter through a fan-out, one logical
// adapter each (the environment's own binding browses on one of them).
enum class RunSharing { OneRun, SeveralRuns };

// One device's run among several: its own binding, on a logical adapter that gets the frames
// from that device, and its own run state. Goes before the environment it was opened from.
// The reads a device's run keeps posted on the shared adapter.
inline constexpr std::size_t DEVICE_RUN_READ_SLOTS = 8;

class DeviceRun {
public:
    DeviceRun(Kernel& clock, PacketDriver& driver, FileSystem& files, StopRequested stop);
    ~DeviceRun();
    DeviceRun(const DeviceRun&) = delete;
    DeviceRun& operator=(const DeviceRun&) = delete;

    Binding& AdapterBinding() { return *binding_; }
    RunState& State() { return *run_; }

private:
    std::unique_ptr<StopAwareDriver> stopAware_;
    std::unique_ptr<Binding> binding_;
    std::unique_ptr<RunState> run_;
};

// What an environment runs over, when the caller (a test) hands its own.
struct EnvironmentParts {
    Kernel& Clock;
    PacketDriver& Driver;
    Registry& AdapterRegistry;
    OsVersionQuery& OsVersion;
    FileSystem& Files;
    InterfaceAccess& Access;  // LabAccess, or a RealInterfaceAccess that gives up capabilities
};

class RunEnvironment {
public:
    // The lab or the machine, in real time. When stop is given, sends fail once it says so:
    // discovery and the information query cannot be cancelled otherwise, and a probe or a
    // request that fails to go out ends them at their next send. With replay, the lab holds
    // that device instead of the built-in ones. The lab's devices are plugged in and out as
    // plugs says; without labBuiltIns they are its only devices.
    static std::unique_ptr<RunEnvironment> Make(SegmentKind kind, StopRequested stop = {},
                                                RunSharing sharing = RunSharing::OneRun,
                                                std::optional<ReplayTarget> replay = {},
                                                const std::vector<LabPlug>& plugs = {},
                                                bool labBuiltIns = true);
    // On parts a test hands in.
    explicit RunEnvironment(EnvironmentParts parts, StopRequested stop = {},
                            RunSharing sharing = RunSharing::OneRun);
    ~RunEnvironment();
    RunEnvironment(const RunEnvironment&) = delete;
    RunEnvironment& operator=(const RunEnvironment&) = delete;

    Kernel& Clock() { return parts_.Clock; }
    // The binding the run's adapter is opened through, and the run's state over it.
    Binding& AdapterBinding() { return *binding_; }
    RunState& State() { return *run_; }
    InterfaceAccess& Access() { return parts_.Access; }

    // The start-up sequence: the family test, the listing, the choice (through selection, or
    // the adapter named adapterName: "\Device\eth0" or "eth0") and the opening, with the
    // message of a failure shown through port. Returns STARTUP_READY, a discovery result,
    // STARTUP_WITHOUT_ADAPTER, STARTUP_NO_OS_VERSION in its place when the family could not be
    // told, or STARTUP_UNKNOWN_ADAPTER (no message; Adapters() holds the list to offer). On a
    // real interface, a program that goes on first gives up every capability it holds, or gets
    // STARTUP_CAPABILITIES_KEPT with its message shown.
    int Start(AdapterSelectionPort& selection, CommandPort& port,
              std::string_view adapterName = {});
    // The adapter a name given by the user stands for, as Start takes it: the name itself, or
    // on Windows the adapter a connection's friendly name ("Ethernet 2", "Ethernet 2.12") is.
    std::string AdapterNameFor(std::string_view name);
    // For a program that opens several environments (a station's bays): Start keeps the
    // capabilities the next one's open needs, and the program settles each environment once
    // all are open. False when a capability is kept.
    void SettleLater() { settleLater_ = true; }
    bool Settle();

    // Records every frame the binding sends and hands up from now on, as a pcap file at path;
    // the reason when the file cannot be written. Called before Start, it opens the file while
    // the program still holds whatever rights it started with.
    std::optional<std::string> TraceTo(const std::string& path);
    // With RunSharing::SeveralRuns, once Start has opened the adapter: a run on one device,
    // its adapter opened as the start-up sequence opened the environment's, with the frame
    // type settled on the environment's run unless variant says which. Null, with the
    // discovery result in result, when it cannot be opened.
    std::unique_ptr<DeviceRun> OpenDeviceRun(const MacAddress& device, int& result,
                                             std::optional<FrameVariantKind> variant = {});
    // The devices the device runs to come will talk to: with RunSharing::SeveralRuns the shared
    // adapter passes their frames from now on, so it is not reprogrammed as runs start and end.
    void ExpectDevices(std::span<const MacAddress> devices);
    // With RunSharing::SeveralRuns, for a station that probes while device runs are under
    // way: the shared adapter passes every source from now on, and is never reprogrammed as
    // runs start and end.
    void KeepProbing();
    // Runs the tasks concurrently (at most limit at once, 0: all), the frames received handed
    // to the device runs meanwhile.
    void RunAll(std::span<const std::function<void()>> tasks, std::size_t limit);
    // The same for several environments made for RunSharing::SeveralRuns (a station's bays),
    // on the first one's clock: every environment's frames are handed to its runs meanwhile.
    static void RunAllTogether(std::span<RunEnvironment* const> environments,
                               std::span<const std::function<void()>> tasks, std::size_t limit = 0);

    // Lists the adapters the start-up sequence could choose and hands them to the access's
    // OpenEarly (on a real interface: their captures opened, then every capability given up),
    // before a front end starts threads it does not control. Start then takes the prepared
    // capture of the adapter it opens. False only when the capabilities could not be given up.
    bool OpenEarly();

    // The adapters the start-up sequence listed.
    const AdapterList& Adapters() const { return adapters_; }

    // An image whose signature was verified: every run of the environment, now and to come,
    // reads the bytes that were verified for path, and checks each device against what the
    // signature lists.
    void UseVerifiedImage(const std::string& path, std::shared_ptr<const HeldBytes> bytes,
                          std::shared_ptr<const SignedUse> use);
    // The program that lives on after one upgrade: path reads from the disk again, and no
    // signed list is checked until an image is verified anew.
    void ForgetVerifiedImage(const std::string& path);

    // Lists the adapters without opening one: DISCOVERY_OK, or a start-up result as Start's
    // whose message has been shown.
    int ListAdapters(CommandPort& port, AdapterList& list);

private:
    struct Owned;
    class NotingVersionQuery;

    RunEnvironment(std::unique_ptr<Owned> owned, EnvironmentParts parts, StopRequested stop,
                   RunSharing sharing);
    int TellFamilyFailure(int result) const;

    std::unique_ptr<Owned> owned_;  // what Make made: the clock, the lab or libpcap, ...
    EnvironmentParts parts_;
    PinnedFileSystem files_;  // the parts' files, with the verified image pinned
    std::unique_ptr<NotingVersionQuery> versionQuery_;
    std::unique_ptr<FrameTrace> trace_;  // outlives the binding that records into it
    StopRequested stop_;
    std::unique_ptr<FanOutDriver> fanOut_;
    std::unique_ptr<StopAwareDriver> stopAware_;
    std::unique_ptr<Binding> binding_;
    std::unique_ptr<RunState> run_;
    AdapterList adapters_;
    bool settleLater_ = false;
};

}  // namespace tarvik
