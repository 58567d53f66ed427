#include "panel/history_chart.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "panel/chart_png.h"
#include "panel/panel_assets.h"

namespace tarvik::panel {

ChartLabels ChartLabelsIn(std::string_view language)
{
    return {
        .YieldTitle = PanelText(language, "chart_yield_title"),
        .EndingsTitle = PanelText(language, "chart_endings_title"),
        .YieldAxis = PanelText(language, "chart_yield_axis"),
        .HourAxis = PanelText(language, "chart_hour_axis"),
        .AttemptsAxis = PanelText(language, "chart_attempts_axis"),
        .NoAttempts = PanelText(language, "chart_no_data"),
        .EarlierHours = PanelText(language, "chart_earlier_hours"),
    };
}
namespace {

constexpr ChartColour BACKGROUND{0xFF, 0xFF, 0xFF};
constexpr ChartColour INK{0x22, 0x22, 0x22};
constexpr ChartColour GRID{0xDD, 0xDD, 0xDD};
constexpr ChartColour PASSED{0x2E, 0x7D, 0x32};
constexpr ChartColour FAILED{0xC6, 0x28, 0x28};

constexpr int TITLE_SIZE = 20;
constexpr int LABEL_SIZE = 12;
constexpr int AXIS_SIZE = 11;
constexpr int MIN_WIDTH = 480;
// An image or ending name longer than this is cut in the picture (its title keeps it whole).
constexpr std::size_t MOST_NAME_CHARACTERS = 64;

// The first characters of a text, whole UTF-8 sequences only, and "..." when it was cut.
std::string Shortened(const std::string& text, std::size_t most)
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && count++ == most) {
            return text.substr(0, at) + "...";
        }
    }
    return text;
}

std::string UtcHour(std::int64_t ms, bool withDate, bool withHour)
{
    using namespace std::chrono;
    const sys_time<milliseconds> time{milliseconds(ms)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const auto hour = duration_cast<hours>(time - day).count();
    char text[32];
    if (withDate && withHour) {
        std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:00", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<long long>(hour));
    } else if (withDate) {
        std::snprintf(text, sizeof text, "%02u-%02u", static_cast<unsigned>(date.month()),
                      static_cast<unsigned>(date.day()));
    } else {
        std::snprintf(text, sizeof text, "%02lld:00", static_cast<long long>(hour));
    }
    return text;
}

std::string Fraction(std::uint64_t part, std::uint64_t whole)
{
    return std::to_string(part) + "/" + std::to_string(whole);
}

ChartText Text(int x, int y, std::string text, int size, TextAnchor anchor, const char* name,
               bool bold = false)
{
    return ChartText{x, y, std::move(text), size, anchor, bold, INK, name};
}

// The background, the title and the image's name under it; the picture's height is set later.
ChartPicture Start(const char* id, const std::string& title, const HistoryChart& chart, int width)
{
    ChartPicture picture;
    picture.Id = id;
    picture.Title = title + ": " + chart.ImageName;
    const std::string image = Shortened(chart.ImageName, MOST_NAME_CHARACTERS);
    picture.Width =
        std::max({width, TextWidth(title, TITLE_SIZE) + 32, TextWidth(image, LABEL_SIZE) + 32});
    picture.Items.push_back(ChartRect{0, 0, picture.Width, 0, BACKGROUND, "chart-background"});
    picture.Items.push_back(Text(16, 26, title, TITLE_SIZE, TextAnchor::Start, "chart-title",
                                 true));
    picture.Items.push_back(Text(16, 44, image, LABEL_SIZE, TextAnchor::Start, "chart-image"));
    return picture;
}

void Finish(ChartPicture& picture, int height)
{
    picture.Height = height;
    std::get<ChartRect>(picture.Items.front()).Height = height;
}

}  // namespace

ChartPicture DrawYieldChart(const HistoryChart& chart, const ChartLabels& labels)
{
    constexpr int LEFT = 56;
    constexpr int TOP = 72;
    constexpr int PLOT_HEIGHT = 160;
    constexpr int BOTTOM = TOP + PLOT_HEIGHT;
    const std::size_t shown = std::min(chart.Hours.size(), CHART_MOST_HOURS);
    const std::vector<ChartHour> hours(chart.Hours.end() - static_cast<std::ptrdiff_t>(shown),
                                       chart.Hours.end());
    int slot = 48;
    for (const ChartHour& hour : hours) {
        slot = std::max(slot,
                        TextWidth(Fraction(hour.PassedFirstTime, hour.Devices), LABEL_SIZE) + 10);
    }
    ChartPicture picture = Start("tarvik-yield-chart", labels.YieldTitle, chart,
                                 std::max(MIN_WIDTH, LEFT + static_cast<int>(shown) * slot + 16));
    const int right = picture.Width - 16;
    if (hours.empty()) {
        picture.Description = labels.NoAttempts;
        picture.Items.push_back(Text(picture.Width / 2, TOP + 40, labels.NoAttempts, LABEL_SIZE,
                                     TextAnchor::Middle, "chart-empty"));
        Finish(picture, TOP + 72);
        return picture;
    }
    picture.Items.push_back(Text(LEFT, TOP - 10, labels.YieldAxis, AXIS_SIZE, TextAnchor::Start,
                                 "chart-axis-label"));
    for (int percent = 0; percent <= 100; percent += 25) {
        const int y = BOTTOM - PLOT_HEIGHT * percent / 100;
        picture.Items.push_back(ChartLine{LEFT, y, right, y, percent == 0 ? INK : GRID,
                                          percent == 0 ? "chart-axis" : "chart-grid"});
        picture.Items.push_back(Text(LEFT - 6, y + 4, std::to_string(percent) + "%", AXIS_SIZE,
                                     TextAnchor::End, "chart-tick"));
    }
    picture.Items.push_back(ChartLine{LEFT, TOP, LEFT, BOTTOM, INK, "chart-axis"});
    picture.Description = labels.YieldAxis + ":";
    std::string lastDate;
    for (std::size_t i = 0; i < hours.size(); ++i) {
        const ChartHour& hour = hours[i];
        const int x = LEFT + static_cast<int>(i) * slot + 5;
        const int height = hour.Devices == 0
                               ? 0
                               : static_cast<int>(static_cast<std::uint64_t>(PLOT_HEIGHT) *
                                                  std::min(hour.PassedFirstTime, hour.Devices) /
                                                  hour.Devices);
        const std::string fraction = Fraction(hour.PassedFirstTime, hour.Devices);
        if (height > 0) {
            picture.Items.push_back(ChartRect{x, BOTTOM - height, slot - 10, height, PASSED,
                                              "chart-bar chart-bar-passed"});
        }
        const int middle = x + (slot - 10) / 2;
        picture.Items.push_back(Text(middle, BOTTOM - height - 4, fraction, LABEL_SIZE,
                                     TextAnchor::Middle, "chart-value"));
        picture.Items.push_back(Text(middle, BOTTOM + 16, UtcHour(hour.HourMs, false, true),
                                     AXIS_SIZE, TextAnchor::Middle, "chart-tick"));
        const std::string date = UtcHour(hour.HourMs, true, false);
        if (date != lastDate) {
            picture.Items.push_back(Text(middle, BOTTOM + 30, date, AXIS_SIZE, TextAnchor::Middle,
                                         "chart-tick"));
            lastDate = date;
        }
        picture.Description += (i == 0 ? " " : "; ") + UtcHour(hour.HourMs, true, true) + " " +
                               fraction;
    }
    picture.Items.push_back(Text(LEFT, BOTTOM + 50, labels.HourAxis, AXIS_SIZE, TextAnchor::Start,
                                 "chart-axis-label"));
    int height = BOTTOM + 60;
    if (shown < chart.Hours.size()) {
        picture.Items.push_back(Text(LEFT, BOTTOM + 66,
                                     labels.EarlierHours + " " +
                                         std::to_string(chart.Hours.size() - shown),
                                     AXIS_SIZE, TextAnchor::Start, "chart-note"));
        height += 16;
    }
    Finish(picture, height);
    return picture;
}

namespace {

// At least minWidth wide: under the yield, as wide as it.
ChartPicture DrawEndings(const HistoryChart& chart, const ChartLabels& labels, int minWidth)
{
    constexpr int LEFT = 16;
    constexpr int TOP = 64;
    constexpr int ROW = 36;
    std::uint64_t most = 0;
    int names = 0;
    for (const ChartEnding& ending : chart.Endings) {
        most = std::max(most, ending.Attempts);
        names =
            std::max(names, TextWidth(Shortened(ending.Name, MOST_NAME_CHARACTERS), LABEL_SIZE));
    }
    ChartPicture picture = Start("tarvik-endings-chart", labels.EndingsTitle, chart,
                                 std::max({MIN_WIDTH, minWidth, names + 32}));
    if (chart.Endings.empty()) {
        picture.Description = labels.NoAttempts;
        picture.Items.push_back(Text(picture.Width / 2, TOP + 32, labels.NoAttempts, LABEL_SIZE,
                                     TextAnchor::Middle, "chart-empty"));
        Finish(picture, TOP + 64);
        return picture;
    }
    const int longest = picture.Width - LEFT - 16 - TextWidth(std::to_string(most), LABEL_SIZE) - 8;
    picture.Description = labels.AttemptsAxis + ":";
    int y = TOP;
    for (const ChartEnding& ending : chart.Endings) {
        picture.Items.push_back(Text(LEFT, y + 12, Shortened(ending.Name, MOST_NAME_CHARACTERS),
                                     LABEL_SIZE, TextAnchor::Start, "chart-name"));
        const int length = most == 0
                               ? 0
                               : std::max(ending.Attempts > 0 ? 1 : 0,
                                          static_cast<int>(static_cast<std::uint64_t>(longest) *
                                                           ending.Attempts / most));
        const bool passed = ending.ExitStatus == 0;
        if (length > 0) {
            picture.Items.push_back(ChartRect{
                LEFT, y + 17, length, 12, passed ? PASSED : FAILED,
                passed ? "chart-bar chart-bar-passed" : "chart-bar chart-bar-failed"});
        }
        picture.Items.push_back(Text(LEFT + length + 6, y + 28, std::to_string(ending.Attempts),
                                     LABEL_SIZE, TextAnchor::Start, "chart-value"));
        picture.Description += (y == TOP ? " " : "; ") + ending.Name + " " +
                               std::to_string(ending.Attempts);
        y += ROW;
    }
    picture.Items.push_back(ChartLine{LEFT, y + 2, picture.Width - 16, y + 2, INK, "chart-axis"});
    picture.Items.push_back(Text(LEFT, y + 18, labels.AttemptsAxis, AXIS_SIZE, TextAnchor::Start,
                                 "chart-axis-label"));
    Finish(picture, y + 28);
    return picture;
}

}  // namespace

ChartPicture DrawEndingsChart(const HistoryChart& chart, const ChartLabels& labels)
{
    return DrawEndings(chart, labels, 0);
}

ChartPicture DrawHistoryChart(const HistoryChart& chart, const ChartLabels& labels)
{
    ChartPicture yield = DrawYieldChart(chart, labels);
    const int width = yield.Width;
    return StackPictures(yield, DrawEndings(chart, labels, width), "tarvik-history-chart");
}

std::string YieldChartSvg(const HistoryChart& chart, const ChartLabels& labels)
{
    return PictureSvg(DrawYieldChart(chart, labels));
}

std::string EndingsChartSvg(const HistoryChart& chart, const ChartLabels& labels)
{
    return PictureSvg(DrawEndingsChart(chart, labels));
}

std::string HistoryChartSvg(const HistoryChart& chart, const ChartLabels& labels)
{
    return PictureSvg(DrawHistoryChart(chart, labels));
}

std::vector<std::uint8_t> HistoryChartPng(const HistoryChart& chart, const ChartLabels& labels)
{
    return PicturePng(DrawHistoryChart(chart, labels));
}

}  // namespace tarvik::panel
