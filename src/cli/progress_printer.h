#pragma once
// The progress display of the command line, on stderr: on a terminal one line redrawn in
// place (phase, bar, percent, bytes, rate, elapsed and time left); otherwise plain lines, one
// per phase and one per ten percent, so that a log file stays readable.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/kernel/kernel.h"
#include "protocol/progress.h"

namespace tarvik::cli {

// What one line shows.
struct ProgressSnapshot {
    std::string_view Status;
    int Position = 0;         // the bar, 0..100
    int Number = 0;           // the percent text's number
    bool HasPercent = false;  // the percent text is empty until the first SetPercent
    std::uint64_t BytesDone = 0;
    std::uint64_t BytesTotal = 0;
    double Fraction = 0;  // of the whole job: writing and verifying, 0..1
    std::uint32_t ElapsedMs = 0;
};

// "mm:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(std::uint64_t seconds);
// Bytes per second in B/s, KiB/s or MiB/s with one decimal.
std::string FormatRate(double bytesPerSecond);
// The redrawn line, without the carriage return: phase, bar, percent, bytes, rate, elapsed
// and time left ("--:--" until something is known).
std::string FormatBarLine(const ProgressSnapshot& snapshot, int barWidth = 24);
// A plain line for a log.
std::string FormatPlainLine(const ProgressSnapshot& snapshot);

class ProgressPrinter final : public ProgressDisplay {
public:
    // clock gives the elapsed time.
    ProgressPrinter(std::ostream& out, bool terminal, Kernel& clock);

    void BeginProgress(std::uint64_t bytesTotal) override;
    void SetProgress(const ProgressReport& report) override;

    // Ends the redrawn line, if one is on show.
    void Finish();

    // What the line shows now.
    ProgressSnapshot Snapshot() const;

private:
    void Redraw();
    void PrintLine(const ProgressSnapshot& snapshot);

    std::ostream& out_;
    bool terminal_;
    Kernel& clock_;

    bool begun_ = false;
    bool lineOpen_ = false;
    std::uint32_t startTick_ = 0;
    std::optional<ProgressPhase> phase_;  // none until the first report
    std::string status_;
    int position_ = 0;
    int number_ = 0;
    bool hasPercent_ = false;
    std::uint64_t bytesDone_ = 0;
    std::uint64_t bytesTotal_ = 0;

    // Plain lines: the last tenth printed within the phase.
    int printedTenth_ = 0;
};

}  // namespace tarvik::cli
