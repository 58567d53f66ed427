#include "cli/device_board.h"

#include <sstream>

#include "cli/progress_printer.h"

namespace tarvik::cli {

std::string FormatBoardLine(std::string_view name, std::string_view rest)
{
    std::string line(name);
    line.resize(std::max<std::size_t>(line.size() + 2, 14), ' ');
    return line + std::string(rest);
}

struct DeviceBoard::Device {
    Device(DeviceBoard& board, std::size_t index, std::string deviceName, Kernel& clock);

    std::string Name;
    std::unique_ptr<DevicePort> Port;
    std::unique_ptr<DeviceProgress> Progress;
    // Writes the plain lines of this device's progress; the board hands them on with the name.
    std::ostringstream Lines;
    ProgressPrinter Printer;
    bool Begun = false;
    std::string LastWords = "waiting";  // on the terminal, until the progress begins
};

class DeviceBoard::DevicePort final : public CommandPort {
public:
    DevicePort(DeviceBoard& board, std::size_t index) : board_(board), index_(index) {}
    void ShowMessage(std::string_view text) override { board_.Message(index_, text); }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

private:
    DeviceBoard& board_;
    std::size_t index_;
};

class DeviceBoard::DeviceProgress final : public ProgressDisplay {
public:
    DeviceProgress(DeviceBoard& board, std::size_t index) : board_(board), index_(index) {}
    void BeginProgress(std::uint64_t bytesTotal) override
    {
        {
            std::lock_guard lock(board_.lock_);
            Device& device = *board_.devices_[index_];
            device.Begun = true;
            device.Printer.BeginProgress(bytesTotal);
        }
        board_.Progressed(index_, true);
    }
    void SetProgress(const ProgressReport& report) override
    {
        bool phaseStarts = false;
        {
            std::lock_guard lock(board_.lock_);
            Device& device = *board_.devices_[index_];
            phaseStarts = device.Printer.Snapshot().Status != ProgressText(report.Phase);
            device.Printer.SetProgress(report);
        }
        board_.Progressed(index_, phaseStarts);
    }

private:
    DeviceBoard& board_;
    std::size_t index_;
};

DeviceBoard::Device::Device(DeviceBoard& board, std::size_t index, std::string deviceName,
                            Kernel& clock)
    : Name(std::move(deviceName)), Port(std::make_unique<DevicePort>(board, index)),
      Progress(std::make_unique<DeviceProgress>(board, index)), Printer(Lines, false, clock)
{
}

DeviceBoard::DeviceBoard(std::ostream& err, bool terminal, bool echo, Kernel& clock,
                         const std::vector<std::string>& names)
    : err_(err), terminal_(terminal), echo_(echo), clock_(clock)
{
    for (std::size_t i = 0; i < names.size(); ++i) {
        devices_.push_back(std::make_unique<Device>(*this, i, names[i], clock));
    }
}

DeviceBoard::~DeviceBoard() = default;

CommandPort& DeviceBoard::PortFor(std::size_t device)
{
    return *devices_[device]->Port;
}

ProgressDisplay& DeviceBoard::ProgressFor(std::size_t device)
{
    return *devices_[device]->Progress;
}

void DeviceBoard::RunEnds(std::size_t device, const DeviceRunReport& report)
{
    {
        std::lock_guard lock(lock_);
        devices_[device]->LastWords = report.Skipped ? "skipped: " + report.Result : report.Result;
        devices_[device]->Begun = false;
    }
    Progressed(device, true);
}

void DeviceBoard::Message(std::size_t index, std::string_view text)
{
    std::lock_guard lock(lock_);
    Device& device = *devices_[index];
    device.LastWords = text;
    if (echo_ && !terminal_) {
        err_ << device.Name << ": " << text << '\n' << std::flush;
    }
}

void DeviceBoard::Progressed(std::size_t index, bool phaseOrEnd)
{
    std::lock_guard lock(lock_);
    if (!terminal_) {
        PrintPlainLines(*devices_[index]);
        return;
    }
    const std::uint32_t now = clock_.GetTickCount();
    if (phaseOrEnd || !drawn_ || now - lastRedraw_ >= BOARD_REDRAW_MS) {
        lastRedraw_ = now;
        Redraw();
    }
}

void DeviceBoard::PrintPlainLines(Device& device)
{
    std::string line;
    std::istringstream lines(device.Lines.str());
    while (std::getline(lines, line)) {
        err_ << device.Name << ": " << line << '\n';
    }
    err_ << std::flush;
    device.Lines.str({});
}

void DeviceBoard::Redraw()
{
    if (drawn_) {
        err_ << "\x1b[" << devices_.size() << 'A';
    }
    for (const auto& device : devices_) {
        const std::string rest = device->Begun ? FormatBarLine(device->Printer.Snapshot(), 20)
                                               : device->LastWords;
        err_ << '\r' << FormatBoardLine(device->Name, rest) << "\x1b[K\n";
    }
    err_ << std::flush;
    drawn_ = true;
}

void DeviceBoard::Finish()
{
    std::lock_guard lock(lock_);
    if (terminal_) {
        Redraw();
    }
}

}  // namespace tarvik::cli
