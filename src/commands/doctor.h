#pragma once
// `doctor`: what stands between the program and the devices on the machine it runs on. It
// reads the facts of each interface and of the program's privilege, judges them, then opens
// each interface it can and probes the segment in both frame types. It changes nothing: it
// reads, probes, and says what the user could change.

#include <string>
#include <vector>

#include "commands/doctor_checks.h"
#include "commands/run_environment.h"

namespace tarvik {

// Where the findings go as they are made.
class DoctorReportPort {
public:
    virtual ~DoctorReportPort() = default;
    virtual void Report(const DoctorCheck& check) = 0;
    // An interface's probe, after its checks.
    // An interface's probe, after its checks; bay is empty outside a bay.
    virtual void Probed(const std::string& bay, const std::string& interfaceName,
                        const ProbeFacts& facts) = 0;
};

// A bay of a fixture: its name and the interface it is on (IFACE, or IFACE.VID for a VLAN on a
// trunk).
struct DoctorBay {
    std::string Name;
    std::string Interface;
};

struct DoctorRequest {
    std::string Interface;  // empty: every adapter the start-up sequence could open
    std::string InvokedAs;  // argv[0], for the binary's path where the system cannot tell
    // When given, each bay is examined on its own interface (and Interface is not used); an
    // interface several bays share is read once and reported for each.
    std::vector<DoctorBay> Bays;
    // Where each interface's carrier-change count is kept from one check to the next; empty
    // when there is nowhere to keep it.
    std::string CarrierLogPath;
};

// How long a network manager's tool may take to answer.
inline constexpr std::uint32_t MANAGER_TOOL_TIMEOUT_MS = 3000;

// Runs every check on a real environment (not started); false when any failed.
bool RunDoctor(RunEnvironment& environment, const DoctorRequest& request, DoctorReportPort& report);

// Opens the listed adapter on the run's binding, sends one broadcast information query in each
// frame type and listens for a discovery window after each, then closes the adapter again.
ProbeFacts ProbeAdapter(RunState& run, const std::string& adapterName);

}  // namespace tarvik
