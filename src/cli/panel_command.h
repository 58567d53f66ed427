#pragma once
// tarvik-cli panel URL: the factory view, served until Ctrl-C.

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "panel/polled_source.h"
#include "platform/files/append_file.h"

namespace tarvik::cli {

int RunPanelCommand(const CliOptions& options, Streams streams, const StopRequested& stop);

// Reads the factory view's state from the shared database; a build without a history has a
// reader that says so.
panel::PolledSource::Reader FactoryReader(const PanelOptions& options, UtcClock& clock);

}  // namespace tarvik::cli
