#include "cli/exit_status.h"

namespace tarvik::cli {

std::vector<ExitStatusEntry> ExitStatusTable()
{
    std::vector<ExitStatusEntry> table;
    for (const OutcomeRow& row : ExitStatusRows()) {
        table.push_back({row.ExitStatus, DescribeOutcome(row)});
    }
    return table;
}

int StartupExitStatusFor(int result)
{
    if (const OutcomeRow* row = StartupRow(result)) {
        return row->ExitStatus;
    }
    // A result no table knows is a failed open, as far as a script can tell.
    return StartupRow(DISCOVERY_OPEN_ADAPTER_FAILED)->ExitStatus;
}

}  // namespace tarvik::cli
