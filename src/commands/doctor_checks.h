#pragma once
// What `doctor` makes of the facts about the machine: one line per check, pass, warn or fail,
// and for every warn and fail what the user could do. Written once over the facts the
// platform reads, so the judgement is the same on every system and testable with stand-in
// facts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/interface_facts.h"
#include "protocol/frame.h"

namespace tarvik {

enum class CheckResult { Pass, Warn, Fail };

// "pass", "warn", "fail".
std::string_view CheckResultName(CheckResult result);

struct DoctorCheck {
    std::string Interface;  // empty for the checks of the program itself
    std::string Name;       // the check's short name: "carrier", "mtu", "privilege", ...
    CheckResult Result = CheckResult::Pass;
    std::string Detail;  // what was found, as the line says it
    std::string Advice;  // what to do: given for every warn and fail
};

// The program's right to open raw sockets: root, cap_net_raw, the privilege group.
std::vector<DoctorCheck> CheckPrivilege(const PrivilegeFacts& facts);

// The interface and what runs it: existence, up, carrier, medium, MTU, network managers,
// bridge and spanning tree, bond, VLAN, other raw sockets.
std::vector<DoctorCheck> CheckInterface(const InterfaceFacts& facts,
                                        const NetworkManagerFacts& managers);

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
};

// The socket and its kernel filter, each frame type's probe, and the devices that answer in
// one frame type only.
std::vector<DoctorCheck> CheckProbe(const std::string& interfaceName, const ProbeFacts& facts);

// Whether any check failed.
bool AnyCheckFailed(const std::vector<DoctorCheck>& checks);

}  // namespace tarvik
