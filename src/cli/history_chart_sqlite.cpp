// The chart's counts from the history in SQLite.

#include <algorithm>

#include "cli/exit_status.h"
#include "cli/history_chart_file.h"
#include "cli/history_report.h"
#include "history/history_store.h"
#include "history/history_tallies.h"

namespace tarvik::cli {
namespace {

panel::HistoryChart ChartOf(const ImageTallies& tallies, const std::string& imageName)
{
    panel::HistoryChart chart;
    chart.ImageName = imageName;
    for (const HourYield& hour : tallies.Hours) {
        chart.Hours.push_back({hour.HourMs, hour.Devices, hour.PassedFirstTime});
    }
    for (const EndingTally& ending : tallies.Endings) {
        chart.Endings.push_back({EndingName(ending.ExitStatus, ending.Result), ending.ExitStatus,
                                 ending.Attempts});
    }
    // The passes first, then the most frequent endings.
    std::stable_sort(chart.Endings.begin(), chart.Endings.end(),
                     [](const panel::ChartEnding& a, const panel::ChartEnding& b) {
        if ((a.ExitStatus == 0) != (b.ExitStatus == 0)) {
            return a.ExitStatus == 0;
        }
        return a.Attempts > b.Attempts;
    });
    return chart;
}

std::string ImageName(const std::string& fileName, const std::string& sha256)
{
    return ImageText(fileName, sha256.empty() ? std::nullopt : std::optional<std::string>(sha256));
}

}  // namespace

panel::ChartMaker StationCharts(const std::string& historyPath, const std::string& sha256,
                                const std::string& imageName)
{
    if (historyPath.empty() || sha256.empty()) {
        return nullptr;
    }
    return [historyPath, sha256, imageName](std::string_view name,
                                            std::string_view language) -> std::optional<std::string> {
        // Opened for each picture, to read: the station's own writes go on meanwhile.
        std::string error;
        panel::HistoryChart chart;
        chart.ImageName = ImageName(imageName, sha256);
        if (const std::unique_ptr<HistoryStore> store =
                HistoryStore::Open(historyPath, error, HistoryAccess::Read)) {
            TallyScope scope;
            scope.Sha256 = sha256;
            if (const std::optional<ImageTallies> tallies = TallyImage(*store, scope, error)) {
                chart = ChartOf(*tallies, chart.ImageName);
            }
        }
        const panel::ChartLabels labels = panel::ChartLabelsIn(language);
        return name == "yield" ? panel::YieldChartSvg(chart, labels)
                               : panel::EndingsChartSvg(chart, labels);
    };
}

int WriteHistoryChart(HistoryStore* store, const HistoryFilter& filter, const std::string& out,
                      Streams streams)
{
    const std::optional<ChartFormat> format = ChartFormatOf(out);
    if (!format) {
        streams.Err << "tarvik-cli: history chart: --out " << out
                    << " names neither an .svg nor a .png file\n";
        return EXIT_USAGE;
    }
    std::string error;
    TallyScope scope{filter.Sha256, filter.SinceMs, filter.UntilMs, filter.Station};
    std::string fileName;
    if (store != nullptr && scope.Sha256.empty()) {
        const std::optional<NewestImage> newest = FindNewestImage(*store, filter.Station, error);
        if (!error.empty()) {
            streams.Err << "tarvik-cli: history chart: cannot read " << store->Path() << ": "
                        << error << '\n';
            return EXIT_USAGE;
        }
        if (newest) {
            scope.Sha256 = newest->Sha256;
            fileName = newest->FileName;
        }
    }
    panel::HistoryChart chart;
    if (store != nullptr && !scope.Sha256.empty()) {
        const std::optional<ImageTallies> tallies = TallyImage(*store, scope, error);
        if (!tallies) {
            streams.Err << "tarvik-cli: history chart: cannot read " << store->Path() << ": "
                        << error << '\n';
            return EXIT_USAGE;
        }
        chart =
            ChartOf(*tallies, ImageName(tallies->FileName.empty() ? fileName : tallies->FileName,
                                        scope.Sha256));
    } else {
        chart.ImageName = ImageName(fileName, scope.Sha256);
    }
    if (!WriteChartFile(out, *format, chart, error)) {
        streams.Err << "tarvik-cli: history chart: " << error << '\n';
        return EXIT_USAGE;
    }
    return EXIT_SUCCESS_STATUS;
}

}  // namespace tarvik::cli
