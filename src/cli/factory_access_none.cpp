// A build without a history reads no shared database.

#include "cli/history_command.h"
#include "cli/panel_command.h"

namespace tarvik::cli {

panel::PolledSource::Reader FactoryReader(const PanelOptions&, UtcClock&)
{
    return [](std::string& error) {
        error = std::string(NO_HISTORY_IN_THIS_BUILD);
        return panel::Json();
    };
}

}  // namespace tarvik::cli
