#pragma once
// Every upgrade attempt of a command (upgrade, station), added to the station's history as it
// ends. A history that cannot be opened or written costs one warning on stderr and nothing
// else: the upgrades go on, their statuses unchanged.

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "cli/history_options.h"
#include "cli/upgrade_record.h"
#include "history/history_record.h"
#include "history/station_heartbeat.h"
#include "platform/files/append_file.h"

namespace tarvik::cli {

// Where attempts go: the SQLite history, or nothing in a build without one.
class AttemptLog {
public:
    virtual ~AttemptLog() = default;
    // One record, whole or not at all; false with the reason.
    virtual bool Add(const HistoryRecord& record, std::string& error) = 0;
};

// Pushes the history to a shared database while a station works; see BackgroundPusher.
class AttemptPusher {
public:
    virtual ~AttemptPusher() = default;
    // A record was added: push it soon. Returns at once.
    virtual void Wake() = 0;
};

// Starts pushing the history at path to the PostgreSQL database at url, now, after each
// Wake() and at least every minute, retrying with back-off on a thread of its own until
// destroyed; each push carries the station's heartbeat, timed by utc, and the last one says it
// stopped. Null with the reason in a build without a history.
std::unique_ptr<AttemptPusher> StartBackgroundPush(const std::string& path, const std::string& url,
                                                   const StationHeartbeat& heartbeat, UtcClock& utc,
                                                   std::string& error);

// The history file --history names, or the default one; empty when none is to be kept (none,
// or a build without a history and no file named).
std::string HistoryPath(const HistoryOptions& options);

// Opens the history at path, making its folders; null with the reason. A build without a
// history says so.
std::unique_ptr<AttemptLog> OpenAttemptLog(const std::string& path, std::string& error);

class HistorySink {
public:
    // Opens the history the options name; err and its lock are stderr's, shared with the runs.
    HistorySink(const HistoryOptions& options, std::ostream& err, std::mutex& errLock);
    // A sink over a log of the caller's (tests, benchmarks).
    HistorySink(std::unique_ptr<AttemptLog> log, const HistoryOptions& options, std::ostream& err,
                std::mutex& errLock);

    // Whether attempts are kept.
    bool Keeps() const { return log_ != nullptr; }
    const std::string& Path() const { return path_; }
    // The station's name as its records carry it.
    const std::string& Station() const { return station_; }

    // Adds one attempt; from any run's thread.
    void Add(const RecordContext& context, const DeviceRunReport& report, std::int64_t startMs,
             std::int64_t endMs, const std::string& recordId);

private:
    void Warn(const std::string& line);

    std::string path_;
    std::unique_ptr<AttemptLog> log_;
    std::string station_;
    std::string operator_;
    std::ostream& err_;
    std::mutex& errLock_;
    std::mutex lock_;  // one record at a time on the one connection
    bool warned_ = false;
};

}  // namespace tarvik::cli
