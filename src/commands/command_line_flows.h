#pragma once
// Flows the command line offers beyond the window's four: the compatibility check on its own,
// and an Upgrade that the user can stop between two polls of the transfer.

#include <functional>
#include <optional>
#include <string>

#include "commands/commands.h"

namespace tarvik {

// The compatibility check of the Upgrade command on its own, with the same messages. Returns
// Finished when the image fits the device; the image file is never left open.
UpgradeOutcome RunCheckCommand(RunState& run, CommandPort& port, const std::string& deviceName,
                               const std::string& imagePath);

// Asked once per turn of the transfer loop; true stops the transfer without a message. The
// command then closes the file like on any other way out and returns Other: the caller, who
// owns the request, knows why.
using StopRequested = std::function<bool()>;

// device, when given, receives the descriptor the device gave the compatibility check (which is
// the device's state before the upgrade): whoever keeps it asks the device nothing more.
UpgradeOutcome RunUpgradeCommand(RunState& run, CommandPort& port, ProgressDisplay& progress,
                                 const std::string& deviceName, const std::string& imagePath,
                                 const StopRequested& stopRequested,
                                 std::optional<ImageDescriptor>* device = nullptr);

}  // namespace tarvik
