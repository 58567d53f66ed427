#pragma once
// The progress of several devices on stderr. On a terminal one line per device, all redrawn in
// place (name, phase, bar, percent, bytes, rate); otherwise the plain lines of one device's
// progress, each led by the device's name. A device's message is a line of its own on a log,
// and its line's last words on a terminal. Every run calls in from its own thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "commands/several_devices.h"
#include "platform/kernel/kernel.h"

namespace tarvik::cli {

// How often the terminal's lines are redrawn at most, besides at each phase and ending.
inline constexpr std::uint32_t BOARD_REDRAW_MS = 100;

// The device's line on a terminal: its name, then the bar line or its last words.
std::string FormatBoardLine(std::string_view name, std::string_view rest);

class DeviceBoard final : public DeviceRunWatcher {
public:
    // echo false keeps the messages off stderr (JSON output).
    DeviceBoard(std::ostream& err, bool terminal, bool echo, Kernel& clock,
                const std::vector<std::string>& names);
    ~DeviceBoard() override;

    CommandPort& PortFor(std::size_t device) override;
    ProgressDisplay& ProgressFor(std::size_t device) override;
    void RunEnds(std::size_t device, const DeviceRunReport& report) override;

    // The last redraw, so that what follows starts below the lines.
    void Finish();

private:
    struct Device;
    class DevicePort;
    class DeviceProgress;

    void Message(std::size_t device, std::string_view text);
    void Progressed(std::size_t device, bool phaseOrEnd);
    void PrintPlainLines(Device& device);
    void Redraw();

    std::ostream& err_;
    const bool terminal_;
    const bool echo_;
    Kernel& clock_;
    std::mutex lock_;
    std::vector<std::unique_ptr<Device>> devices_;
    bool drawn_ = false;
    std::uint32_t lastRedraw_ = 0;
};

}  // namespace tarvik::cli
