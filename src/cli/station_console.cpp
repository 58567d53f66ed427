#include "cli/station_console.h"

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

    std::string Device;  // as shown
    std::string RecordId;
    std::unique_ptr<AttemptPort> Port;
    std::unique_ptr<AttemptProgress> Progress;
    std::unique_ptr<EventProgress> Events;
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
    : Device(BayAndDevice(bay, device)), RecordId(RandomUuid()),
      Port(std::make_unique<AttemptPort>(console, index)),
      Progress(std::make_unique<AttemptProgress>(console, index)),
      Events(std::make_unique<EventProgress>(*Progress, console.events_, std::move(device),
                                             std::move(bay))),
      Printer(Lines, false, console.clock_), Start(console.clock_.GetTickCount())
{
}

StationConsole::StationConsole(std::ostream& err, bool terminal, Kernel& clock, std::size_t slots,
                               EventStream* events)
    : err_(err), terminal_(terminal), clock_(clock), events_(events), start_(clock.GetTickCount()),
      slots_(std::max<std::size_t>(slots, 1), NO_ATTEMPT)
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
    Line(BayAndDevice(bay, device), std::string(cameBack ? "back, board code " : "arrived, board code ") +
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
        ++tally_.InProgress;
        // The slot of an attempt that ended, the one that ended first, or the first free one.
        std::size_t chosen = NO_ATTEMPT;
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            const std::size_t shown = slots_[slot];
            if (shown == NO_ATTEMPT) {
                chosen = slot;
                break;
            }
            if (!attempts_[shown]->Running && (chosen == NO_ATTEMPT || shown < slots_[chosen])) {
                chosen = slot;
            }
        }
        if (chosen != NO_ATTEMPT) {
            // An attempt that ended is kept while its slot shows it, no longer: a station
            // runs all day.
            if (slots_[chosen] != NO_ATTEMPT) {
                attempts_.erase(slots_[chosen]);
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
        --tally_.InProgress;
        const bool passed = report.Outcome == UpgradeOutcome::Finished && !report.Stopped;
        ++(passed ? tally_.Passed : tally_.Failed);
        // A failure stays in sight on a terminal after its slot goes to the next device.
        Line(BayAndDevice(report.Bay, report.DeviceName), ended.LastWords, !passed);
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
        err_ << "\x1b[" << slots_.size() + 1 << 'A';
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
        err_ << "\x1b[" << slots_.size() + 1 << 'A';
    }
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        std::string line = "[" + std::to_string(slot + 1) + "] ";
        if (slots_[slot] == NO_ATTEMPT) {
            line += "waiting for a device";
        } else {
            const Attempt& shown = *attempts_.at(slots_[slot]);
            const std::string rest = shown.Running ? FormatBarLine(shown.Printer.Snapshot(), 20)
                                                   : shown.LastWords;
            line += FormatBoardLine(shown.Device, rest);
        }
        err_ << '\r' << line << "\x1b[K\n";
    }
    err_ << '\r' << FormatStationStatus(tally_, clock_.GetTickCount() - start_) << "\x1b[K\n"
         << std::flush;
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
