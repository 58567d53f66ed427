#pragma once
// The user-level flows, written once for every front end: Upgrade, Show file information,
// Show device information and Browse. Each shows its fixed messages through the port and
// reports how it ended, so that a front end can also turn the ending into an exit status.

#include <cstddef>
#include <string>
#include <vector>

#include "commands/command_port.h"
#include "commands/outcomes.h"
#include "image/descriptor.h"
#include "protocol/run_state.h"

namespace tarvik {

// The Upgrade command: check, open, begin, write, verify, reset. The image file is closed on
// every way out once opened; the progress display is touched only after the begin request.
UpgradeOutcome RunUpgradeCommand(RunState& run, CommandPort& port, ProgressDisplay& progress,
                                 const std::string& deviceName, const std::string& imagePath);

// Show file information: reads the image's descriptor into descriptor; on failure shows
// MSG_FILE_ACCESS_ERROR and returns false (no dialog is to be opened).
bool ShowFileInformation(RunState& run, CommandPort& port, const std::string& imagePath,
                         ImageDescriptor& descriptor);

// Show device information: queries the named device; on failure shows MSG_ACCESS_TARGET_ERROR
// and returns false (the dialog opens with every box empty).
bool ShowDeviceInformation(RunState& run, CommandPort& port, const std::string& deviceName,
                           ImageDescriptor& descriptor);

// The rows of the browse list: the names BrowseTargets keeps, at most.
inline constexpr std::size_t BROWSE_LIST_ROWS = 64;

// Browse: empties SelectedTarget, runs discovery and returns the names found, sorted. On
// failure shows MSG_BROADCAST_ERROR and returns false with names empty.
bool BrowseTargets(RunState& run, CommandPort& port, std::vector<std::string>& names);

}  // namespace tarvik
