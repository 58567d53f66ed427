#pragma once
// The factory's view of the shared database: every station that ever pushed and whether it is
// working, the first-pass yield by station, image and day, the failures by cause and the bays
// that fail most. Read in one read-only transaction and aggregated by the server. The index of
// the attempts by station and start gives the stations, each one's latest attempt and today's
// counts in a few lookups; the yields and the bays read the attempts of the days asked for
// with their details, whose join by record id reads the details table whole: on a large
// database that join is most of a reading's time.
//
// A first pass is a device's first attempt with an image that passed; a device is its station,
// bay and name. Only the attempts of the days read count: a device first tried before them
// counts from its first attempt among them.
//
// Credentials as for the push: the URL, libpq's environment and its password file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

struct FactoryViewOptions {
    std::int64_t NowMs = 0;  // the caller's clock, UTC milliseconds since the epoch
    std::uint32_t QuietAfterMinutes = 5;
    std::uint32_t OfflineAfterMinutes = 60;
    std::uint32_t Days = 7;  // the span of the yields, failures and bays, back from NowMs
};

enum class StationState {
    Live,     // heard of within QuietAfterMinutes
    Quiet,    // not since, but not yet offline
    Offline,  // said it stopped, or not heard of for OfflineAfterMinutes
};

// "live", "quiet", "offline".
const char* StationStateName(StationState state);

// A station's state at nowMs, last heard of at lastSeenMs, stoppedMs when it said it stopped.
// A time in the future (a station's clock ahead of the caller's) counts as now.
StationState StateOfStation(const FactoryViewOptions& options, std::int64_t lastSeenMs,
                            std::optional<std::int64_t> stoppedMs);

struct FactoryStation {
    std::string Station;
    StationState State = StationState::Offline;
    std::string ProgramVersion;  // its heartbeat's, else its latest record's
    std::string FileName;
    std::string Sha256;  // empty when unknown
    std::string Bays;    // "bay1,bay2"; empty without bays or when unknown
    // Whether it heartbeats (a station of a release before heartbeats is known only by its
    // records; its last sight is its latest record's end).
    bool Heartbeats = false;
    std::optional<std::int64_t> FirstSeenMs;
    std::int64_t LastSeenMs = 0;
    std::optional<std::int64_t> StoppedMs;
    std::uint64_t AttemptsToday = 0;  // since the UTC midnight before NowMs
    std::uint64_t PassedToday = 0;
};

// Devices tried for the first time with an image, and how many of those first tries passed.
struct FirstPassYield {
    std::uint64_t Devices = 0;
    std::uint64_t FirstPassed = 0;
    // FirstPassed / Devices, 0 without devices.
    double Yield() const
    {
        return Devices == 0 ? 0.0 : static_cast<double>(FirstPassed) / static_cast<double>(Devices);
    }
};

struct StationYield {
    std::string Station;
    FirstPassYield Yield;
};
struct ImageYield {
    std::string Sha256;    // empty for attempts whose image could not be read
    std::string FileName;  // one of the names it was loaded under
    FirstPassYield Yield;
};
struct DayYield {
    std::string Day;  // the UTC day of the first tries, "2026-03-01"
    FirstPassYield Yield;
};

struct FailureCause {
    std::int64_t ExitStatus = 0;
    std::string Result;
    std::uint64_t Count = 0;
    std::int64_t LastMs = 0;  // the latest such attempt's start
};

struct BayFailures {
    std::string Station;
    std::string Bay;  // empty for a station without bays
    std::uint64_t Attempts = 0;
    std::uint64_t Failures = 0;
    FirstPassYield Yield;
};

inline constexpr std::size_t FACTORY_WORST_BAYS = 10;

struct FactoryView {
    std::vector<FactoryStation> Stations;      // by name
    std::vector<StationYield> YieldByStation;  // by name
    std::vector<ImageYield> YieldByImage;      // most devices first
    std::vector<DayYield> YieldByDay;          // oldest first
    std::vector<FailureCause> Failures;        // most first
    std::vector<BayFailures> WorstBays;        // most failures first, FACTORY_WORST_BAYS at most
};

// Reads the view; nothing, with the reason in error, when the server cannot be read. A database
// nothing was pushed to gives an empty view.
std::optional<FactoryView> ReadFactoryView(const std::string& url,
                                           const FactoryViewOptions& options, std::string& error);

}  // namespace tarvik
