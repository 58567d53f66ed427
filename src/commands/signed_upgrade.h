#pragma once
// The desktop program's Upgrade: the image's signature is checked when the user starts the
// upgrade, and the bytes checked are the bytes sent. The program lives on after one upgrade,
// so the image is read afresh for each: it may have been rebuilt and signed again meanwhile.

#include <string>

#include "commands/command_port.h"
#include "commands/image_trust.h"
#include "commands/outcomes.h"
#include "commands/run_environment.h"

namespace tarvik {

// Checks the image with trust; a refusal shows its ending's text and nothing is sent. Else runs
// the Upgrade command, over the verified bytes when there are some; once it ends, the image
// reads from the disk again.
UpgradeOutcome RunSignedUpgradeCommand(RunEnvironment& environment, CommandPort& port,
                                       ProgressDisplay& progress, const std::string& deviceName,
                                       const std::string& imagePath, const TrustSettings& trust);

}  // namespace tarvik
