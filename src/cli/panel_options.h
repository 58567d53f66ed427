#pragma once
// The operator panel's options: `station --panel [ADDRESS:]PORT [--panel-token FILE]`, and the
// factory view, `panel URL`, which serves every station of a shared database.

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace tarvik::cli {

struct PanelOptions {
    std::string Address;    // --panel: empty for no panel (station); "[ADDRESS:]PORT"
    std::string TokenFile;  // --panel-token
    // panel: the shared database, and when a station counts as quiet or offline.
    std::string DatabaseUrl;
    std::uint32_t QuietAfterMinutes = 5;
    std::uint32_t OfflineAfterMinutes = 60;
    std::uint32_t Days = 7;
    std::uint32_t RefreshSeconds = 10;
};

// Adds --panel and --panel-token to the station.
void AddStationPanelOptions(CLI::App& station, PanelOptions& options);
// tarvik-cli panel URL: the factory view.
CLI::App* AddPanelCommand(CLI::App& app, PanelOptions& options);

}  // namespace tarvik::cli
