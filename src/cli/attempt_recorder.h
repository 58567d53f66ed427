#pragma once
// The record of every attempt of an upgrade command (upgrade, station): a line in --record's
// file and a record in the history, each with the attempt's start and end. An attempt is
// recorded as soon as its upgrade ended; with --read-back, one that finished is held until its
// read-back is over, so that its one record holds the descriptor after the reset as well (its
// end stays the moment the reset was acknowledged).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "cli/cli_options.h"
#include "cli/history_sink.h"
#include "cli/upgrade_record.h"
#include "commands/several_devices.h"
#include "platform/files/append_file.h"
#include "platform/files/file_system.h"

namespace tarvik::cli {

class AttemptRecorder {
public:
    // err and noteLock are stderr's, shared with the runs.
    AttemptRecorder(const CliOptions& options, std::ostream& err, std::mutex& noteLock,
                    UtcClock& utc);

    // Opens --record's file, when given, and the history; false (the failure said) when the
    // record cannot be opened. A history that cannot be kept is a warning, no failure.
    // interfaceName is the adapter's interface as the record names it ("eth0", "lab0").
    bool Open(const std::string& interfaceName, FileSystem& files, const ImageTrust& trust);

    bool HistoryKept() const { return history_ && history_->Keeps(); }
    const std::string& HistoryPath() const { return history_->Path(); }
    // The image's SHA-256 as the records carry it; empty when the image could not be read.
    std::string ImageSha256() const { return context_.Digest ? context_.Digest->Sha256 : ""; }
    // What the station's pushes say of it, but for the bays and the time: its name, release
    // and image as its records carry them.
    StationHeartbeat Heartbeat() const;
    // Whether each attempt is recorded, in --record's file or the history.
    bool Recording() const { return recorder_ != nullptr || HistoryKept(); }

    // When each attempt started, for its record line and its history record.
    void RunStarts(std::size_t attempt);
    // The attempt's upgrade ended: recorded now, unless a read-back is to follow.
    void RunEnds(std::size_t attempt, const DeviceRunReport& report, const std::string& recordId);
    // The attempt's read-back is over: the attempt recorded with what it read.
    void ReadBack(std::size_t attempt, const DeviceRunReport& report);

private:
    struct Times {
        std::int64_t Start = 0;
        std::int64_t End = 0;
        std::string RecordId;
    };

    void Write(const DeviceRunReport& report, const Times& times);

    const CliOptions& options_;
    std::ostream& err_;
    std::mutex& noteLock_;
    UtcClock& utc_;
    std::unique_ptr<UpgradeRecorder> recorder_;
    std::unique_ptr<HistorySink> history_;
    RecordContext context_;
    std::mutex lock_;
    std::map<std::size_t, Times>
        attempts_;  // forgotten as each is recorded: a station runs all day
};

}  // namespace tarvik::cli
