#pragma once
// The options of the history, for every command that adds attempts to it (upgrade, station)
// and for `history` itself.

#include <cstddef>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace tarvik::cli {

// --history none: keep no history.
inline constexpr std::string_view HISTORY_NONE = "none";

struct HistoryOptions {
    std::string Path;      // --history: empty for the default file, "none" for none
    std::string Station;   // --station: empty for the machine's name
    std::string Operator;  // --operator: empty for the login name
};

// Adds --history, --station and --operator to a command that upgrades.
void AddHistoryOptions(CLI::App& command, HistoryOptions& options);

enum class HistoryAction { List, Export, Stats, Push, Chart };

// tarvik-cli history [export | stats | push URL | chart --out FILE] and its filters.
struct HistoryQuery {
    HistoryAction Action = HistoryAction::List;
    std::string DeviceName;  // --device
    std::string Image;       // --image: an image file, or its SHA-256
    std::string Since;       // --since, --until: UTC times as ParseUtcTime reads them
    std::string Until;
    bool FailedOnly = false;       // --failed
    std::string Station;           // --station
    std::string PushUrl;           // push: postgresql://...
    std::size_t BatchRecords = 0;  // push --batch: 0 for the default
    bool StatsByBay = false;       // stats --by bay: a group per bay too
    std::string ChartOut;          // chart --out: FILE.svg or FILE.png
};

// Adds the history command, its filters and its subcommands (export, stats, push, chart) to
// app.
CLI::App* AddHistoryCommand(CLI::App& app, HistoryOptions& options, HistoryQuery& query);
// Settles query.Action from the subcommand parsed.
void SettleHistoryAction(CLI::App& history, HistoryQuery& query);

}  // namespace tarvik::cli
