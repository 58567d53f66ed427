#include "cli/cli_options.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"
#include "cli/usage_hints.h"
#include "commands/failure_catalogue.h"
#include "platform/version.h"
#include "protocol/progress.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

std::string ExitStatusHelp()
{
    std::ostringstream text;
    text << "\nExit status:\n";
    for (const OutcomeRow& row : ExitStatusRows()) {
        text << "  " << row.ExitStatus
             << (row.ExitStatus < 10    ? "    "
                 : row.ExitStatus < 100 ? "   "
                                        : "  ")
             << DescribeOutcome(row) << "\n";
    }
    return text.str();
}

// A device's name as browse prints it. Any other text would still turn into some address, so a
// typo would go to a device nobody named, or to the one it merely begins with.
const CLI::Validator DEVICE_NAME(
    [](std::string& name) -> std::string {
        if (IsDeviceName(name)) {
            return {};
        }
        return "not a device name: \"" + name + "\" (" + std::string(DEVICE_NAME_PREFIX) +
               " and 6 hex digits, or 12 hex digits)";
    },
    "NAME");

const CLI::Validator NOT_EMPTY(
    [](std::string& text) -> std::string {
        return text.empty() ? std::string("an empty name") : std::string();
    },
    "IFNAME");

// A topic explain has an entry for: refused with what it accepts, as a command-line error.
const CLI::Validator EXPLAIN_TOPIC(
    [](std::string& topic) -> std::string {
        if (!ExplainTopic(topic).empty()) {
            return {};
        }
        return "neither an exit status nor a message: \"" + topic + "\"; explain takes " +
               ExplainAccepts();
    },
    "STATUS|TEXT");

}  // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv)
{
    return ParseCommandLine(argc, argv, std::cout, std::cerr);
}

ParseResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err)
{
    CliOptions options;
    options.InvokedAs = argc > 0 ? argv[0] : "tarvik-cli";
    CLI::App app{"tarvik-cli: load firmware into network devices on the local Ethernet segment",
                 "tarvik-cli"};
    // Options are --name and -n on every system: a path such as /tmp/x.bin is a path on
    // Windows too, not an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "tarvik-cli " + std::string(TARVIK_VERSION));
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(ExitStatusHelp());

    app.add_option("-i,--interface", options.Interface,
                   "Network interface to use (opens \\Device\\IFNAME); without it the first "
                   "usable adapter is taken")
        ->check(NOT_EMPTY);
    app.add_flag("--lab", options.Lab,
                 "Run on the built-in lab: a virtual segment with emulated devices, no root "
                 "and no network needed");
    CLI::Option* json =
        app.add_flag("--json", options.Json, "Print results (and failures) as JSON on stdout");
    app.add_flag("-v,--verbose", options.Verbose, "Say more on stderr (frames sent, timings)");
    app.add_option("--trace", options.TracePath,
                   "Write every frame sent and received, with its time, to FILE as a pcap "
                   "capture (open it in Wireshark with wireshark/tarvik.lua)")
        ->type_name("FILE");
    // Not in --help: for measuring what the socket filter saves under a flood.
    app.add_flag("--admit-every-frame", options.AdmitEveryFrame)->group("");
    const std::string untyped(FrameVariantName(FrameVariantKind::Untyped));
    const std::string typed(FrameVariantName(FrameVariantKind::Typed));
    std::string frameType = untyped;
    std::string progress = "auto";
    app.add_option("--progress", progress,
                   "Upgrade progress on stderr: bar (redrawn line), plain (a line per phase and "
                   "per 10 %), auto (bar on a terminal)")
        ->check(CLI::IsMember({"auto", "bar", "plain"}));
    app.add_option("--frame-type", frameType,
                   "For device, check and upgrade: the frame type to speak: untyped (0x0000, "
                   "as at start-up; the default), typed (0x8888), or auto (browse first and "
                   "keep the type that got answers)")
        ->check(CLI::IsMember({untyped, typed, std::string("auto")}));
    app.add_option("--pace", options.PaceMs,
                   "Pause after each frame sent, in ms (0 to 20; default 20, what devices are "
                   "known to handle). Shorter is faster for devices that answer quickly; 0 "
                   "runs in lockstep with the replies. A device that cannot keep up shows "
                   "resends or fails with \"" +
                       std::string(MSG_UPGRADE_PROCESS_ERROR) + "\", never a false \"" +
                       std::string(TEXT_FINISHED) + "\"")
        ->check(CLI::Range(0, static_cast<int>(SEND_PAUSE_MS)));
    app.get_option("-i")->excludes(app.get_option("--lab"));
    std::string replayDevice;
    CLI::Option* replay =
        app.add_option("--replay", options.ReplayPath,
                       "With --lab: the lab holds only a device that answers as the device in "
                       "the pcap capture FILE did (a --trace, or tcpdump's), request by request, "
                       "after the recorded delays; what the capture never answered is said on "
                       "stderr")
            ->type_name("FILE")
            ->needs(app.get_option("--lab"));
    app.add_option("--replay-device", replayDevice,
                   "With --replay: the device in the capture to replay, when several answer in it")
        ->type_name("MAC")
        ->needs(replay);

    CLI::App* adapters = app.add_subcommand("adapters", "List the network adapters");
    CLI::App* browse = app.add_subcommand("browse", "Find the devices on the segment");
    CLI::App* device = app.add_subcommand("device", "Show a device's information block");
    device->add_option("NAME", options.DeviceName, "Device name (QV1A2B3C or 12 hex digits)")
        ->required()
        ->check(DEVICE_NAME);
    CLI::App* info = app.add_subcommand("info", "Show an image file's information block");
    info->add_option("FILE", options.ImagePath, "Image file")->required();
    CLI::App* check = app.add_subcommand("check", "Check that an image fits a device");
    check->add_option("FILE", options.ImagePath, "Image file")->required();
    check->add_option("NAME", options.DeviceName, "Device name")->required()->check(DEVICE_NAME);
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
                         std::to_string(MAX_JOBS) + ")")
        ->check(CLI::Range(std::size_t{1}, MAX_JOBS));
    upgrade
        ->add_option("--record", options.RecordPath,
                     "Append one JSON line per device to FILE: times, interface, device, its "
                     "descriptor, the image and its SHA-256, pace, frames, result, status")
        ->type_name("FILE");
    upgrade
        ->add_flag("--events", options.Events,
                   "Write one JSON object per line to stdout as the upgrade goes: discovered, "
                   "skipped, started, progress, finished (stdout then holds only events)")
        ->excludes(json);
    AddHistoryOptions(*upgrade, options.History);
    CLI::App* station = app.add_subcommand(
        "station",
        "Production station: keep probing, and upgrade each device that answers and fits the "
        "image as soon as it answers, each once, until Ctrl-C");
    station->add_option("FILE", options.ImagePath, "Image file")->required();
    double probeSeconds = 2;
    station
        ->add_option("--probe-interval", probeSeconds,
                     "Seconds between probes (default 2); a device is upgraded as soon as it "
                     "answers one")
        ->check(CLI::Range(0.2, 60.0));
    station
        ->add_option("--jobs", options.Jobs,
                     "At most N upgrades at once (default 8, up to " + std::to_string(MAX_JOBS) +
                         "); devices that answer meanwhile wait their turn")
        ->check(CLI::Range(std::size_t{1}, MAX_JOBS));
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
        ->excludes(json);
    double stopAfter = 0;
    CLI::Option* stopAfterOption =
        station
            ->add_option("--stop-after", stopAfter,
                         "Take no new device after SECONDS, let the upgrades under way finish, "
                         "and end (for scripts; without it the station runs until Ctrl-C)")
            ->check(CLI::Range(0.1, 31'536'000.0));
    std::vector<std::string> plugs;
    station
        ->add_option("--lab-plug", plugs,
                     "With --lab: the device NAME is plugged in SECONDS after the start (and "
                     "pulled out at the second time, if given); a name that is not one of the "
                     "lab's is a new device that fits the sample image. Repeatable")
        ->type_name("NAME@SECONDS[-SECONDS]")
        ->needs(app.get_option("--lab"));
    AddHistoryOptions(*station, options.History);
    station
        ->add_option("--push", options.PushUrl,
                     "After each attempt, push the history to the PostgreSQL database at URL "
                     "(postgresql://...) in the background, retrying while it is down; the "
                     "station never waits for it. No password in URL: see the README")
        ->type_name("URL");
    CLI::App* explain = app.add_subcommand(
        "explain", "Say what an exit status or a message means, its usual causes and what to do");
    explain
        ->add_option("TOPIC", options.Topic,
                     "An exit status, or a message as shown (quoted: \"" +
                         std::string(MSG_HARDWARE_MISMATCH) + "\")")
        ->required()
        ->check(EXPLAIN_TOPIC);
    CLI::App* doctor = app.add_subcommand(
        "doctor",
        "Check what stands between the program and the devices: each interface (or the one -i "
        "names), network managers, bridges, privilege, then a probe in both frame types. "
        "Changes nothing");
    CLI::App* history = AddHistoryCommand(app, options.History, options.Query);

    try {
        app.parse(argc, argv);
        for (const std::string& text : plugs) {
            std::string why;
            const std::optional<LabPlug> plug = ParseLabPlug(text, why);
            if (!plug) {
                throw CLI::ValidationError("--lab-plug", why + ": " + text);
            }
            options.LabPlugs.push_back(*plug);
        }
        if (!replayDevice.empty()) {
            options.ReplayDevice = ParseMacAddress(replayDevice);
            if (!options.ReplayDevice) {
                throw CLI::ValidationError("--replay-device", "not a MAC address: " + replayDevice);
            }
        }
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() != static_cast<int>(CLI::ExitCodes::Success)) {
            // The parser's words for these mislead: "arguments were not expected" for an option
            // given before its command, "a subcommand is required" for a misspelt one.
            const bool missedCommand = dynamic_cast<const CLI::RequiredError*>(&error) != nullptr;
            if (const auto why = ExplainRefusal(
                    app, std::span(argv, static_cast<std::size_t>(std::max(argc, 0))),
                    missedCommand)) {
                err << *why << "\nRun with --help for more information.\n";
                return {std::nullopt, EXIT_USAGE};
            }
        }
        const int status = app.exit(error, out, err);
        return {std::nullopt, status == 0 ? EXIT_SUCCESS_STATUS : EXIT_USAGE};
    }

    options.FrameType = frameType == typed     ? std::optional(FrameVariantKind::Typed)
                        : frameType == untyped ? std::optional(FrameVariantKind::Untyped)
                                               : std::nullopt;
    options.Progress = progress == "bar"     ? ProgressStyle::Bar
                       : progress == "plain" ? ProgressStyle::Plain
                                             : ProgressStyle::Auto;
    const std::pair<CLI::App*, Command> commands[] = {
        {adapters, Command::Adapters}, {browse, Command::Browse},   {device, Command::Device},
        {info, Command::Info},         {check, Command::Check},     {upgrade, Command::Upgrade},
        {station, Command::Station},   {explain, Command::Explain}, {doctor, Command::Doctor},
        {history, Command::History},
    };
    for (const auto& [subcommand, which] : commands) {
        if (subcommand->parsed()) {
            options.Which = which;
        }
    }
    if (station->parsed()) {
        options.ProbeIntervalMs = static_cast<std::uint32_t>(probeSeconds * 1000 + 0.5);
        if (stopAfterOption->count() > 0) {
            options.StopAfterMs = static_cast<std::uint32_t>(stopAfter * 1000 + 0.5);
        }
        // Both frame types unless --frame-type names one.
        if (app.get_option("--frame-type")->count() > 0 && options.FrameType) {
            options.StationVariants = {*options.FrameType};
        } else {
            options.StationVariants = {FrameVariantKind::Untyped, FrameVariantKind::Typed};
        }
    }
    if (history->parsed()) {
        SettleHistoryAction(*history, options.Query);
    }
    if (doctor->parsed() && options.Lab) {
        err << "doctor: examines the machine's own interfaces; the lab has none to examine\n";
        return {std::nullopt, EXIT_USAGE};
    }
    if (upgrade->parsed()) {
        if (options.DeviceNames.empty() && !options.All) {
            err << "upgrade: name a device (or several), or give --all\n";
            return {std::nullopt, EXIT_USAGE};
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
    }
    return {options, EXIT_SUCCESS_STATUS};
}

}  // namespace tarvik::cli
