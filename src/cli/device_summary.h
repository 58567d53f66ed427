#pragma once
// The end of an upgrade of several devices: a table on stdout, one row per device (its result
// in the system's own words, bytes, elapsed time), or one JSON object per device and line.

#include <string>
#include <string_view>
#include <vector>

#include "cli/json_output.h"
#include "commands/several_devices.h"

namespace tarvik::cli {

std::string SummaryTable(const std::vector<DeviceRunReport>& reports);

// How the board, the lines and the summary name a device: its bay first, when the station
// serves several.
inline std::string BayAndDevice(const std::string& bay, const std::string& device)
{
    return bay.empty() ? device : bay + " " + device;
}

Json DeviceResultJson(const DeviceRunReport& report, std::string_view imagePath);

}  // namespace tarvik::cli
