#pragma once
// Counts over one image's attempts for the charts, made by SQLite inside the file: a history of
// years is tallied without its records ever being held in memory. Reading changes nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

class HistoryStore;

// Which attempts are counted: one image's (its SHA-256, lower-case hex), started in the window,
// on one station when named.
struct TallyScope {
    std::string Sha256;
    std::optional<std::int64_t> SinceMs;  // start at or after
    std::optional<std::int64_t> UntilMs;  // start before
    std::string Station;                  // empty: every station
};

// The devices whose first attempt with the image started in one hour (UTC). A device is its bay
// and its name: the same name in two bays is two devices. Its first attempt is its earliest,
// the one written first when two started in the same millisecond.
struct HourYield {
    std::int64_t HourMs = 0;  // the hour's start, milliseconds since the epoch
    std::uint64_t Devices = 0;
    std::uint64_t PassedFirstTime = 0;  // of those, the devices whose first attempt passed

    friend bool operator==(const HourYield&, const HourYield&) = default;
};

// Every attempt that ended with one exit status.
struct EndingTally {
    std::int64_t ExitStatus = 0;
    std::uint64_t Attempts = 0;
    std::string Result;  // the newest of them's result text
};

struct ImageTallies {
    std::string FileName;              // the image's file name in its newest attempt
    std::vector<HourYield> Hours;      // the hours that have a first attempt, oldest first
    std::vector<EndingTally> Endings;  // by exit status, lowest first
};

// Nothing, with the reason in error, when the file cannot be read.
std::optional<ImageTallies> TallyImage(HistoryStore& store, const TallyScope& scope,
                                       std::string& error);

struct NewestImage {
    std::string Sha256;
    std::string FileName;
};

// The image of the newest attempt that has one (on that station, when named); nothing when no
// attempt has, or (with the reason in error) when the file cannot be read.
std::optional<NewestImage> FindNewestImage(HistoryStore& store, const std::string& station,
                                           std::string& error);

}  // namespace tarvik
