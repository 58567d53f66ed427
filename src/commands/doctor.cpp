#include "commands/doctor.h"

#include <algorithm>

#include "netio/adapter_discovery.h"
#include "platform/capture/packet_driver.h"
#include "platform/host/doctor_remedies.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

// The listing's failures become the doctor's own lines, not message boxes.
class QuietPort final : public CommandPort {
public:
    void ShowMessage(std::string_view) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
};

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

    QuietPort quiet;
    AdapterList listed;
    if (environment.ListAdapters(quiet, listed) != DISCOVERY_OK) {
        listed = {};
    }
    std::vector<std::string> interfaces;
    if (!request.Interface.empty()) {
        interfaces.push_back(InterfaceOf(request.Interface));
    } else {
        for (const std::string& name : listed.Names) {
            interfaces.push_back(InterfaceOf(name));
        }
    }
    if (interfaces.empty()) {
        ReportAll(report,
                  {{"", "adapters", CheckResult::Fail, "no usable wired adapter",
                    RemedyText(Remedy::NoAdapter)}},
                  failed);
        return !failed;
    }

    struct Examined {
        std::string Interface;
        std::vector<DoctorCheck> Checks;
        std::string AdapterName;  // empty when it is not to be opened
    };
    std::vector<Examined> examined;
    std::vector<std::string> toOpen;
    for (const std::string& name : interfaces) {
        const InterfaceFacts facts = ReadInterfaceFacts(name);
        Examined entry{name,
                       CheckInterface(facts, ReadNetworkManagerFacts(environment.Clock(), name,
                                                                     MANAGER_TOOL_TIMEOUT_MS)),
                       {}};
        const int index = FindAdapterIndex(listed, name);
        if (facts.Exists && facts.Up && index >= 0) {
            entry.AdapterName = listed.Names[static_cast<std::size_t>(index)];
            toOpen.push_back(entry.AdapterName);
        }
        examined.push_back(std::move(entry));
    }

    // Opens every capture while it still may, then gives up every right.
    if (!environment.Access().OpenEarly(toOpen)) {
        ReportAll(report,
                  {{"", "capabilities", CheckResult::Fail,
                    "the capabilities could not be given up after the open",
                    "`tarvik-cli explain 38`"}},
                  failed);
        return false;
    }
    for (const Examined& entry : examined) {
        ReportAll(report, entry.Checks, failed);
        if (entry.AdapterName.empty()) {
            continue;
        }
        const ProbeFacts probe = ProbeAdapter(environment.State(), entry.AdapterName);
        ReportAll(report, CheckProbe(entry.Interface, probe), failed);
        report.Probed(entry.Interface, probe);
    }
    return !failed;
}

}  // namespace tarvik
