#pragma once
// What tarvik-cli station shows on stderr. On a terminal a board redrawn in place: one slot per
// job (the device, its phase and bar while it runs, its result and time once it ended) and a
// status line (passed, failed, skipped, in progress, devices per hour), with skips and failures
// printed above it as they happen. Off a terminal one line per event: a device arrived, was
// skipped, started, ended. Each attempt's progress also
// goes to the event stream, if any; the hooks let the command record each attempt.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/event_stream.h"
#include "cli/progress_printer.h"
#include "commands/station.h"
#include "platform/kernel/kernel.h"

namespace tarvik::cli {

// The counts the status line and the closing summary show.
struct StationTally {
    std::size_t Passed = 0;
    std::size_t Failed = 0;
    std::size_t Skipped = 0;
    std::size_t InProgress = 0;
};

// "passed 3, failed 1, skipped 1, in progress 2, 41 devices/h" (passed devices per hour of the
// station's time so far; "-" before a minute has gone by).
std::string FormatStationStatus(const StationTally& tally, std::uint32_t elapsedMs);

// The board's shape: with bays, a slot per bay (the bay's latest attempt in it); without, a
// slot per job. countsByBay adds a status line per bay under the station's.
struct StationBoardShape {
    std::size_t Slots = 1;
    std::vector<std::string> Bays;
    bool CountsByBay = false;
};

class StationConsole final : public DeviceRunWatcher {
public:
    using StartsHook = std::function<void(std::size_t attempt, const std::string& recordId)>;
    using EndsHook = std::function<void(std::size_t attempt, const DeviceRunReport& report,
                                        const std::string& recordId)>;
    using ReadBackHook = std::function<void(std::size_t attempt, const DeviceRunReport& report)>;

    // slots: the jobs, one board line each. events may be null.
    StationConsole(std::ostream& err, bool terminal, Kernel& clock, std::size_t slots,
                   EventStream* events);
    StationConsole(std::ostream& err, bool terminal, Kernel& clock, StationBoardShape shape,
                   EventStream* events);
    ~StationConsole() override;

    void OnRunStarts(StartsHook hook) { onStart_ = std::move(hook); }
    void OnRunEnds(EndsHook hook) { onEnd_ = std::move(hook); }
    void OnReadBack(ReadBackHook hook) { onReadBack_ = std::move(hook); }

    void Arrived(const std::string& device, const std::string& bay,
                 const ImageDescriptor& descriptor, bool cameBack) override;
    void Skipped(const DeviceRunReport& report) override;
    CommandPort& PortFor(std::size_t attempt) override;
    ProgressDisplay& ProgressFor(std::size_t attempt) override;
    void RunStarts(std::size_t attempt, const std::string& device, const std::string& bay) override;
    void RunEnds(std::size_t attempt, const DeviceRunReport& report) override;
    // The read-back shows nothing: it only adds to the attempt's record.
    void ReadBack(std::size_t attempt, const DeviceRunReport& report) override
    {
        if (onReadBack_) {
            onReadBack_(attempt, report);
        }
    }

    StationTally Tally();
    // Each bay's counts, in the order of the bays given.
    std::vector<StationTally> BayTallies();
    // The last redraw, so that what follows starts below the board.
    void Finish();

private:
    struct Attempt;
    class AttemptPort;
    class AttemptProgress;

    // A line of its own off a terminal; on a terminal above the board, when onTerminal.
    void Line(const std::string& device, const std::string& text, bool onTerminal = false);
    void Progressed(bool always);
    void Redraw();
    std::size_t BoardLines() const;
    std::size_t BayIndex(const std::string& bay) const;  // Bays.size() for none
    // The slot an attempt of the bay takes: its bay's, or the job slot free first.
    std::size_t SlotFor(const std::string& bay) const;

    std::ostream& err_;
    const bool terminal_;
    Kernel& clock_;
    EventStream* const events_;
    const std::uint32_t start_;
    std::mutex lock_;
    std::map<std::size_t, std::unique_ptr<Attempt>> attempts_;
    std::vector<std::size_t> slots_;  // the attempt each slot shows, or SIZE_MAX for none
    const std::vector<std::string> bays_;
    const bool countsByBay_;
    StationTally tally_;
    std::vector<StationTally> bayTallies_;
    bool drawn_ = false;
    std::uint32_t lastRedraw_ = 0;
    StartsHook onStart_;
    EndsHook onEnd_;
    ReadBackHook onReadBack_;
};

}  // namespace tarvik::cli
