#include "commands/doctor.h"

#include <algorithm>
#include <map>

#include "netio/adapter_discovery.h"
#include "platform/capture/packet_driver.h"
#include "platform/capture/vlan_tagging.h"
#include "platform/host/doctor_remedies.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

std::string InterfaceOf(const std::string& adapterName)
{
    return std::string(InterfaceNameOf(adapterName).value_or(adapterName));
}

void ReportAll(DoctorReportPort& report, const std::vector<DoctorCheck>& checks, bool& failed)
{
    for (const DoctorCheck& check : checks) {
        report.Report(check);
    }
    failed = failed || AnyCheckFailed(checks);
}

// The checks under the name the user gave for the interface, and the bay's.
std::vector<DoctorCheck> Labelled(std::vector<DoctorCheck> checks, const DoctorBay& target)
{
    for (DoctorCheck& check : checks) {
        check.Interface = target.Interface;
        check.Bay = target.Name;
    }
    return checks;
}

// Each interface's carrier changes against the last check's record, the counts now kept for
// the next check in one write.
std::map<std::string, CarrierChangeFacts> RecordCarrierChanges(
    Kernel& clock, const std::string& logPath, const std::map<std::string, InterfaceFacts>& facts)
{
    CarrierLog log = logPath.empty() ? CarrierLog{} : CarrierLog::Load(logPath);
    const auto now = static_cast<std::int64_t>(clock.WallClockMicroseconds() / 1000);
    std::map<std::string, CarrierChangeFacts> changes;
    for (const auto& [name, read] : facts) {
        if (read.Exists && read.CarrierChanges) {
            changes[name] = {read.CarrierChanges, log.Last(name), {}};
            log.Set(name, {*read.CarrierChanges, now});
        }
    }
    if (changes.empty()) {
        return changes;
    }
    std::string error;
    if (logPath.empty()) {
        error = "no folder for the program's state (no home)";
    } else if (!log.Save(logPath, error) && error.empty()) {
        error = "cannot write " + logPath;
    }
    for (auto& [name, change] : changes) {
        change.NotRecorded = error;
    }
    return changes;
}

}  // namespace

ProbeFacts ProbeAdapter(RunState& run, const std::string& adapterName)
{
    ProbeFacts facts;
    Binding& binding = run.Link;
    facts.OpenResult = OpenListedAdapter(binding, adapterName);
    if (facts.OpenResult == DISCOVERY_OK) {
        // One frame each: the pause after it would only be counted into the reply times.
        const std::uint32_t pause = binding.SendPause();
        binding.SetSendPause(0);
        UpgradeLink link(run);
        for (const FrameVariantKind asked : {FrameVariantKind::Untyped, FrameVariantKind::Typed}) {
            // A device may answer in the other frame type: that is one of the findings.
            const ProbeRound round{{asked},
                                   TIMER_UNIT_MS * PROBE_WINDOW_UNITS,
                                   {FrameVariantKind::Untyped, FrameVariantKind::Typed}};
            const int sent = link.ProbeAndListen(round, [&](const DiscoveryReply& reply) {
                ProbeAnswer answer{FormatDeviceName(reply.Source), asked, reply.Variant,
                                   reply.AfterMs};
                const bool known = std::any_of(facts.Answers.begin(), facts.Answers.end(),
                                               [&](const ProbeAnswer& seen) {
                    return seen.DeviceName == answer.DeviceName && seen.Asked == answer.Asked &&
                           seen.Answered == answer.Answered;
                });
                if (!known) {
                    facts.Answers.push_back(std::move(answer));
                }
            });
            (asked == FrameVariantKind::Untyped ? facts.UntypedSent : facts.TypedSent) =
                sent == COLLECT_DONE;
        }
        binding.SetSendPause(pause);
    }
    binding.Close();
    return facts;
}

bool RunDoctor(RunEnvironment& environment, const DoctorRequest& request, DoctorReportPort& report)
{
    bool failed = false;
    // Everything is read before the program opens a socket of its own, and while it still
    // holds whatever rights it started with.
    ReportAll(report, CheckPrivilege(ReadPrivilegeFacts(request.InvokedAs)), failed);

    QuietPort quiet;  // the listing's failures become the doctor's own lines, not messages
    AdapterList listed;
    if (environment.ListAdapters(quiet, listed) != DISCOVERY_OK) {
        listed = {};
    }
    std::vector<DoctorBay> targets;
    if (!request.Bays.empty()) {
        for (const DoctorBay& bay : request.Bays) {
            targets.push_back({bay.Name, InterfaceOf(bay.Interface)});
        }
    } else if (!request.Interface.empty()) {
        targets.push_back({"", InterfaceOf(request.Interface)});
    } else {
        for (const std::string& name : listed.Names) {
            targets.push_back({"", InterfaceOf(name)});
        }
    }
    if (targets.empty()) {
        ReportAll(report,
                  {{"", "", "adapters", CheckResult::Fail, "no usable wired adapter",
                    RemedyText(Remedy::NoAdapter)}},
                  failed);
        return !failed;
    }

    // Several bays on one trunk share its facts: each interface is read once.
    std::map<std::string, InterfaceFacts> facts;
    const auto factsOf = [&facts](const std::string& name) -> const InterfaceFacts& {
        auto found = facts.find(name);
        if (found == facts.end()) {
            found = facts.emplace(name, ReadInterfaceFacts(name)).first;
        }
        return found->second;
    };
    std::map<std::string, NetworkManagerFacts> managers;

    struct Examined {
        DoctorBay Target;
        std::string Read;  // the interface whose facts were read: the trunk of a tagged VLAN
        InterfaceRoute Route;
        std::vector<DoctorCheck> Checks;
        std::string AdapterName;  // empty when it is not to be opened
    };
    std::vector<Examined> examined;
    std::vector<std::string> toOpen;
    for (const DoctorBay& target : targets) {
        InterfaceRoute route;
        std::string read = target.Interface;
        if (const std::optional<VlanName> vlan = ParseVlanName(target.Interface)) {
            route.VlanId = vlan->Id;
            // As the capture does: without a system interface of that name, the trunk's.
            if (!factsOf(target.Interface).Exists) {
                route.TaggedHere = true;
                read = vlan->Trunk;
            }
        }
        const InterfaceFacts& readFacts = factsOf(read);
        if (!readFacts.Exists) {
            managers.emplace(read, NetworkManagerFacts{});
        } else if (!managers.contains(read)) {
            managers.emplace(read, ReadNetworkManagerFacts(environment.Clock(), read,
                                                           MANAGER_TOOL_TIMEOUT_MS));
        }
        Examined entry{
            target, read, route, CheckInterface(readFacts, managers.at(read), route), {}};
        // Found as -i finds it: a friendly name stands for its adapter.
        const std::string adapter = environment.AdapterNameFor(target.Interface);
        int index = FindAdapterIndex(listed, adapter);
        // A VLAN is not among the listed adapters; it is opened as its trunk's, as -i opens it.
        if (index < 0 && route.VlanId != 0) {
            index = AddVlanAdapter(listed, adapter);
        }
        if (readFacts.Exists && readFacts.Up && index >= 0) {
            entry.AdapterName = listed.Names[static_cast<std::size_t>(index)];
            if (std::find(toOpen.begin(), toOpen.end(), entry.AdapterName) == toOpen.end()) {
                toOpen.push_back(entry.AdapterName);
            }
        }
        examined.push_back(std::move(entry));
    }
    const std::map<std::string, CarrierChangeFacts> carrier =
        RecordCarrierChanges(environment.Clock(), request.CarrierLogPath, facts);

    // Opens every capture while it still may, then gives up every right.
    if (!environment.Access().OpenEarly(toOpen)) {
        ReportAll(report,
                  {{"", "", "capabilities", CheckResult::Fail,
                    "the capabilities could not be given up after the open",
                    "`tarvik-cli explain 38`"}},
                  failed);
        return false;
    }
    for (Examined& entry : examined) {
        const DoctorBay& target = entry.Target;
        if (const auto changes = carrier.find(entry.Read); changes != carrier.end()) {
            const std::vector<DoctorCheck> more = CheckCarrierChanges(entry.Read, changes->second);
            entry.Checks.insert(entry.Checks.end(), more.begin(), more.end());
        }
        ReportAll(report, Labelled(std::move(entry.Checks), target), failed);
        if (entry.AdapterName.empty()) {
            continue;
        }
        ProbeFacts probe = ProbeAdapter(environment.State(), entry.AdapterName);
        if (probe.OpenResult == DISCOVERY_OPEN_ADAPTER_FAILED) {
            probe.OpenFailure = environment.Access().OpenFailureNote();
        }
        ReportAll(report, Labelled(CheckProbe(target.Interface, probe, entry.Route), target),
                  failed);
        report.Probed(target.Name, target.Interface, probe);
    }
    return !failed;
}

}  // namespace tarvik
