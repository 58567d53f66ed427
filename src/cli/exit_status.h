#pragma once
// The exit statuses of tarvik-cli: 0 only on success, one status per way a command can fail,
// so that a script can tell a board-code mismatch from a silent device. The statuses stand in
// the outcome tables beside the texts; these are the command line's names for a few of them.

#include <span>
#include <string_view>
#include <vector>

#include "commands/outcomes.h"

namespace tarvik::cli {

inline constexpr int EXIT_SUCCESS_STATUS = RowOf(ProgramOutcome::Success).ExitStatus;
inline constexpr int EXIT_USAGE = RowOf(ProgramOutcome::Usage).ExitStatus;
inline constexpr int EXIT_INTERRUPTED = RowOf(ProgramOutcome::Interrupted).ExitStatus;
inline constexpr int EXIT_SOME_DEVICES_FAILED = RowOf(ProgramOutcome::SomeDevicesFailed).ExitStatus;

struct ExitStatusEntry {
    int Status;
    std::string Meaning;
};

// Every status with what it means, for --help and the README.
std::vector<ExitStatusEntry> ExitStatusTable();

inline int ExitStatusFor(UpgradeOutcome outcome)
{
    return RowOf(outcome).ExitStatus;
}
inline int ExitStatusFor(InquiryOutcome outcome)
{
    return RowOf(outcome).ExitStatus;
}
// The status of a program that ends after the start-up sequence: 0 when the adapter is open.
int StartupExitStatusFor(int result);

}  // namespace tarvik::cli
