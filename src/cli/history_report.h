#pragma once
// What `tarvik-cli history` prints, from the records a filter found: the list, newest first, and
// the statistics per image and station. Plain text and JSON; nothing here reads the database.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/json_output.h"
#include "history/history_record.h"

namespace tarvik::cli {

// The forms --since and --until take; all are UTC.
inline constexpr std::string_view TIME_FORMS =
    "YYYY-MM-DD, YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS (UTC; a space for the T and a "
    "trailing Z are taken too)";

// Milliseconds since the epoch; nothing for text in none of TIME_FORMS. A date alone is the
// start of that day, or with endOfDay the start of the next (so that --until DATE takes in
// the whole day).
std::optional<std::int64_t> ParseUtcTime(std::string_view text, bool endOfDay = false);

// Whether text is a SHA-256 in hex (64 digits, either case).
bool IsSha256(std::string_view text);

// The image as the tables and charts name it: its file's name (without its folders) and the
// first digits of its digest, control characters written as \xHH.
std::string ImageText(const std::string& fileName, const std::optional<std::string>& sha256);

// One line per record under a heading: start, device, exit status, elapsed time, station,
// operator, image, result.
std::string HistoryTable(const std::vector<HistoryRecord>& records);

// One image on one station.
struct HistoryStats {
    std::string FileName;  // the image's file name as last used
    std::string Sha256;    // empty when the image could not be read
    std::string Station;
    std::optional<std::string> Bay;  // grouped by bay: the bay (nothing: attempts without one)
    std::uint64_t Attempts = 0;
    std::uint64_t Passed = 0;
    std::uint64_t Failed = 0;
    // First-pass yield: of the devices that got this image on this station, the share whose
    // first attempt passed.
    std::uint64_t Devices = 0;
    std::uint64_t PassedFirstTime = 0;
    std::optional<std::int64_t> MedianMs;  // of the attempts that passed, start to end
};

// Grouped by image (its SHA-256) and station (and bay, byBay), in order of image, station, bay.
std::vector<HistoryStats> ComputeStats(const std::vector<HistoryRecord>& records,
                                       bool byBay = false);
std::string StatsTable(const std::vector<HistoryStats>& stats, bool byBay = false);
Json StatsJson(const HistoryStats& stats, bool byBay = false);

}  // namespace tarvik::cli
