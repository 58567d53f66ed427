#include "cli/history_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/files/append_file.h"
#include "platform/formats/hex_text.h"
#include "platform/formats/utf8_text.h"

namespace tarvik::cli {
namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value)
{
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "00:42", "61:05": minutes and seconds, as the summary table shows an upgrade's time; "-" for
// none, or for an end before the start (a damaged record).
std::string MinutesSeconds(std::optional<std::int64_t> elapsed)
{
    if (!elapsed || *elapsed < 0) {
        return "-";
    }
    const std::int64_t seconds = *elapsed / 1000 + (*elapsed % 1000 >= 500 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

// "2026-12-08 10:37:05": the start, to the second, for a person.
std::string StartText(std::int64_t milliseconds)
{
    std::string text = FormatUtcTime(milliseconds).substr(0, 19);
    text[10] = ' ';
    return text;
}

// The image as the tables name it: its file's name and the first digits of its digest.
// Where the last folder's name ends: at a slash, or a backslash (a Windows path) that does not
// begin a byte the record escaped ("fw-\xE9.bin").
std::size_t BaseNameStart(std::string_view path)
{
    for (std::size_t at = path.size(); at-- > 0;) {
        const bool escape = path[at] == '\\' && at + 3 < path.size() && path[at + 1] == 'x' &&
                            HexDigitValue(path[at + 2]) >= 0 && HexDigitValue(path[at + 3]) >= 0;
        if (path[at] == '/' || (path[at] == '\\' && !escape)) {
            return at + 1;
        }
    }
    return 0;
}

}  // namespace

std::string ImageText(const std::string& fileName, const std::optional<std::string>& sha256)
{
    std::string text = fileName.substr(BaseNameStart(fileName));
    if (sha256) {
        text += " " + sha256->substr(0, 8);
    }
    return PrintableText(text);
}

namespace {

// What a history holds is any text: a newline in a station's name would start a row of its
// own, an escape sequence would restyle the terminal.
struct RowTexts {
    std::string Device;
    std::string Station;
    std::string Operator;
    std::string Image;
    std::string Result;
};

RowTexts TextsOf(const HistoryRecord& record)
{
    return {PrintableText(record.DeviceName), PrintableText(record.Station),
            PrintableText(record.Operator), ImageText(record.FileName, record.Sha256),
            PrintableText(record.Result)};
}

// The middle of two times without overflow, whatever their sizes.
std::int64_t Middle(std::int64_t a, std::int64_t b)
{
    return a / 2 + b / 2 + (a % 2 + b % 2) / 2;
}

std::string Cell(std::string text, std::size_t width)
{
    if (text.size() < width) {
        text.resize(width, ' ');
    }
    return text + "  ";
}

std::string RightCell(const std::string& text, std::size_t width)
{
    return (text.size() < width ? std::string(width - text.size(), ' ') + text : text) + "  ";
}

double FirstPassYield(const HistoryStats& stats)
{
    return stats.Devices == 0
               ? 0.0
               : static_cast<double>(stats.PassedFirstTime) / static_cast<double>(stats.Devices);
}

}  // namespace

std::optional<std::int64_t> ParseUtcTime(std::string_view text, bool endOfDay)
{
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        text.remove_suffix(1);
    }
    int year = 0;
    int month = 0;
    int day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day)) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) {
        return std::nullopt;
    }
    const std::int64_t dayMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::sys_days(date).time_since_epoch())
                                   .count();
    if (text.size() == 10) {
        return endOfDay ? dayMs + 86'400'000 : dayMs;
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    if ((text[10] != 'T' && text[10] != 't' && text[10] != ' ') || !Digits(text, 11, 2, hour) ||
        text.size() < 16 || text[13] != ':' || !Digits(text, 14, 2, minute) || hour > 23 ||
        minute > 59) {
        return std::nullopt;
    }
    if (text.size() != 16 &&
        (text.size() != 19 || text[16] != ':' || !Digits(text, 17, 2, second) || second > 59)) {
        return std::nullopt;
    }
    return dayMs + ((hour * 60 + minute) * 60 + second) * std::int64_t{1000};
}

bool IsSha256(std::string_view text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

std::string HistoryTable(const std::vector<HistoryRecord>& records)
{
    std::size_t station = 7;
    std::size_t operatorWidth = 8;
    std::size_t image = 5;
    std::vector<RowTexts> texts;
    texts.reserve(records.size());
    for (const HistoryRecord& record : records) {
        texts.push_back(TextsOf(record));
        station = std::max(station, texts.back().Station.size());
        operatorWidth = std::max(operatorWidth, texts.back().Operator.size());
        image = std::max(image, texts.back().Image.size());
    }
    std::ostringstream table;
    table << Cell("START (UTC)", 19) << Cell("DEVICE", 12) << "STATUS  ELAPSED  "
          << Cell("STATION", station) << Cell("OPERATOR", operatorWidth) << Cell("IMAGE", image)
          << "RESULT\n";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const HistoryRecord& record = records[i];
        const RowTexts& text = texts[i];
        table << Cell(StartText(record.StartMs), 19) << Cell(text.Device, 12)
              << RightCell(std::to_string(record.ExitStatus), 6)
              << RightCell(MinutesSeconds(record.ElapsedMs()), 7) << Cell(text.Station, station)
              << Cell(text.Operator, operatorWidth) << Cell(text.Image, image) << text.Result
              << '\n';
    }
    return table.str();
}

std::vector<HistoryStats> ComputeStats(const std::vector<HistoryRecord>& records, bool byBay)
{
    struct Group {
        HistoryStats Stats;
        std::int64_t LastUsedMs = 0;
        std::vector<std::int64_t> PassedTimes;
        // Each device's first attempt: its start, and whether it passed. A device is its bay
        // and its name: the same name in two bays is two devices.
        std::map<std::pair<std::string, std::string>, std::pair<std::int64_t, bool>>
            FirstAttempts;
    };
    std::map<std::tuple<std::string, std::string, std::optional<std::string>>, Group> groups;
    for (const HistoryRecord& record : records) {
        const std::optional<std::string> bay = byBay ? record.Bay : std::nullopt;
        Group& group = groups[{record.Sha256.value_or(""), record.Station, bay}];
        HistoryStats& stats = group.Stats;
        if (stats.Attempts == 0 || record.StartMs >= group.LastUsedMs) {
            stats.FileName = record.FileName;
            group.LastUsedMs = record.StartMs;
        }
        stats.Sha256 = record.Sha256.value_or("");
        stats.Station = record.Station;
        stats.Bay = bay;
        ++stats.Attempts;
        if (record.Passed()) {
            ++stats.Passed;
            if (const std::optional<std::int64_t> elapsed = record.ElapsedMs()) {
                group.PassedTimes.push_back(*elapsed);
            }
        } else {
            ++stats.Failed;
        }
        const auto [first, isNew] =
            group.FirstAttempts.try_emplace({record.Bay.value_or(""), record.DeviceName},
                                            record.StartMs, record.Passed());
        if (!isNew && record.StartMs < first->second.first) {
            first->second = {record.StartMs, record.Passed()};
        }
    }
    std::vector<HistoryStats> result;
    for (auto& [key, group] : groups) {
        HistoryStats& stats = group.Stats;
        stats.Devices = group.FirstAttempts.size();
        for (const auto& [device, first] : group.FirstAttempts) {
            stats.PassedFirstTime += first.second ? 1 : 0;
        }
        std::vector<std::int64_t>& times = group.PassedTimes;
        if (!times.empty()) {
            std::sort(times.begin(), times.end());
            const std::size_t middle = times.size() / 2;
            stats.MedianMs = times.size() % 2 == 1 ? times[middle]
                                                   : Middle(times[middle - 1], times[middle]);
        }
        result.push_back(std::move(stats));
    }
    return result;
}

std::string StatsTable(const std::vector<HistoryStats>& stats, bool byBay)
{
    std::size_t image = 5;
    std::size_t station = 7;
    std::size_t bay = 3;
    for (const HistoryStats& row : stats) {
        image = std::max(image, ImageText(row.FileName, row.Sha256).size());
        station = std::max(station, PrintableText(row.Station).size());
        bay = std::max(bay, PrintableText(row.Bay.value_or("-")).size());
    }
    std::ostringstream table;
    table << Cell("IMAGE", image) << Cell("STATION", station) << (byBay ? Cell("BAY", bay) : "")
          << "ATTEMPTS  PASSED  FAILED  FIRST-PASS YIELD  MEDIAN TIME\n";
    for (const HistoryStats& row : stats) {
        char yield[32];
        std::snprintf(yield, sizeof yield, "%.1f %% of %llu", 100.0 * FirstPassYield(row),
                      static_cast<unsigned long long>(row.Devices));
        table << Cell(ImageText(row.FileName, row.Sha256.empty()
                                                  ? std::nullopt
                                                  : std::optional<std::string>(row.Sha256)),
                      image)
              << Cell(PrintableText(row.Station), station)
              << (byBay ? Cell(PrintableText(row.Bay.value_or("-")), bay) : "")
              << RightCell(std::to_string(row.Attempts), 8)
              << RightCell(std::to_string(row.Passed), 6)
              << RightCell(std::to_string(row.Failed), 6) << RightCell(yield, 16)
              << RightCell(MinutesSeconds(row.MedianMs), 11) << '\n';
    }
    std::string text = table.str();
    // The last cell's padding.
    std::string trimmed;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        trimmed += line + '\n';
    }
    return trimmed;
}

Json StatsJson(const HistoryStats& stats, bool byBay)
{
    Json row{
        {"FileName", JsonText(stats.FileName)},
        {"Sha256", stats.Sha256.empty() ? Json(nullptr) : JsonText(stats.Sha256)},
        {"Station", JsonText(stats.Station)},
        {"Attempts", stats.Attempts},
        {"Passed", stats.Passed},
        {"Failed", stats.Failed},
        {"Devices", stats.Devices},
        {"PassedFirstTime", stats.PassedFirstTime},
        {"FirstPassYield", stats.Devices == 0 ? Json(nullptr) : Json(FirstPassYield(stats))},
        {"MedianMs", stats.MedianMs ? Json(*stats.MedianMs) : Json(nullptr)}};
    if (byBay) {
        row["Bay"] = stats.Bay ? JsonText(*stats.Bay) : Json(nullptr);
    }
    return row;
}

}  // namespace tarvik::cli
