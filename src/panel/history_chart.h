#pragma once
// The history's two pictures of one image: the first-pass yield of each hour (a bar per hour,
// the share of the devices first tried then whose first attempt passed) and the attempts by
// ending (a bar per exit status). The counts come in as plain data, and the few words the
// pictures print in the caller's language; the pictures come out as SVG or PNG.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "panel/chart_picture.h"

namespace tarvik::panel {

struct ChartHour {
    std::int64_t HourMs = 0;            // the hour's start (UTC), milliseconds since the epoch
    std::uint64_t Devices = 0;          // devices first tried in that hour
    std::uint64_t PassedFirstTime = 0;  // of those, the ones whose first attempt passed
};

struct ChartEnding {
    std::string Name;  // the ending's text ("Upgrade Finish", "Upgrade Process Error !")
    std::int64_t ExitStatus = 0;
    std::uint64_t Attempts = 0;
};

struct HistoryChart {
    std::string ImageName;
    std::vector<ChartHour> Hours;      // oldest first
    std::vector<ChartEnding> Endings;  // in the order drawn, top to bottom
};

// The words the pictures print, in the page's language.
struct ChartLabels {
    std::string YieldTitle;    // "First-pass yield per hour"
    std::string EndingsTitle;  // "Attempts by ending"
    std::string YieldAxis;     // "first pass, % of devices"
    std::string HourAxis;      // "hour (UTC)"
    std::string AttemptsAxis;  // "attempts"
    std::string NoAttempts;    // "no attempts yet"
    std::string EarlierHours;  // "earlier hours not shown:" (followed by their number)
};

// The words in a language of the page's text tables.
ChartLabels ChartLabelsIn(std::string_view language);

// The yield picture shows the newest hours only, so that it stays readable (and its file
// small) however long the history.
inline constexpr std::size_t CHART_MOST_HOURS = 24;

ChartPicture DrawYieldChart(const HistoryChart& chart, const ChartLabels& labels);
ChartPicture DrawEndingsChart(const HistoryChart& chart, const ChartLabels& labels);
// The yield above the endings: the picture a file holds.
ChartPicture DrawHistoryChart(const HistoryChart& chart, const ChartLabels& labels);

std::string YieldChartSvg(const HistoryChart& chart, const ChartLabels& labels);
std::string EndingsChartSvg(const HistoryChart& chart, const ChartLabels& labels);
std::string HistoryChartSvg(const HistoryChart& chart, const ChartLabels& labels);
std::vector<std::uint8_t> HistoryChartPng(const HistoryChart& chart, const ChartLabels& labels);

}  // namespace tarvik::panel
