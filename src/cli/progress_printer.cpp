#include "cli/progress_printer.h"

#include <algorithm>
#include <cstdio>

namespace tarvik::cli {

std::string FormatDuration(std::uint64_t seconds)
{
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u",
                      static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned>(seconds / 60 % 60),
                      static_cast<unsigned>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    }
    return text;
}

std::string FormatRate(double bytesPerSecond)
{
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    } else if (bytesPerSecond >= 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    }
    return text;
}

namespace {

std::string PercentText(const ProgressSnapshot& snapshot)
{
    if (!snapshot.HasPercent) {
        return "";
    }
    return std::to_string(snapshot.Number) + " %";
}

// Bytes moved per second over the whole job (each byte is sent twice: written, verified).
double Rate(const ProgressSnapshot& snapshot)
{
    if (snapshot.ElapsedMs == 0) {
        return 0;
    }
    const double moved = snapshot.Fraction * 2.0 * static_cast<double>(snapshot.BytesTotal);
    return moved * 1000.0 / snapshot.ElapsedMs;
}

std::string TimeLeft(const ProgressSnapshot& snapshot)
{
    if (snapshot.Fraction <= 0 || snapshot.ElapsedMs == 0) {
        return "--:--";
    }
    const double left = snapshot.ElapsedMs / 1000.0 * (1.0 - snapshot.Fraction) / snapshot.Fraction;
    return FormatDuration(static_cast<std::uint64_t>(left + 0.5));
}

}  // namespace

std::string FormatBarLine(const ProgressSnapshot& snapshot, int barWidth)
{
    const int position = std::clamp(snapshot.Position, 0, 100);
    const int filled = position * barWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(barWidth - filled), '.');

    char text[256];
    std::snprintf(text, sizeof text, "%-18.*s [%s] %5s  %llu/%llu B  %s  %s elapsed  %s left",
                  static_cast<int>(snapshot.Status.size()), snapshot.Status.data(), bar.c_str(),
                  PercentText(snapshot).c_str(),
                  static_cast<unsigned long long>(snapshot.BytesDone),
                  static_cast<unsigned long long>(snapshot.BytesTotal),
                  FormatRate(Rate(snapshot)).c_str(),
                  FormatDuration(snapshot.ElapsedMs / 1000).c_str(), TimeLeft(snapshot).c_str());
    return text;
}

std::string FormatPlainLine(const ProgressSnapshot& snapshot)
{
    std::string line(snapshot.Status);
    if (snapshot.HasPercent) {
        line += " " + PercentText(snapshot);
    }
    char text[128];
    std::snprintf(text, sizeof text, " (%llu/%llu bytes, %s elapsed)",
                  static_cast<unsigned long long>(snapshot.BytesDone),
                  static_cast<unsigned long long>(snapshot.BytesTotal),
                  FormatDuration(snapshot.ElapsedMs / 1000).c_str());
    return line + text;
}

ProgressPrinter::ProgressPrinter(std::ostream& out, bool terminal, Kernel& clock)
    : out_(out), terminal_(terminal), clock_(clock)
{
}

void ProgressPrinter::BeginProgress(std::uint64_t bytesTotal)
{
    begun_ = true;
    startTick_ = clock_.GetTickCount();
    phase_.reset();
    status_.clear();
    position_ = 0;
    number_ = 0;
    hasPercent_ = false;
    bytesDone_ = 0;
    bytesTotal_ = bytesTotal;
    printedTenth_ = 0;
    if (terminal_) {
        Redraw();
    }
}

void ProgressPrinter::SetProgress(const ProgressReport& report)
{
    const bool phaseStarts = phase_ != report.Phase;
    phase_ = report.Phase;
    if (report.Text) {
        status_ = *report.Text;
    }
    if (report.Percent) {
        position_ = report.Percent->Position;
        number_ = report.Percent->Number;
        hasPercent_ = true;
    }
    bytesDone_ = report.BytesDone;
    bytesTotal_ = report.BytesTotal;
    if (terminal_) {
        Redraw();
        return;
    }
    // A phase's first step prints the phase's line alone, without its percent.
    if (phaseStarts) {
        printedTenth_ = 0;
        ProgressSnapshot phase = Snapshot();
        phase.HasPercent = false;
        PrintLine(phase);
        return;
    }
    if (report.Percent && number_ / 10 > printedTenth_) {
        printedTenth_ = number_ / 10;
        PrintLine(Snapshot());
    }
}

void ProgressPrinter::Finish()
{
    if (lineOpen_) {
        out_ << '\n' << std::flush;
        lineOpen_ = false;
    }
}

ProgressSnapshot ProgressPrinter::Snapshot() const
{
    ProgressSnapshot snapshot;
    snapshot.Status = status_;
    snapshot.Position = position_;
    snapshot.Number = number_;
    snapshot.HasPercent = hasPercent_;
    snapshot.BytesTotal = bytesTotal_;
    snapshot.BytesDone = std::min(bytesDone_, bytesTotal_);
    snapshot.ElapsedMs = begun_ ? clock_.GetTickCount() - startTick_ : 0;
    if (phase_ && bytesTotal_ > 0) {
        // Writing is the first half of the job, verifying the second.
        const double half = static_cast<double>(snapshot.BytesDone) /
                            static_cast<double>(bytesTotal_) / 2.0;
        switch (*phase_) {
        case ProgressPhase::Erase:
        case ProgressPhase::Write:
            snapshot.Fraction = half;
            break;
        case ProgressPhase::Verify:
            snapshot.Fraction = 0.5 + half;
            break;
        case ProgressPhase::Reset:
        case ProgressPhase::Done:
            snapshot.Fraction = 1.0;
            break;
        }
    }
    return snapshot;
}

void ProgressPrinter::PrintLine(const ProgressSnapshot& snapshot)
{
    out_ << FormatPlainLine(snapshot) << '\n' << std::flush;
}

void ProgressPrinter::Redraw()
{
    out_ << '\r' << FormatBarLine(Snapshot()) << "\x1b[K" << std::flush;
    lineOpen_ = true;
}

}  // namespace tarvik::cli
