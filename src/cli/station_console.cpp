#include "cli/station_console.h"

#include <algorithm>
#include <limits>

#include "cli/device_board.h"
#include "cli/device_summary.h"
#include "image/descriptor.h"

namespace tarvik::cli {
namespace {

constexpr std::size_t NO_ATTEMPT = std::numeric_limits<std::size_t>::max();

std::string Seconds(std::uint32_t milliseconds)
{
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << milliseconds / 1000.0 << " s";
    return text.str();
}

}  // namespace

std::string FormatStationStatus(const StationTally& tally, std::uint32_t elapsedMs)
{
    std::string text = "passed " + std::to_string(tally.Passed) + ", failed " +
                       std::to_string(tally.Failed) + ", skipped " + std::to_string(tally.Skipped) +
                       ", in progress " + std::to_string(tally.InProgress) + ", ";
    if (elapsedMs < 60'000) {
        return text + "- devices/h";
    }
    const double perHour = static_cast<double>(tally.Passed) * 3'600'000.0 / elapsedMs;
    return text + std::to_string(static_cast<std::uint64_t>(perHour + 0.5)) + " devices/h";
}

struct StationConsole::Attempt {
    Attempt(StationConsole& console, std::size_t index, std::string device, std::string bay);

    std::string Device;  // as shown: its bay first
    std::string Name;    // the device's alone, for its bay's slot
    std::string RecordId;
    std::unique_ptr<AttemptPort> Port;
    std::unique_ptr<AttemptProgress> Progress;
    std::unique_ptr<EventProgress> Events;
    std::size_t Bay = 0;       // its index among the console's bays
    std::ostringstream Lines;  // the printer's plain lines, unused: the board draws the bar
    ProgressPrinter Printer;
    bool Running = true;
    bool Begun = false;  // the progress began: the bar shows, else the last words
    std::string LastWords = "checking the device";
    std::uint32_t Start = 0;
};

class StationConsole::AttemptPort final : public CommandPort {
public:
    AttemptPort(StationConsole& console, std::size_t index) : console_(console), index_(index) {}
    void ShowMessage(std::string_view text) override
    {
        std::lock_guard lock(console_.lock_);
        console_.attempts_[index_]->LastWords = text;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

private:
    StationConsole& console_;
    std::size_t index_;
};

class StationConsole::AttemptProgress final : public ProgressDisplay {
public:
    AttemptProgress(StationConsole& console, std::size_t index) : console_(console), index_(index)
    {
    }
    void BeginProgress(std::uint64_t bytesTotal) override
    {
        {
            std::lock_guard lock(console_.lock_);
            Attempt& attempt = *console_.attempts_[index_];
            attempt.Begun = true;
            attempt.Printer.BeginProgress(bytesTotal);
        }
        console_.Progressed(true);
    }
    void SetProgress(const ProgressReport& report) override
    {
        bool phaseStarts = false;
        {
            std::lock_guard lock(console_.lock_);
            ProgressPrinter& printer = console_.attempts_[index_]->Printer;
            phaseStarts = printer.Snapshot().Status != ProgressText(report.Phase);
            printer.SetProgress(report);
        }
        console_.Progressed(phaseStarts);
    }

private:
    StationConsole& console_;
    std::size_t index_;
};

StationConsole::Attempt::Attempt(StationConsole& console, std::size_t index, std::string device,
                                 std::string bay)
    : Device(BayAndDevice(bay, device)), Name(device), RecordId(RandomUuid()),
      Port(std::make_unique<AttemptPort>(console, index)),
      Progress(std::make_unique<AttemptProgress>(console, index)),
      Events(std::make_unique<EventProgress>(*Progress, console.events_, std::move(device),
                                             std::move(bay))),
      Printer(Lines, false, console.clock_), Start(console.clock_.GetTickCount())
{
}

StationConsole::StationConsole(std::ostream& err, bool terminal, Kernel& clock, std::size_t slots,
                               EventStream* events)
    : StationConsole(err, terminal, clock, StationBoardShape{slots, {}, false}, events)
{
}

StationConsole::StationConsole(std::ostream& err, bool terminal, Kernel& clock,
                               StationBoardShape shape, EventStream* events)
    : err_(err), terminal_(terminal), clock_(clock), events_(events), start_(clock.GetTickCount()),
      slots_(shape.Bays.empty() ? std::max<std::size_t>(shape.Slots, 1) : shape.Bays.size(),
             NO_ATTEMPT),
      bays_(std::move(shape.Bays)), countsByBay_(shape.CountsByBay && !bays_.empty()),
      bayTallies_(bays_.size() + 1)
{
}

StationConsole::~StationConsole() = default;

void StationConsole::Arrived(const std::string& device, const std::string& bay,
                             const ImageDescriptor& descriptor, bool cameBack)
{
    if (events_ != nullptr) {
        events_->Discovered(device, bay);
    }
    std::lock_guard lock(lock_);
    Line(BayAndDevice(bay, device),
         std::string(cameBack ? "back, board code " : "arrived, board code ") +
             FormatField(descriptor, DescriptorField::BoardCode));
}

void StationConsole::Skipped(const DeviceRunReport& report)
{
    if (events_ != nullptr) {
        events_->Ends(report, {});
    }
    {
        std::lock_guard lock(lock_);
        ++tally_.Skipped;
        ++bayTallies_[BayIndex(report.Bay)].Skipped;
        Line(BayAndDevice(report.Bay, report.DeviceName), "skipped: " + report.Result, true);
    }
    Progressed(true);
}

CommandPort& StationConsole::PortFor(std::size_t attempt)
{
    std::lock_guard lock(lock_);
    return *attempts_.at(attempt)->Port;
}

ProgressDisplay& StationConsole::ProgressFor(std::size_t attempt)
{
    std::lock_guard lock(lock_);
    return *attempts_.at(attempt)->Events;
}

void StationConsole::RunStarts(std::size_t attempt, const std::string& device,
                               const std::string& bay)
{
    std::string recordId;
    {
        std::lock_guard lock(lock_);
        auto& started = attempts_[attempt];
        started = std::make_unique<Attempt>(*this, attempt, device, bay);
        recordId = started->RecordId;
        started->Bay = BayIndex(bay);
        ++tally_.InProgress;
        ++bayTallies_[started->Bay].InProgress;
        if (const std::size_t chosen = SlotFor(bay); chosen != NO_ATTEMPT) {
            // An attempt that ended is kept while its slot shows it, no longer: a station
            // runs all day. One still running (a bay's other device) is let go as it ends.
            const std::size_t shown = slots_[chosen];
            if (shown != NO_ATTEMPT && !attempts_.at(shown)->Running) {
                attempts_.erase(shown);
            }
            slots_[chosen] = attempt;
        }
        Line(started->Device, "started");
    }
    if (events_ != nullptr) {
        events_->Started(device, recordId, bay);
    }
    if (onStart_) {
        onStart_(attempt, recordId);
    }
    Progressed(true);
}

void StationConsole::RunEnds(std::size_t attempt, const DeviceRunReport& report)
{
    std::string recordId;
    {
        std::lock_guard lock(lock_);
        Attempt& ended = *attempts_.at(attempt);
        ended.Running = false;
        ended.LastWords = report.Result + " (" + Seconds(clock_.GetTickCount() - ended.Start) + ")";
        recordId = ended.RecordId;
        const bool passed = report.Outcome == UpgradeOutcome::Finished && !report.Stopped;
        for (StationTally* const tally : {&tally_, &bayTallies_[ended.Bay]}) {
            --tally->InProgress;
            ++(passed ? tally->Passed : tally->Failed);
        }
        // A failure stays in sight on a terminal after its slot goes to the next device.
        Line(BayAndDevice(report.Bay, report.DeviceName), ended.LastWords, !passed);
        if (std::find(slots_.begin(), slots_.end(), attempt) == slots_.end()) {
            attempts_.erase(attempt);
        }
    }
    if (events_ != nullptr) {
        events_->Ends(report, recordId);
    }
    if (onEnd_) {
        onEnd_(attempt, report, recordId);
    }
    Progressed(true);
}

StationTally StationConsole::Tally()
{
    std::lock_guard lock(lock_);
    return tally_;
}

std::vector<StationTally> StationConsole::BayTallies()
{
    std::lock_guard lock(lock_);
    return {bayTallies_.begin(), bayTallies_.begin() + static_cast<std::ptrdiff_t>(bays_.size())};
}

std::size_t StationConsole::BayIndex(const std::string& bay) const
{
    return static_cast<std::size_t>(std::find(bays_.begin(), bays_.end(), bay) - bays_.begin());
}

std::size_t StationConsole::SlotFor(const std::string& bay) const
{
    if (!bays_.empty()) {
        const std::size_t index = BayIndex(bay);
        return index < slots_.size() ? index : NO_ATTEMPT;
    }
    // The slot of an attempt that ended, the one that ended first, or the first free one.
    std::size_t chosen = NO_ATTEMPT;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        const std::size_t shown = slots_[slot];
        if (shown == NO_ATTEMPT) {
            return slot;
        }
        if (!attempts_.at(shown)->Running && (chosen == NO_ATTEMPT || shown < slots_[chosen])) {
            chosen = slot;
        }
    }
    return chosen;
}

std::size_t StationConsole::BoardLines() const
{
    return slots_.size() + 1 + (countsByBay_ ? bays_.size() : 0);
}

void StationConsole::Line(const std::string& device, const std::string& text, bool onTerminal)
{
    if (!terminal_) {
        err_ << device << ": " << text << '\n' << std::flush;
        return;
    }
    if (!onTerminal) {
        return;
    }
    // Above the board, which the next redraw puts back beneath it.
    if (drawn_) {
        err_ << "\x1b[" << BoardLines() << 'A';
    }
    err_ << '\r' << device << ": " << text << "\x1b[J\n";
    if (drawn_) {
        drawn_ = false;
        Redraw();
    }
}

void StationConsole::Progressed(bool always)
{
    if (!terminal_) {
        return;
    }
    std::lock_guard lock(lock_);
    const std::uint32_t now = clock_.GetTickCount();
    if (always || !drawn_ || now - lastRedraw_ >= BOARD_REDRAW_MS) {
        lastRedraw_ = now;
        Redraw();
    }
}

void StationConsole::Redraw()
{
    if (drawn_) {
        err_ << "\x1b[" << BoardLines() << 'A';
    }
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        std::string line = "[" + (bays_.empty() ? std::to_string(slot + 1) : bays_[slot]) + "] ";
        if (slots_[slot] == NO_ATTEMPT) {
            line += "waiting for a device";
        } else {
            const Attempt& shown = *attempts_.at(slots_[slot]);
            const std::string rest = shown.Running ? FormatBarLine(shown.Printer.Snapshot(), 20)
                                                   : shown.LastWords;
            line += FormatBoardLine(bays_.empty() ? shown.Device : shown.Name, rest);
        }
        err_ << '\r' << line << "\x1b[K\n";
    }
    const std::uint32_t elapsed = clock_.GetTickCount() - start_;
    err_ << '\r' << FormatStationStatus(tally_, elapsed) << "\x1b[K\n";
    if (countsByBay_) {
        for (std::size_t bay = 0; bay < bays_.size(); ++bay) {
            err_ << '\r' << bays_[bay] << ": " << FormatStationStatus(bayTallies_[bay], elapsed)
                 << "\x1b[K\n";
        }
    }
    err_ << std::flush;
    drawn_ = true;
}

void StationConsole::Finish()
{
    std::lock_guard lock(lock_);
    if (terminal_) {
        Redraw();
    }
}

}  // namespace tarvik::cli
