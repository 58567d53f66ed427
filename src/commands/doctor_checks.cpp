#include "commands/doctor_checks.h"

#include <algorithm>

#include "commands/startup.h"
#include "netio/adapter_discovery.h"
#include "platform/files/append_file.h"
#include "platform/host/doctor_remedies.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

// The longest frame the tool sends, a write or verify of a whole block, must pass the
// interface; the MTU does not count Ethernet's own header (destination, source, type).
constexpr std::size_t ETHERNET_HEADER_BYTES = FRAME_OPCODE;
constexpr std::uint32_t SMALLEST_WORKING_MTU =
    static_cast<std::uint32_t>(FRAME_HEADER_BYTES + BLOCK_BYTES - ETHERNET_HEADER_BYTES);
constexpr std::uint32_t ETHERNET_MTU = 1500;

constexpr std::string_view SWITCH_EDGE_PORT_ADVICE =
    "on a managed switch make every bay's access port an edge port (spanning-tree portfast, "
    "or 'spanning tree fast'): otherwise a port listens and learns for up to 30 s after each "
    "link change and drops a board's frames meanwhile";

class Lines {
public:
    explicit Lines(std::string interfaceName) : interface_(std::move(interfaceName)) {}

    // A pass says what to do only where the program cannot see whether it has been done.
    void Pass(std::string name, std::string detail, std::string_view advice = {})
    {
        checks_.push_back({interface_,
                           {},
                           std::move(name),
                           CheckResult::Pass,
                           std::move(detail),
                           std::string(advice)});
    }
    void Warn(std::string name, std::string detail, std::string advice)
    {
        checks_.push_back({interface_,
                           {},
                           std::move(name),
                           CheckResult::Warn,
                           std::move(detail),
                           std::move(advice)});
    }
    void Fail(std::string name, std::string detail, std::string advice)
    {
        checks_.push_back({interface_,
                           {},
                           std::move(name),
                           CheckResult::Fail,
                           std::move(detail),
                           std::move(advice)});
    }
    std::vector<DoctorCheck> Take() { return std::move(checks_); }

private:
    std::string interface_;
    std::vector<DoctorCheck> checks_;
};

std::string Seconds(std::uint32_t milliseconds)
{
    const std::uint32_t tenths = (milliseconds + 50) / 100;
    return std::to_string(tenths / 10) +
           (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

// "2026-03-01 09:15:02 UTC".
std::string CheckTime(std::int64_t millisecondsSinceEpoch)
{
    const std::string stamp = FormatUtcTime(millisecondsSinceEpoch);
    return stamp.substr(0, 10) + " " + stamp.substr(11, 8) + " UTC";
}

void CheckManagers(Lines& lines, const std::string& name, const NetworkManagerFacts& managers)
{
    switch (managers.NetworkManager) {
    case ManagerState::NotInstalled:
        lines.Pass("networkmanager", "NetworkManager not installed");
        break;
    case ManagerState::Unknown:
        lines.Pass("networkmanager", "NetworkManager not running, or it does not list " + name);
        break;
    case ManagerState::Unmanaged:
        lines.Pass("networkmanager", "NetworkManager leaves it alone (unmanaged)");
        break;
    case ManagerState::Managed:
        lines.Warn("networkmanager",
                   "managed by NetworkManager (" + managers.NetworkManagerState +
                       "): it may take the interface down or reconfigure it mid-transfer",
                   RemedyText(Remedy::ReleaseFromManager, {{"interface", name}}));
        break;
    }
    switch (managers.Networkd) {
    case ManagerState::NotInstalled:
        lines.Pass("networkd", "systemd-networkd not installed");
        break;
    case ManagerState::Unknown:
        lines.Pass("networkd", "systemd-networkd not running, or it does not list " + name);
        break;
    case ManagerState::Unmanaged:
        lines.Pass("networkd", "systemd-networkd leaves it alone (unmanaged)");
        break;
    case ManagerState::Managed:
        lines.Warn("networkd",
                   "managed by systemd-networkd (" + managers.NetworkdState +
                       "): it may reconfigure the interface mid-transfer",
                   RemedyText(Remedy::ReleaseFromNetworkd, {{"interface", name}}));
        break;
    }
}

void CheckBridge(Lines& lines, const std::optional<BridgePortFacts>& port)
{
    if (!port) {
        lines.Pass("bridge", "not a bridge port");
        return;
    }
    if (!port->Forwarding) {
        lines.Fail("bridge",
                   "port of bridge " + port->Bridge + ", " + port->PortState +
                       ": the bridge drops its frames now",
                   port->SpanningTree
                       ? RemedyText(Remedy::WaitOrStopSpanningTree,
                                    {{"wait", Seconds(2 * port->ForwardDelayMs)},
                                     {"bridge", port->Bridge}})
                       : RemedyText(Remedy::BringBridgeUp, {{"bridge", port->Bridge}}));
        return;
    }
    if (port->SpanningTree && port->ForwardDelayMs > 0) {
        lines.Warn("bridge",
                   "port of bridge " + port->Bridge +
                       " with spanning tree on: after every link "
                       "change the port listens and learns for " +
                       Seconds(2 * port->ForwardDelayMs) + " and drops the frames meanwhile",
                   RemedyText(Remedy::SpanningTreeOff, {{"bridge", port->Bridge}}));
        return;
    }
    lines.Pass("bridge", "port of bridge " + port->Bridge + ", spanning tree off");
}

void CheckRawSockets(Lines& lines, const std::vector<RawSocketHolder>& holders)
{
    if (holders.empty()) {
        lines.Pass("raw-sockets", "no other program has a raw socket on it");
        return;
    }
    std::string who;
    for (const RawSocketHolder& holder : holders) {
        who += who.empty() ? "" : ", ";
        who += holder.Program.empty()
                   ? "user " + std::to_string(holder.UserId)
                   : holder.Program + " (pid " + std::to_string(holder.ProcessId) + ")";
    }
    lines.Warn("raw-sockets",
               std::to_string(holders.size()) + " other raw socket" +
                   (holders.size() == 1 ? "" : "s") + " on it: " + who,
               RemedyText(Remedy::CloseOtherRawSockets));
}

}  // namespace

std::string_view CheckResultName(CheckResult result)
{
    switch (result) {
    case CheckResult::Pass:
        return "pass";
    case CheckResult::Warn:
        return "warn";
    case CheckResult::Fail:
        return "fail";
    }
    return "fail";
}

std::vector<DoctorCheck> CheckPrivilege(const PrivilegeFacts& facts)
{
    Lines lines("");
    const std::string group(PRIVILEGE_GROUP);
    const bool pending = facts.GroupExists && facts.GroupInDatabase && !facts.GroupInSession;
    if (facts.DecidedAtOpen) {
        lines.Pass("privilege", facts.Root ? "running as administrator"
                                           : "the capture driver decides when the adapter opens");
    } else if (facts.Root) {
        lines.Pass("privilege", "running as root");
    } else if (facts.RawNetworkAccess) {
        lines.Pass("privilege", facts.FileCapability ? "cap_net_raw, the binary's file capability"
                                                     : "cap_net_raw, inherited");
    } else if (pending) {
        lines.Fail("privilege",
                   "no raw network access: " + facts.UserName + " was added to group " + group +
                       " after this session began, and the session does not have it yet",
                   RemedyText(Remedy::RejoinSession, {{"group", group}}));
    } else if (facts.FileCapability) {
        lines.Fail("privilege",
                   "no raw network access, although " + facts.Binary +
                       " carries cap_net_raw: the system did not grant it (a nosuid mount, or a "
                       "parent that forbids new privileges)",
                   RemedyText(Remedy::PrivilegeNotGranted, {{"binary", facts.Binary}}));
    } else {
        const std::string user = facts.UserName.empty() ? std::string("USER") : facts.UserName;
        lines.Fail("privilege", "no raw network access: neither root nor cap_net_raw",
                   RemedyText(facts.GroupExists ? Remedy::NoPrivilegeOrJoinGroup
                                                : Remedy::NoPrivilege,
                              {{"binary", facts.Binary}, {"group", group}, {"user", user}}));
    }
    if (!facts.Root && facts.GroupExists && facts.GroupInSession) {
        lines.Pass("group", "member of group " + group);
    } else if (!facts.Root && pending && facts.RawNetworkAccess) {
        lines.Warn("group",
                   facts.UserName + " was added to group " + group +
                       ", but this session does not have it yet",
                   RemedyText(Remedy::RejoinSession, {{"group", group}}));
    }
    return lines.Take();
}

std::vector<DoctorCheck> CheckInterface(const InterfaceFacts& facts,
                                        const NetworkManagerFacts& managers,
                                        const InterfaceRoute& route)
{
    Lines lines(facts.Name);
    const std::string& name = facts.Name;
    const std::string vlanName = name + "." + std::to_string(route.VlanId);
    if (!facts.Exists) {
        lines.Fail("exists",
                   route.TaggedHere ? "no such interface, neither " + vlanName + " nor " + name
                                    : std::string("no such interface"),
                   RemedyText(Remedy::NoSuchInterface));
        return lines.Take();
    }
    lines.Pass("exists", route.TaggedHere
                             ? "the system has no " + vlanName + "; its trunk " + name + " exists"
                             : std::string("exists"));
    if (!facts.Up) {
        lines.Fail("up", "down (administratively)",
                   RemedyText(Remedy::BringUp, {{"interface", name}}));
    } else {
        lines.Pass("up", "up");
        if (facts.Carrier) {
            lines.Pass("carrier", "carrier");
        } else {
            lines.Fail("carrier", "no carrier (" + facts.OperState + "): no link to anything",
                       "plug the cable in and power the device (or the switch); the link light "
                       "must be on");
        }
    }
    switch (facts.Medium) {
    case InterfaceMedium::Ethernet:
        lines.Pass("medium", "Ethernet");
        break;
    case InterfaceMedium::WiFi:
        lines.Warn("medium", "Wi-Fi: raw frames to devices over Wi-Fi are unreliable",
                   "connect the device by cable to a wired adapter and use that");
        break;
    case InterfaceMedium::Other:
        lines.Fail("medium", "not Ethernet (hardware type " + std::to_string(facts.LinkType) + ")",
                   "use a wired Ethernet interface (`tarvik-cli adapters` lists them)");
        break;
    }
    const std::string mtu = "MTU " + std::to_string(facts.Mtu);
    if (facts.Mtu < SMALLEST_WORKING_MTU) {
        lines.Fail("mtu",
                   mtu + ": a block's frame needs " + std::to_string(SMALLEST_WORKING_MTU) +
                       " and cannot be sent",
                   RemedyText(Remedy::SetMtu,
                              {{"interface", name}, {"mtu", std::to_string(ETHERNET_MTU)}}));
    } else if (facts.Mtu < ETHERNET_MTU) {
        lines.Warn("mtu", mtu + ", below Ethernet's " + std::to_string(ETHERNET_MTU),
                   RemedyText(Remedy::RaiseMtu,
                              {{"interface", name}, {"mtu", std::to_string(ETHERNET_MTU)}}));
    } else {
        lines.Pass("mtu", mtu);
    }
    CheckManagers(lines, name, managers);
    CheckBridge(lines, facts.BridgePort);
    if (!facts.BondMaster.empty()) {
        lines.Warn("bond",
                   "slave of bond " + facts.BondMaster +
                       ": the bond decides which of its links a frame leaves by",
                   "use -i " + facts.BondMaster +
                       ", or connect the device to an adapter outside the bond");
    } else {
        lines.Pass("bond", "not in a bond");
    }
    if (route.TaggedHere) {
        lines.Pass("vlan", "VLAN " + std::to_string(route.VlanId) + " tagged by Tarvik on " + name +
                               ": frames go out tagged, and only replies on VLAN " +
                               std::to_string(route.VlanId) + " are taken");
    } else if (facts.Vlan && route.VlanId != 0) {
        lines.Pass("vlan", "VLAN " + std::to_string(facts.Vlan->Id) + " on " + facts.Vlan->Parent +
                               ", the system's VLAN interface: the switch's access ports untag "
                               "it for the devices");
    } else if (facts.Vlan) {
        lines.Warn("vlan",
                   "VLAN " + std::to_string(facts.Vlan->Id) + " on " + facts.Vlan->Parent +
                       ": frames leave tagged, and a device in its loader mode takes untagged "
                       "frames",
                   "use -i " + facts.Vlan->Parent +
                       ", or have the switch port the device is on untag that VLAN");
    } else {
        lines.Pass("vlan", "not a VLAN");
    }
    if (route.VlanId != 0) {
        // The switch's ports are out of reach of this machine: what it does after a link
        // change can only be said, not seen.
        lines.Pass("switch",
                   "behind a switch's access port: its spanning tree cannot be seen "
                   "from here",
                   SWITCH_EDGE_PORT_ADVICE);
    }
    CheckRawSockets(lines, facts.OtherRawSockets);
    return lines.Take();
}

std::vector<DoctorCheck> CheckCarrierChanges(const std::string& interfaceName,
                                             const CarrierChangeFacts& facts)
{
    if (!facts.Now) {
        return {};
    }
    Lines lines(interfaceName);
    const std::string kept = facts.NotRecorded.empty()
                                 ? ""
                                 : " (not kept for the next check: " + facts.NotRecorded + ")";
    if (!facts.Last) {
        lines.Pass("carrier-changes",
                   "carrier changes: first check here, " + std::to_string(*facts.Now) +
                       " since the interface was made" + (kept.empty() ? "; recorded" : kept));
        return lines.Take();
    }
    const std::string since = " since the last check (" + CheckTime(facts.Last->CheckedMs) + ")";
    if (*facts.Now < facts.Last->Changes) {
        // The count lives as long as the interface: an adapter plugged in again, or a restart.
        lines.Pass("carrier-changes", "carrier changes: counted afresh" + since +
                                          ": the interface was made again or the system "
                                          "restarted" +
                                          kept);
        return lines.Take();
    }
    const std::uint64_t changes = *facts.Now - facts.Last->Changes;
    if (changes == 0) {
        lines.Pass("carrier-changes", "carrier changes: none" + since + kept);
        return lines.Take();
    }
    lines.Warn("carrier-changes",
               "carrier changes: " + std::to_string(changes) + since +
                   ": the link went down and up again" + kept,
               "a board taken out and another put in makes two; more than the boards changed "
               "means a loose link that drops frames mid-transfer: reseat or replace the cable, "
               "try another port (on the adapter or the switch), and check the fixture's "
               "contacts");
    return lines.Take();
}

namespace {

// The adapter's opening, with its socket filter: whether the probe could go on.
bool CheckOpened(Lines& lines, const ProbeFacts& facts)
{
    const int openResult = facts.OpenResult;
    const std::string explain = "`tarvik-cli explain " +
                                std::to_string(StartupExitStatus(openResult)) + "`";
    switch (openResult) {
    case DISCOVERY_OK:
        lines.Pass("filter", "raw socket open, kernel socket filter loaded");
        return true;
    case DISCOVERY_OPEN_ADAPTER_FAILED:
        // The system's own reason says what to do better than the privilege line can.
        if (!facts.OpenFailure.empty()) {
            lines.Fail("filter", "the adapter could not be opened: " + facts.OpenFailure, explain);
            return false;
        }
        lines.Fail("filter", "the raw socket could not be opened",
                   "see the privilege line; " + explain);
        return false;
    case DISCOVERY_START_RECEPTION_FAILED:
        lines.Fail("filter", "the kernel refused the socket filter, or reception did not start",
                   RemedyText(Remedy::FilterRefused, {{"explain", explain}}));
        return false;
    default:
        lines.Fail("filter", "the adapter could not be opened", explain);
        return false;
    }
}

}  // namespace

std::vector<DoctorCheck> CheckProbe(const std::string& interfaceName, const ProbeFacts& facts,
                                    const InterfaceRoute& route)
{
    Lines lines(interfaceName);
    if (!CheckOpened(lines, facts)) {
        return lines.Take();
    }

    // Each device once per frame type, with the time of its first reply.
    struct Seen {
        std::string Name;
        bool Untyped = false;
        bool Typed = false;
    };
    std::vector<Seen> devices;
    for (const FrameVariantKind variant : {FrameVariantKind::Untyped, FrameVariantKind::Typed}) {
        const std::string probe = "probe-" + std::string(FrameVariantName(variant));
        const std::string words = std::string(FrameVariantName(variant)) + " probe";
        if (!(variant == FrameVariantKind::Untyped ? facts.UntypedSent : facts.TypedSent)) {
            lines.Fail(probe, words + " could not be sent",
                       "keep the interface up with its carrier; `tarvik-cli explain 22`");
            continue;
        }
        std::string answered;
        std::size_t count = 0;
        for (const ProbeAnswer& answer : facts.Answers) {
            if (answer.Asked != variant || answer.Answered != variant) {
                continue;
            }
            answered += (count++ == 0 ? "" : ", ") + answer.DeviceName + " in " +
                        std::to_string(answer.ReplyMs) + " ms";
            auto seen = std::find_if(devices.begin(), devices.end(),
                                     [&](const Seen& s) { return s.Name == answer.DeviceName; });
            if (seen == devices.end()) {
                seen = devices.insert(devices.end(), Seen{answer.DeviceName});
            }
            (variant == FrameVariantKind::Untyped ? seen->Untyped : seen->Typed) = true;
        }
        if (count == 0) {
            lines.Pass(probe, words + ": no answer");
        } else {
            lines.Pass(probe, words + ": " + std::to_string(count) + " device" +
                                  (count == 1 ? "" : "s") + ": " + answered);
        }
    }
    for (const ProbeAnswer& answer : facts.Answers) {
        if (answer.Asked != answer.Answered) {
            lines.Warn("frame-type",
                       answer.DeviceName + " answered the " +
                           std::string(FrameVariantName(answer.Asked)) + " probe in " +
                           std::string(FrameVariantName(answer.Answered)) +
                           " frames, which a run speaking " +
                           std::string(FrameVariantName(answer.Asked)) + " frames ignores",
                       "--frame-type " + std::string(FrameVariantName(answer.Answered)));
        }
    }
    if (facts.Answers.empty()) {
        const std::string vlan = std::to_string(route.VlanId);
        lines.Warn("devices", "no device answered in either frame type",
                   route.VlanId != 0
                       ? "power the device and put it in its loader mode; on the switch, its port "
                         "must be an access port of VLAN " +
                             vlan + " (untagged) and the trunk's port must carry VLAN " + vlan +
                             " tagged; `tarvik-cli explain 12`"
                       : std::string("power the device and put it in its loader mode; connect it "
                                     "by cable, with no switch or bridge between; `tarvik-cli "
                                     "explain 12`"));
    }
    for (const Seen& device : devices) {
        if (device.Untyped && device.Typed) {
            lines.Pass("frame-type", device.Name + " answers both frame types");
        } else if (device.Untyped) {
            lines.Pass("frame-type", device.Name + " answers untyped frames only (the default)");
        } else {
            lines.Warn("frame-type", device.Name + " answers typed frames only",
                       "pass --frame-type typed (or auto) to talk to it");
        }
    }
    return lines.Take();
}

bool AnyCheckFailed(const std::vector<DoctorCheck>& checks)
{
    return std::any_of(checks.begin(), checks.end(),
                       [](const DoctorCheck& check) { return check.Result == CheckResult::Fail; });
}

}  // namespace tarvik
