// Prints the factory's view of a shared database as one JSON object, for the tests and the
// benchmark: factory_view_probe URL NOW_MS [DAYS [QUIET_MINUTES OFFLINE_MINUTES]]. Exits 1 with
// the reason on stderr when the view cannot be read.

#include <cstdlib>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "history/factory_view.h"

namespace {

using Json = nlohmann::ordered_json;

Json YieldJson(const tarvik::FirstPassYield& yield)
{
    return Json{
        {"devices", yield.Devices}, {"firstPassed", yield.FirstPassed}, {"yield", yield.Yield()}};
}

Json ViewJson(const tarvik::FactoryView& view)
{
    Json stations = Json::array();
    for (const tarvik::FactoryStation& station : view.Stations) {
        stations.push_back({{"station", station.Station},
                            {"state", tarvik::StationStateName(station.State)},
                            {"version", station.ProgramVersion},
                            {"fileName", station.FileName},
                            {"sha256", station.Sha256},
                            {"bays", station.Bays},
                            {"heartbeats", station.Heartbeats},
                            {"lastSeenMs", station.LastSeenMs},
                            {"stoppedMs", station.StoppedMs ? Json(*station.StoppedMs) : Json()},
                            {"attemptsToday", station.AttemptsToday},
                            {"passedToday", station.PassedToday}});
    }
    Json byStation = Json::array();
    for (const tarvik::StationYield& row : view.YieldByStation) {
        byStation.push_back({{"station", row.Station}, {"yield", YieldJson(row.Yield)}});
    }
    Json byImage = Json::array();
    for (const tarvik::ImageYield& row : view.YieldByImage) {
        byImage.push_back(
            {{"sha256", row.Sha256}, {"fileName", row.FileName}, {"yield", YieldJson(row.Yield)}});
    }
    Json byDay = Json::array();
    for (const tarvik::DayYield& row : view.YieldByDay) {
        byDay.push_back({{"day", row.Day}, {"yield", YieldJson(row.Yield)}});
    }
    Json failures = Json::array();
    for (const tarvik::FailureCause& row : view.Failures) {
        failures.push_back({{"exitStatus", row.ExitStatus},
                            {"result", row.Result},
                            {"count", row.Count},
                            {"lastMs", row.LastMs}});
    }
    Json bays = Json::array();
    for (const tarvik::BayFailures& row : view.WorstBays) {
        bays.push_back({{"station", row.Station},
                        {"bay", row.Bay},
                        {"attempts", row.Attempts},
                        {"failures", row.Failures},
                        {"yield", YieldJson(row.Yield)}});
    }
    return Json{{"stations", stations}, {"yieldByStation", byStation}, {"yieldByImage", byImage},
                {"yieldByDay", byDay},  {"failures", failures},        {"worstBays", bays}};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr
            << "usage: factory_view_probe URL NOW_MS [DAYS [QUIET_MINUTES OFFLINE_MINUTES]]\n";
        return 2;
    }
    tarvik::FactoryViewOptions options;
    options.NowMs = std::strtoll(argv[2], nullptr, 10);
    if (argc > 3) {
        options.Days = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    }
    if (argc > 5) {
        options.QuietAfterMinutes = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10));
        options.OfflineAfterMinutes =
            static_cast<std::uint32_t>(std::strtoul(argv[5], nullptr, 10));
    }
    std::string error;
    const std::optional<tarvik::FactoryView> view =
        tarvik::ReadFactoryView(argv[1], options, error);
    if (!view) {
        std::cerr << "factory_view_probe: " << error << '\n';
        return 1;
    }
    std::cout << ViewJson(*view).dump() << '\n';
    return 0;
}
