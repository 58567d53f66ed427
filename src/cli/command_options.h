#pragma once
// Each command's options, one function per command: it adds the command to the parser with
// the options that fill CliOptions, and the ones that need more than the parser's own checks
// are settled once the line is parsed.

#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

namespace tarvik::cli {

// Texts the parser keeps for the settling that follows the parse.
struct UnsettledOptions {
    std::string FrameType;
    std::string Progress = "auto";
    std::string ReplayDevice;
    double ProbeSeconds = 2;
    double StopAfterSeconds = 0;
    CLI::Option* StopAfter = nullptr;
    std::vector<std::string> LabPlugs;
    std::vector<std::string> Bays;
    std::string LabBays;
};

// A device's name as browse prints it (QV1A2B3C or 12 hex digits).
extern const CLI::Validator DEVICE_NAME;

CLI::App* AddAdaptersCommand(CLI::App& app);
CLI::App* AddBrowseCommand(CLI::App& app);
CLI::App* AddDeviceCommand(CLI::App& app, CliOptions& options);
CLI::App* AddInfoCommand(CLI::App& app, CliOptions& options);
CLI::App* AddCheckCommand(CLI::App& app, CliOptions& options);
CLI::App* AddExplainCommand(CLI::App& app, CliOptions& options);
CLI::App* AddDoctorCommand(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled);
// A command's --bay NAME=IFACE[.VID] (repeatable) and --bays FILE; what says what the command
// does with each bay.
struct BayOptions {
    CLI::Option* Bay;
    CLI::Option* File;
};
BayOptions AddBayOptions(CLI::App& app, CLI::App& command, std::string_view what,
                         CliOptions& options, UnsettledOptions& unsettled);
// upgrade and station; json is the --json option, which their --events exclude.
CLI::App* AddUpgradeCommand(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled,
                            CLI::Option& json);
CLI::App* AddStationCommand(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled,
                            CLI::Option& json);

// After the parse: upgrade's devices each once under the name browse gives it, and its bays;
// false, the reason on err, when the command line names no device or asks too many jobs.
bool SettleUpgrade(CliOptions& options, const UnsettledOptions& unsettled, std::ostream& err);
// After the parse: the bays --bay and --lab-bays name (--bays FILE is read as the bays open).
void SettleBays(CliOptions& options, const UnsettledOptions& unsettled);
// After the parse: the station's bays, times and the frame types it probes with.
void SettleStation(CliOptions& options, const UnsettledOptions& unsettled, bool frameTypeGiven);

}  // namespace tarvik::cli
