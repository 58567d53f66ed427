// A build without a history reads no shared database and draws no history.

#include "cli/history_chart_file.h"
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

panel::ChartMaker StationCharts(const std::string&, const std::string&, const std::string&)
{
    return nullptr;
}

}  // namespace tarvik::cli
