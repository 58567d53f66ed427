#include "commands/run_environment.h"

#include "commands/outcomes.h"
#include "commands/startup.h"
#include "lab/lab_setup.h"
#include "platform/capture/pcap_driver.h"
#include "platform/capture/pcap_trace.h"
#include "platform/capture/vlan_tagging.h"
#include "platform/host/machine.h"
#include "protocol/frame.h"
#include "protocol/upgrade_link.h"

namespace tarvik {

namespace {

// The interface driver's captures, as the real interface's access prepares and releases them.
class InterfaceCaptures final : public CaptureControl {
public:
    explicit InterfaceCaptures(InterfacePacketDriver& driver) : driver_(driver) {}
    void Prepare(const std::string& adapterName) override { driver_.Prepare(adapterName.c_str()); }
    void ForgetPrepared() override { driver_.ForgetPrepared(); }
    void AdmitEveryFrame() override { driver_.SetFrameAdmission({}); }
    std::string OpenFailureNote() override
    {
        return CaptureOpenErrorsGuideUsers() ? driver_.OpenError() : std::string();
    }

private:
    InterfacePacketDriver& driver_;
};

}  // namespace

// What Make makes for a run on the lab or on the machine; a test hands its own parts. The lab's
// stations go before the clock their timers run on.
struct RunEnvironment::Owned {
    std::unique_ptr<Machine> System = OpenMachine();
    std::unique_ptr<Lab> BuiltInLab;
    std::unique_ptr<InterfacePacketDriver> Interfaces;
    std::unique_ptr<InterfaceCaptures> Captures;
    std::unique_ptr<Registry> AdapterRegistry;
    std::unique_ptr<OsVersionQuery> OsVersion;
    std::unique_ptr<InterfaceAccess> Access;
};

// Remembers whether the family tests could not get the version, so that the command line can
// tell a failed version query (MSG_GET_VERSION_FAIL) from a family that is neither.
class RunEnvironment::NotingVersionQuery final : public OsVersionQuery {
public:
    explicit NotingVersionQuery(OsVersionQuery& inner) : inner_(inner) {}
    bool GetVersionEx(OsVersionInfo& info) override
    {
        const bool answered = inner_.GetVersionEx(info);
        failed_ = failed_ || !answered;
        return answered;
    }
    bool Failed() const { return failed_; }

private:
    OsVersionQuery& inner_;
    bool failed_ = false;
};

DeviceRun::DeviceRun(Kernel& clock, PacketDriver& driver, FileSystem& files, StopRequested stop)
{
    PacketDriver* link = &driver;
    if (stop) {
        stopAware_ = std::make_unique<StopAwareDriver>(driver, std::move(stop));
        link = stopAware_.get();
    }
    binding_ = std::make_unique<Binding>(clock, *link);
    run_ = std::make_unique<RunState>(*binding_, files);
}

DeviceRun::~DeviceRun()
{
    run_.reset();
    binding_.reset();
}

std::unique_ptr<RunEnvironment> RunEnvironment::Make(
    SegmentKind kind, StopRequested stop, RunSharing sharing, std::optional<ReplayTarget> replay,
    const std::vector<LabPlug>& plugs, bool labBuiltIns)
{
    auto owned = std::make_unique<Owned>();
    PacketDriver* driver = nullptr;
    if (kind == SegmentKind::Lab) {
        Kernel& clock = owned->System->Clock();
        owned->BuiltInLab = replay ? MakeReplayLab(clock, std::move(*replay))
                                   : MakeBuiltInLab(clock, labBuiltIns);
        owned->BuiltInLab->PlugOverTime(plugs);
        driver = &owned->BuiltInLab->Driver();
        owned->AdapterRegistry = MakeLabRegistry();
        owned->OsVersion = std::make_unique<FixedOsVersionQuery>(VER_PLATFORM_WIN32_NT);
        owned->Access = std::make_unique<LabAccess>();
    } else {
        owned->Interfaces = owned->System->OpenPacketDriver();
        owned->Interfaces->SetFrameAdmission(ProtocolFrameAdmission());
        driver = owned->Interfaces.get();
        owned->Captures = std::make_unique<InterfaceCaptures>(*owned->Interfaces);
        owned->AdapterRegistry = owned->System->OpenRegistry();
        owned->OsVersion = owned->System->OpenOsVersionQuery();
        owned->Access = std::make_unique<RealInterfaceAccess>(*owned->Captures,
                                                              owned->System->Process(),
                                                              &owned->System->Naming());
    }
    Machine& system = *owned->System;
    const EnvironmentParts parts{system.Clock(),    *driver,        *owned->AdapterRegistry,
                                 *owned->OsVersion, system.Files(), *owned->Access};
    return std::unique_ptr<RunEnvironment>(new RunEnvironment(std::move(owned), parts,
                                                              std::move(stop), sharing));
}

RunEnvironment::RunEnvironment(EnvironmentParts parts, StopRequested stop, RunSharing sharing)
    : RunEnvironment(nullptr, parts, std::move(stop), sharing)
{
}

RunEnvironment::RunEnvironment(std::unique_ptr<Owned> owned, EnvironmentParts parts,
                               StopRequested stop, RunSharing sharing)
    : owned_(std::move(owned)), parts_(parts), files_(parts.Files),
      versionQuery_(std::make_unique<NotingVersionQuery>(parts.OsVersion)), stop_(stop)
{
    PacketDriver* driver = &parts.Driver;
    if (sharing == RunSharing::SeveralRuns) {
        fanOut_ = std::make_unique<FanOutDriver>(parts.Clock, parts.Driver);
        fanOut_->RouteSharedAnswers(InformationQuestion());
        driver = fanOut_.get();
    }
    if (stop) {
        stopAware_ = std::make_unique<StopAwareDriver>(*driver, std::move(stop));
        driver = stopAware_.get();
    }
    binding_ = std::make_unique<Binding>(parts.Clock, *driver);
    run_ = std::make_unique<RunState>(*binding_, files_);
}

void RunEnvironment::UseVerifiedImage(const std::string& path,
                                      std::shared_ptr<const HeldBytes> bytes,
                                      std::shared_ptr<const SignedUse> use)
{
    files_.Pin(path, std::move(bytes));
    run_->ImageUse = std::move(use);
}

void RunEnvironment::ForgetVerifiedImage(const std::string& path)
{
    files_.Unpin(path);
    run_->ImageUse.reset();
}

RunEnvironment::~RunEnvironment()
{
    run_.reset();
    binding_.reset();
    stopAware_.reset();
    fanOut_.reset();
}

int RunEnvironment::TellFamilyFailure(int result) const
{
    return result == STARTUP_WITHOUT_ADAPTER && versionQuery_->Failed() ? STARTUP_NO_OS_VERSION
                                                                        : result;
}

std::string RunEnvironment::AdapterNameFor(std::string_view name)
{
    // A name the user knows the adapter by (Windows: the connection's friendly name) stands for
    // the adapter itself.
    std::string named(name);
    if (std::string adapter = parts_.Access.AdapterNamed(named); !adapter.empty()) {
        return adapter;
    }
    if (const std::optional<VlanName> vlan = ParseVlanName(named)) {
        // So does it for a VLAN on that adapter: "Ethernet 2.12".
        if (std::string trunk = parts_.Access.AdapterNamed(vlan->Trunk); !trunk.empty()) {
            return trunk + "." + std::to_string(vlan->Id);
        }
    }
    return named;
}

int RunEnvironment::Start(AdapterSelectionPort& selection, CommandPort& port,
                          std::string_view adapterName)
{
    const std::string named = AdapterNameFor(adapterName);
    const int result = named.empty() ? RunStartupSequence(*versionQuery_, parts_.AdapterRegistry,
                                                          *binding_, selection, port, adapters_)
                                     : RunStartupSequenceFor(*versionQuery_, parts_.AdapterRegistry,
                                                             *binding_, named, port, adapters_);
    if (settleLater_ && StartupLetsProgramRun(result)) {
        return TellFamilyFailure(result);
    }
    if (!parts_.Access.SettleAfterStart(StartupLetsProgramRun(result))) {
        port.ShowMessage(MSG_CAPABILITIES_KEPT);
        return STARTUP_CAPABILITIES_KEPT;
    }
    return TellFamilyFailure(result);
}

bool RunEnvironment::OpenEarly()
{
    // Lists without a word: the start-up sequence shows whatever the listing meets, later.
    QuietPort silent;
    AdapterList list;
    if (ListStartupAdapters(parts_.OsVersion, parts_.AdapterRegistry, *binding_, silent, list) !=
        DISCOVERY_OK) {
        list.Names.clear();
    }
    return parts_.Access.OpenEarly(list.Names);
}

std::optional<std::string> RunEnvironment::TraceTo(const std::string& path)
{
    std::string error;
    std::unique_ptr<PcapTrace> trace = PcapTrace::Open(path, parts_.Clock, error);
    if (!trace) {
        return error;
    }
    binding_->SetTrace(trace.get());
    trace_ = std::move(trace);
    return std::nullopt;
}

std::unique_ptr<DeviceRun> RunEnvironment::OpenDeviceRun(const MacAddress& device, int& result,
                                                         std::optional<FrameVariantKind> variant)
{
    const std::string name = fanOut_ ? fanOut_->SharedAdapterName() : std::string();
    if (name.empty()) {
        result = DISCOVERY_OPEN_ADAPTER_FAILED;
        return nullptr;
    }
    auto run = std::make_unique<DeviceRun>(parts_.Clock, fanOut_->ForDevice(device), files_, stop_);
    // One device answers one frame at a time: a few posted reads are plenty (a frame that finds
    // none posted is held for the next), and 256 runs at once do not hold 64 each.
    run->AdapterBinding().SetReadSlotCount(DEVICE_RUN_READ_SLOTS);
    run->AdapterBinding().SetSendPause(binding_->SendPause());
    run->AdapterBinding().SetTrace(trace_.get());
    run->State().FrameVariant = variant.value_or(run_->FrameVariant);
    run->State().ImageUse = run_->ImageUse;
    result = OpenListedAdapter(run->AdapterBinding(), name);
    if (result != DISCOVERY_OK) {
        return nullptr;
    }
    return run;
}

void RunEnvironment::ExpectDevices(std::span<const MacAddress> devices)
{
    if (fanOut_) {
        fanOut_->ExpectDevices(devices);
    }
}

void RunEnvironment::KeepProbing()
{
    if (fanOut_) {
        fanOut_->PassEverySource();
    }
}

void RunEnvironment::RunAll(std::span<const std::function<void()>> tasks, std::size_t limit)
{
    if (fanOut_) {
        fanOut_->RunAll(tasks, limit);
    } else {
        parts_.Clock.RunConcurrently(tasks, limit);
    }
}

bool RunEnvironment::Settle()
{
    return parts_.Access.SettleAfterStart(true);
}

void RunEnvironment::RunAllTogether(std::span<RunEnvironment* const> environments,
                                    std::span<const std::function<void()>> tasks, std::size_t limit)
{
    if (environments.empty()) {
        return;
    }
    std::vector<FanOutDriver*> fanOuts;
    for (RunEnvironment* const environment : environments) {
        if (environment->fanOut_) {
            fanOuts.push_back(environment->fanOut_.get());
        }
    }
    FanOutDriver::RunTogether(environments.front()->Clock(), fanOuts, tasks, limit);
}

int RunEnvironment::ListAdapters(CommandPort& port, AdapterList& list)
{
    return TellFamilyFailure(ListStartupAdapters(*versionQuery_, parts_.AdapterRegistry, *binding_,
                                                 port, list));
}

}  // namespace tarvik
