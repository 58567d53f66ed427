#include "cli/history_chart_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "commands/failure_catalogue.h"
#include "panel/chart_picture.h"
#include "platform/files/file_system.h"
#include "platform/files/path_text.h"

namespace tarvik::cli {

std::optional<ChartFormat> ChartFormatOf(std::string_view path)
{
    std::string extension = TextOf(PathOf(path).extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; });
    if (extension == ".svg") {
        return ChartFormat::Svg;
    }
    if (extension == ".png") {
        return ChartFormat::Png;
    }
    return std::nullopt;
}

panel::ChartLabels EnglishChartLabels()
{
    return panel::ChartLabelsIn("en");
}

std::string EndingName(std::int64_t exitStatus, const std::string& newestResult)
{
    if (exitStatus == 0) {
        return "Upgrade Finish";
    }
    for (const ExplainedStatus& row : ExplainTopic(std::to_string(exitStatus))) {
        if (!row.Text.empty()) {
            std::string text(row.Text);
            text.erase(text.find_last_not_of(' ') + 1);
            return text;
        }
    }
    return newestResult.empty() ? "exit status " + std::to_string(exitStatus) : newestResult;
}

bool WriteChartFile(const std::string& path, ChartFormat format, const panel::HistoryChart& chart,
                    std::string& error)
{
    const panel::ChartLabels labels = EnglishChartLabels();
    std::vector<std::uint8_t> bytes;
    if (format == ChartFormat::Png) {
        bytes = panel::HistoryChartPng(chart, labels);
    } else {
        const std::string svg = panel::HistoryChartSvg(chart, labels);
        bytes.assign(svg.begin(), svg.end());
    }
    return ReplaceFileWhole(path, bytes, error);
}

}  // namespace tarvik::cli
