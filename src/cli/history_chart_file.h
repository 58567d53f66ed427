#pragma once
// tarvik-cli history chart: one image's pictures from the history, written to an SVG or PNG
// file. The tallies come from the store; the pictures are the panel's.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/cli_app.h"
#include "history/history_record.h"
#include "panel/history_chart.h"
#include "panel/station_view.h"

namespace tarvik {
class HistoryStore;
}

namespace tarvik::cli {

enum class ChartFormat { Svg, Png };

// The format --out's extension names (either case); nothing for any other.
std::optional<ChartFormat> ChartFormatOf(std::string_view path);

// The words the pictures print, in English.
panel::ChartLabels EnglishChartLabels();

// What an exit status is called in the pictures: "Upgrade Finish" for 0, the outcome table's
// text for a status it has one for, else the newest result the history gives for it (or the
// status itself when that is empty).
std::string EndingName(std::int64_t exitStatus, const std::string& newestResult);

// The picture as a whole file at path: written beside it and renamed over it, so that a reader
// (a browser reloading it) never sees half a picture. False with the reason in error.
bool WriteChartFile(const std::string& path, ChartFormat format, const panel::HistoryChart& chart,
                    std::string& error);

// Tallies the filter's image (the newest attempt's when the filter names none) and its time
// window and station, and writes its pictures to out. A null store is a history that holds
// nothing yet. Returns the exit status.
// The station panel's pictures of the image with that SHA-256, read from the history at each
// request; null when no history is kept (or the image could not be read).
panel::ChartMaker StationCharts(const std::string& historyPath, const std::string& sha256,
                                const std::string& imageName);

int WriteHistoryChart(HistoryStore* store, const HistoryFilter& filter, const std::string& out,
                      Streams streams);

}  // namespace tarvik::cli
