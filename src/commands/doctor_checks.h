#pragma once
// What `doctor` makes of the facts about the machine: one line per check, pass, warn or fail,
// and for every warn and fail what the user could do. Written once over the facts the
// platform reads, so the judgement is the same on every system and testable with stand-in
// facts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/carrier_log.h"
#include "platform/host/interface_facts.h"
#include "protocol/frame.h"

namespace tarvik {

enum class CheckResult { Pass, Warn, Fail };

// "pass", "warn", "fail".
std::string_view CheckResultName(CheckResult result);

struct DoctorCheck {
    std::string Interface;  // empty for the checks of the program itself
    std::string Bay;        // the bay the interface serves; empty outside a bay
    std::string Name;       // the check's short name: "carrier", "mtu", "privilege", ...
    CheckResult Result = CheckResult::Pass;
    std::string Detail;  // what was found, as the line says it
    std::string Advice;  // what to do: given for every warn and fail
};

// The program's right to open raw sockets: root, cap_net_raw, the privilege group.
std::vector<DoctorCheck> CheckPrivilege(const PrivilegeFacts& facts);

// How the devices are reached through the interface, as the name given for it says.
struct InterfaceRoute {
    // The name was IFACE.VID: the devices sit behind a switch's access ports of that VLAN.
    std::uint16_t VlanId = 0;
    // The system has no interface IFACE.VID: the facts are the trunk's, and the program tags
    // its own frames on it.
    bool TaggedHere = false;
};

// The interface and what runs it: existence, up, carrier, medium, MTU, network managers,
// bridge and spanning tree, bond, VLAN (and the switch a VLAN implies), other raw sockets.
std::vector<DoctorCheck> CheckInterface(const InterfaceFacts& facts,
                                        const NetworkManagerFacts& managers,
                                        const InterfaceRoute& route = {});

// The link's changes since the last check: the counter now (nothing where the system keeps
// none), the record of the last check (nothing on the first), and why the counter could not be
// kept for the next check (empty when it was).
struct CarrierChangeFacts {
    std::optional<std::uint64_t> Now;
    std::optional<CarrierRecord> Last;
    std::string NotRecorded;
};

// One line, "carrier-changes": warn when the link came or went since the last check; nothing
// where the system does not count.
std::vector<DoctorCheck> CheckCarrierChanges(const std::string& interfaceName,
                                             const CarrierChangeFacts& facts);

// A reply to the probe: which device, which probe it answered and in which frame type.
struct ProbeAnswer {
    std::string DeviceName;
    FrameVariantKind Asked = FrameVariantKind::Untyped;
    FrameVariantKind Answered = FrameVariantKind::Untyped;
    std::uint32_t ReplyMs = 0;  // from the probe going out to the reply coming in
};

// What the live probe met: the adapter's opening (DISCOVERY_OK or why not), whether each
// frame type's probe went out, and the replies in the order they came.
struct ProbeFacts {
    int OpenResult = 0;
    bool UntypedSent = false;
    bool TypedSent = false;
    std::vector<ProbeAnswer> Answers;
    // Why the open failed, where the system says (Windows: Npcap missing, an adapter whose
    // driver takes the VLAN tags off); empty otherwise.
    std::string OpenFailure = {};
};

// The socket and its kernel filter, each frame type's probe, and the devices that answer in
// one frame type only; the route says where a silent device may be lost.
std::vector<DoctorCheck> CheckProbe(const std::string& interfaceName, const ProbeFacts& facts,
                                    const InterfaceRoute& route = {});

// Whether any check failed.
bool AnyCheckFailed(const std::vector<DoctorCheck>& checks);

}  // namespace tarvik
