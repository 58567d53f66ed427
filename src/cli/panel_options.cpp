#include "cli/panel_options.h"

#include <CLI/CLI.hpp>

namespace tarvik::cli {
namespace {

void AddTokenOption(CLI::App& command, PanelOptions& options)
{
    command
        .add_option("--panel-token", options.TokenFile,
                    "The token (the first line of FILE, 16 characters or more) that every "
                    "request to the panel must carry: open it as http://ADDRESS:PORT/?token=TOKEN. "
                    "Needed for any address but the loopback")
        ->type_name("FILE");
}

}  // namespace

void AddStationPanelOptions(CLI::App& station, PanelOptions& options)
{
    station
        .add_option("--panel", options.Address,
                    "Serve the operator panel (a tile per bay or slot, the counts, the last "
                    "failures, the charts of the history) on [ADDRESS:]PORT; ADDRESS is "
                    "127.0.0.1 unless given")
        ->type_name("[ADDRESS:]PORT");
    AddTokenOption(station, options);
    station.get_option("--panel-token")->needs(station.get_option("--panel"));
}

CLI::App* AddPanelCommand(CLI::App& app, PanelOptions& options)
{
    CLI::App* panel = app.add_subcommand(
        "panel",
        "The factory view: every station that pushes to the shared database at URL, its state "
        "(live, quiet, offline), yields, failures by cause and the worst bays, served as a web "
        "page until Ctrl-C. Reads only");
    panel->add_option("URL", options.DatabaseUrl, "postgresql://[user@]host[:port]/database")
        ->required();
    panel
        ->add_option("--panel", options.Address,
                     "Serve on [ADDRESS:]PORT (default 127.0.0.1:8080)")
        ->type_name("[ADDRESS:]PORT");
    AddTokenOption(*panel, options);
    panel
        ->add_option("--quiet-after", options.QuietAfterMinutes,
                     "A station not heard of for more than MINUTES is quiet (default 5)")
        ->check(CLI::Range(1U, 10080U));
    panel
        ->add_option("--offline-after", options.OfflineAfterMinutes,
                     "A station not heard of for more than MINUTES, or that said it stopped, is "
                     "offline (default 60)")
        ->check(CLI::Range(1U, 525600U));
    panel->add_option("--days", options.Days, "Yields and failures of the last DAYS days (default 7)")
        ->check(CLI::Range(1U, 366U));
    panel
        ->add_option("--refresh", options.RefreshSeconds,
                     "Read the database again every SECONDS (default 10)")
        ->check(CLI::Range(1U, 3600U));
    return panel;
}

}  // namespace tarvik::cli
