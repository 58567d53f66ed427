#pragma once
// `doctor`: what stands between the program and the devices on the machine it runs on. It
// reads the facts of each interface and of the program's privilege, judges them, then opens
// each interface it can and probes the segment in both frame types. It changes nothing: it
// reads, probes, and says what the user could change.

#include <string>

#include "commands/doctor_checks.h"
#include "commands/run_environment.h"

namespace tarvik {

// Where the findings go as they are made.
class DoctorReportPort {
public:
    virtual ~DoctorReportPort() = default;
    virtual void Report(const DoctorCheck& check) = 0;
    // An interface's probe, after its checks.
    virtual void Probed(const std::string& interfaceName, const ProbeFacts& facts) = 0;
};

struct DoctorRequest {
    std::string Interface;  // empty: every adapter the start-up sequence could open
    std::string InvokedAs;  // argv[0], for the binary's path where the system cannot tell
};

// How long a network manager's tool may take to answer.
inline constexpr std::uint32_t MANAGER_TOOL_TIMEOUT_MS = 3000;

// Runs every check on a real environment (not started); false when any failed.
bool RunDoctor(RunEnvironment& environment, const DoctorRequest& request, DoctorReportPort& report);

// Opens the listed adapter on the run's binding, sends one broadcast information query in each
// frame type and listens for a discovery window after each, then closes the adapter again.
ProbeFacts ProbeAdapter(RunState& run, const std::string& adapterName);

}  // namespace tarvik
