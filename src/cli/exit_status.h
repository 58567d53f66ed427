#pragma once
// The exit statuses of tarvik-cli: 0 only on success, one status per way a command can fail,
// so that a script can tell a board-code mismatch from a silent device. The statuses stand in
// the outcome tables beside the texts; these are the command line's names for a few of them.

#include "commands/outcomes.h"

namespace tarvik::cli {

inline constexpr int EXIT_SUCCESS_STATUS = RowOf(ProgramOutcome::Success).ExitStatus;
inline constexpr int EXIT_USAGE = RowOf(ProgramOutcome::Usage).ExitStatus;
inline constexpr int EXIT_INTERRUPTED = RowOf(ProgramOutcome::Interrupted).ExitStatus;
inline constexpr int EXIT_SOME_DEVICES_FAILED = RowOf(ProgramOutcome::SomeDevicesFailed).ExitStatus;
inline constexpr int EXIT_DOCTOR_FOUND_FAULT = RowOf(ProgramOutcome::DoctorFoundFault).ExitStatus;
inline constexpr int EXIT_HISTORY_PUSH_INCOMPLETE =
    RowOf(ProgramOutcome::HistoryPushIncomplete).ExitStatus;

inline int ExitStatusFor(UpgradeOutcome outcome)
{
    return RowOf(outcome).ExitStatus;
}
inline int ExitStatusFor(InquiryOutcome outcome)
{
    return RowOf(outcome).ExitStatus;
}

}  // namespace tarvik::cli
