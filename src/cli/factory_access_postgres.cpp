// The factory view read from the shared database, as the panel's page shows it.

#include "cli/history_chart_file.h"
#include "cli/panel_command.h"
#include "history/factory_view.h"
#include "panel/station_view.h"

namespace tarvik::cli {
namespace {

panel::Json YieldJson(const FirstPassYield& yield)
{
    return panel::Json{{"devices", yield.Devices}, {"firstPassed", yield.FirstPassed}};
}

panel::Json FactoryJson(const FactoryView& view, std::int64_t nowMs)
{
    panel::Json stations = panel::Json::array();
    for (const FactoryStation& station : view.Stations) {
        stations.push_back({{"station", station.Station},
                            {"state", StationStateName(station.State)},
                            {"version", station.ProgramVersion},
                            {"image", station.FileName},
                            {"sha256", station.Sha256},
                            {"bays", station.Bays},
                            {"heartbeats", station.Heartbeats},
                            {"lastSeenMs", station.LastSeenMs},
                            {"todayAttempts", station.AttemptsToday},
                            {"todayPassed", station.PassedToday}});
    }
    panel::Json byStation = panel::Json::array();
    for (const StationYield& row : view.YieldByStation) {
        panel::Json json = YieldJson(row.Yield);
        json["station"] = row.Station;
        byStation.push_back(std::move(json));
    }
    panel::Json byImage = panel::Json::array();
    for (const ImageYield& row : view.YieldByImage) {
        panel::Json json = YieldJson(row.Yield);
        json["image"] = row.FileName;
        json["sha256"] = row.Sha256;
        byImage.push_back(std::move(json));
    }
    panel::Json byDay = panel::Json::array();
    for (const DayYield& row : view.YieldByDay) {
        panel::Json json = YieldJson(row.Yield);
        json["day"] = row.Day;
        byDay.push_back(std::move(json));
    }
    panel::Json causes = panel::Json::array();
    for (const FailureCause& row : view.Failures) {
        panel::Json json{{"exitStatus", row.ExitStatus},
                         {"result", EndingName(row.ExitStatus, row.Result)},
                         {"count", row.Count},
                         {"lastMs", row.LastMs}};
        json.update(panel::CatalogueEntry(row.ExitStatus));
        causes.push_back(std::move(json));
    }
    panel::Json bays = panel::Json::array();
    for (const BayFailures& row : view.WorstBays) {
        panel::Json json = YieldJson(row.Yield);
        json["station"] = row.Station;
        json["bay"] = row.Bay;
        json["attempts"] = row.Attempts;
        json["failures"] = row.Failures;
        bays.push_back(std::move(json));
    }
    return panel::Json{{"kind", "factory"},
                       {"nowMs", nowMs},
                       {"stations", std::move(stations)},
                       {"yieldByStation", std::move(byStation)},
                       {"yieldByImage", std::move(byImage)},
                       {"yieldByDay", std::move(byDay)},
                       {"causes", std::move(causes)},
                       {"worstBays", std::move(bays)}};
}

}  // namespace

panel::PolledSource::Reader FactoryReader(const PanelOptions& options, UtcClock& clock)
{
    return [options, &clock](std::string& error) {
        FactoryViewOptions view;
        view.NowMs = clock.MillisecondsSinceEpoch();
        view.QuietAfterMinutes = options.QuietAfterMinutes;
        view.OfflineAfterMinutes = options.OfflineAfterMinutes;
        view.Days = options.Days;
        const std::optional<FactoryView> read = ReadFactoryView(options.DatabaseUrl, view, error);
        return read ? FactoryJson(*read, view.NowMs) : panel::Json();
    };
}

}  // namespace tarvik::cli
