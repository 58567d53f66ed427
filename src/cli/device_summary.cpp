#include "cli/device_summary.h"

#include <algorithm>
#include <cstdio>

#include "cli/progress_printer.h"

namespace tarvik::cli {

std::string SummaryTable(const std::vector<DeviceRunReport>& reports)
{
    // A station of several bays names each device's bay first.
    const bool bays = std::any_of(reports.begin(), reports.end(),
                                  [](const DeviceRunReport& report) { return !report.Bay.empty(); });
    std::size_t nameWidth = 6;
    std::size_t resultWidth = 6;
    std::vector<std::string> names;
    std::vector<std::string> results;
    for (const DeviceRunReport& report : reports) {
        names.push_back(BayAndDevice(report.Bay, report.DeviceName));
        results.push_back(report.Skipped ? "skipped: " + report.Result : report.Result);
        nameWidth = std::max(nameWidth, names.back().size());
        resultWidth = std::max(resultWidth, results.back().size());
    }
    std::string table;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-*s  %10s  %8s\n", static_cast<int>(nameWidth),
                  bays ? "BAY DEVICE" : "DEVICE", static_cast<int>(resultWidth), "RESULT", "BYTES",
                  "ELAPSED");
    table += line;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const DeviceRunReport& report = reports[i];
        std::snprintf(line, sizeof line, "%-*s  %-*s  %10llu  %8s\n", static_cast<int>(nameWidth),
                      names[i].c_str(), static_cast<int>(resultWidth), results[i].c_str(),
                      static_cast<unsigned long long>(report.FileSize),
                      FormatDuration(report.ElapsedMs / 1000).c_str());
        table += line;
    }
    return table;
}

Json DeviceResultJson(const DeviceRunReport& report, std::string_view imagePath)
{
    Json result{{"DeviceName", JsonText(report.DeviceName)},
                {"FileName", JsonText(imagePath)},
                {"result", JsonText(report.Result)},
                {"ExitStatus", report.ExitStatus},
                {"Skipped", report.Skipped},
                {"FileSize", report.FileSize},
                {"FramesSent", report.FramesSent},
                {"FramesResent", report.FramesResent},
                {"ElapsedMs", report.ElapsedMs}};
    if (!report.Bay.empty()) {
        result["Bay"] = JsonText(report.Bay);
    }
    return result;
}

}  // namespace tarvik::cli
