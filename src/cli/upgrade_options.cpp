// The options of the commands that upgrade: upgrade (one device or several) and station.

#include <algorithm>
#include <ostream>

#include "cli/command_options.h"
#include "commands/several_devices.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

// Most devices boot their application after the reset and answer no more: asking again is the
// user's choice, and costs such a device its tries after the result is out.
std::string ReadBackHelp()
{
    return "After an upgrade that finished, ask the device for its information again once it "
           "is back from its reset (up to " +
           std::to_string(DESCRIPTOR_AFTER_RESET_TRIES) +
           " tries, after the result is out) and add it to the attempt's record. Without it the "
           "reset is the last frame the device gets";
}

// With --lab: as many lab bays, each holding as many devices at the same addresses.
CLI::Option* AddLabBaysOption(CLI::App& app, CLI::App& command, UnsettledOptions& unsettled)
{
    return command
        .add_option("--lab-bays", unsettled.LabBays,
                    "With --lab: BAYS bays (bay1, bay2, ...) of DEVICES devices each, every "
                    "bay's devices with the same addresses as the others'")
        ->type_name("BAYSxDEVICES")
        ->check(CLI::Validator(
            [](std::string& text) {
                std::string error;
                return ParseLabBays(text, error) ? std::string() : error;
            },
            "", "lab bays"))
        ->needs(app.get_option("--lab"));
}

}  // namespace

CLI::App* AddUpgradeCommand(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled,
                            CLI::Option& json)
{
    CLI::App* upgrade =
        app.add_subcommand("upgrade", "Load an image into a device, or into several at once");
    upgrade->add_option("FILE", options.ImagePath, "Image file")->required();
    CLI::Option* names =
        upgrade->add_option("NAME", options.DeviceNames, "Device names: each is upgraded at once")
            ->check(DEVICE_NAME);
    CLI::Option* all = upgrade->add_flag(
        "--all", options.All,
        "Upgrade every device that answers discovery and whose board code fits the image; the "
        "others are listed as skipped");
    all->excludes(names);
    upgrade
        ->add_option("--jobs", options.Jobs,
                     "With several devices: at most N upgrades at once (default: all, up to " +
                         std::to_string(MAX_JOBS) + " on one interface and " +
                         std::to_string(MAX_STATION_JOBS) + " over bays)")
        ->check(CLI::Range(std::size_t{1}, MAX_STATION_JOBS));
    upgrade
        ->add_option("--record", options.RecordPath,
                     "Append one JSON line per device to FILE: times, interface, device, its "
                     "descriptor, the image and its SHA-256, pace, frames, result, status")
        ->type_name("FILE");
    upgrade
        ->add_flag("--events", options.Events,
                   "Write one JSON object per line to stdout as the upgrade goes: discovered, "
                   "skipped, started, progress, finished (stdout then holds only events)")
        ->excludes(&json);
    upgrade->add_flag("--read-back", options.ReadBack, ReadBackHelp());
    // Every device of every bay: the bays are searched, not named.
    const BayOptions bays = AddBayOptions(
        app, *upgrade,
        "With --all: each bay is searched as a segment of its own, and a device is known by its "
        "bay and address",
        options, unsettled);
    for (CLI::Option* const bay : {bays.Bay, bays.File, AddLabBaysOption(app, *upgrade, unsettled)}) {
        bay->needs(all);
    }
    AddSignatureOptions(*upgrade, options.Signatures);
    AddHistoryOptions(*upgrade, options.History);
    return upgrade;
}

CLI::App* AddStationCommand(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled,
                            CLI::Option& json)
{
    CLI::App* station = app.add_subcommand(
        "station",
        "Production station: keep probing, and upgrade each device that answers and fits the "
        "image as soon as it answers, each once, until Ctrl-C");
    station->add_option("FILE", options.ImagePath, "Image file")->required();
    station
        ->add_option("--probe-interval", unsettled.ProbeSeconds,
                     "Seconds between probes (default 2); a device is upgraded as soon as it "
                     "answers one")
        ->check(CLI::Range(0.2, 60.0));
    station
        ->add_option("--jobs", options.Jobs,
                     "At most N upgrades at once (default 8, up to " + std::to_string(MAX_JOBS) +
                         " in a bay and " + std::to_string(MAX_STATION_JOBS) +
                         " over all bays); devices that answer meanwhile wait their turn")
        ->check(CLI::Range(std::size_t{1}, MAX_STATION_JOBS));
    station->add_flag("--reflash", options.Reflash,
                      "Flash a device that passed again when it is plugged in again (a device "
                      "that failed always is)");
    station
        ->add_option("--record", options.RecordPath,
                     "Append one JSON line per attempt to FILE, as upgrade --record does")
        ->type_name("FILE");
    station
        ->add_flag("--events", options.Events,
                   "Write one JSON object per line to stdout: discovered, skipped, started, "
                   "progress, finished (stdout then holds only events)")
        ->excludes(&json);
    station->add_flag("--read-back", options.ReadBack, ReadBackHelp());
    unsettled.StopAfter =
        station
            ->add_option("--stop-after", unsettled.StopAfterSeconds,
                         "Take no new device after SECONDS, let the upgrades under way finish, "
                         "and end (for scripts; without it the station runs until Ctrl-C)")
            ->check(CLI::Range(0.1, 31'536'000.0));
    station
        ->add_option("--lab-plug", unsettled.LabPlugs,
                     "With --lab: the device NAME is plugged in SECONDS after the start (and "
                     "pulled out at the second time, if given); a name that is not one of the "
                     "lab's is a new device that fits the sample image. Repeatable")
        ->type_name("NAME@SECONDS[-SECONDS]")
        ->needs(app.get_option("--lab"));
    AddBayOptions(app, *station,
                  "Each bay is probed as a segment of its own, and a device is known by its bay "
                  "and address",
                  options, unsettled);
    AddLabBaysOption(app, *station, unsettled)->excludes("--lab-plug");
    station->add_flag("--counts-by-bay", options.CountsByBay,
                      "With bays: under the status line, a line of counts per bay (passed, "
                      "failed, skipped, in progress), and the same at the end");
    AddSignatureOptions(*station, options.Signatures);
    AddHistoryOptions(*station, options.History);
    station
        ->add_option("--push", options.PushUrl,
                     "After each attempt, push the history to the PostgreSQL database at URL "
                     "(postgresql://...) in the background, retrying while it is down; the "
                     "station never waits for it. No password in URL: see the README")
        ->type_name("URL");
    AddStationPanelOptions(*station, options.Panel);
    return station;
}

void SettleBays(CliOptions& options, const UnsettledOptions& unsettled)
{
    std::string error;
    for (const std::string& text : unsettled.Bays) {
        options.Bays.push_back(*ParseBay(text, error));  // checked as it was read
    }
    if (!unsettled.LabBays.empty()) {
        const LabBays lab = *ParseLabBays(unsettled.LabBays, error);
        for (std::size_t i = 1; i <= lab.Bays; ++i) {
            options.Bays.push_back({"bay" + std::to_string(i), "lab0"});
        }
        options.LabBayDevices = lab.DevicesPerBay;
    }
}

bool SettleUpgrade(CliOptions& options, const UnsettledOptions& unsettled, std::ostream& err)
{
    if (options.DeviceNames.empty() && !options.All) {
        err << "upgrade: name a device (or several), or give --all\n";
        return false;
    }
    SettleBays(options, unsettled);
    if (!options.ServesBays() && options.Jobs > MAX_JOBS) {
        err << "upgrade: --jobs is at most " << MAX_JOBS << " on one interface\n";
        return false;
    }
    // Each device once, by the name browse gives it: one run per device.
    std::vector<std::string> unique;
    for (const std::string& name : options.DeviceNames) {
        const std::string formal = FormatDeviceName(ParseDeviceName(name));
        if (std::find(unique.begin(), unique.end(), formal) == unique.end()) {
            unique.push_back(formal);
        }
    }
    // One device, however often named, is the one-device upgrade under the name as typed.
    if (unique.size() > 1) {
        options.DeviceNames = std::move(unique);
    } else if (!unique.empty()) {
        options.DeviceNames.resize(1);
    }
    if (!options.DeviceNames.empty()) {
        options.DeviceName = options.DeviceNames.front();
    }
    return true;
}

void SettleStation(CliOptions& options, const UnsettledOptions& unsettled, bool frameTypeGiven)
{
    SettleBays(options, unsettled);
    options.ProbeIntervalMs = static_cast<std::uint32_t>(unsettled.ProbeSeconds * 1000 + 0.5);
    if (unsettled.StopAfter != nullptr && unsettled.StopAfter->count() > 0) {
        options.StopAfterMs = static_cast<std::uint32_t>(unsettled.StopAfterSeconds * 1000 + 0.5);
    }
    // Both frame types unless --frame-type names one.
    if (frameTypeGiven && options.FrameType) {
        options.StationVariants = {*options.FrameType};
    } else {
        options.StationVariants = {FrameVariantKind::Untyped, FrameVariantKind::Typed};
    }
}

BayOptions AddBayOptions(CLI::App& app, CLI::App& command, std::string_view what,
                         CliOptions& options, UnsettledOptions& unsettled)
{
    CLI::Option* bay =
        command
            .add_option("--bay", unsettled.Bays,
                        "A bay of the fixture: its NAME and the interface it is on (IFACE, or "
                        "IFACE.VID for VLAN VID on a trunk). " +
                            std::string(what) + ". Repeatable")
            ->type_name("NAME=IFACE[.VID]")
            ->check(CLI::Validator(
                [](std::string& text) {
                    std::string error;
                    return ParseBay(text, error) ? std::string() : error;
                },
                "", "bay"))
            ->excludes(app.get_option("--lab"))
            ->excludes(app.get_option("--interface"));
    CLI::Option* file =
        command
            .add_option("--bays", options.BaysFile,
                        "The bays from FILE, one per line: NAME IFACE [VID] (# starts a comment)")
            ->type_name("FILE")
            ->excludes(bay)
            ->excludes(app.get_option("--lab"))
            ->excludes(app.get_option("--interface"));
    return {bay, file};
}

}  // namespace tarvik::cli
