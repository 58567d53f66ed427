#include "cli/cli_options.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>
#include <sodium.h>

#include "cli/command_options.h"
#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "cli/usage_hints.h"
#include "commands/failure_catalogue.h"
#include "platform/version.h"
#include "protocol/progress.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

// The program's version, then each library it links that a user may need to name: the
// history's and libsodium.
std::string VersionText()
{
    std::string text = "tarvik-cli " + std::string(TARVIK_VERSION);
    for (const std::string& library : HistoryLibraries()) {
        text += "\n  " + library;
    }
    text += "\n  libsodium " + std::string(sodium_version_string());
    return text;
}

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

const CLI::Validator NOT_EMPTY(
    [](std::string& text) -> std::string {
        return text.empty() ? std::string("an empty name") : std::string();
    },
    "IFNAME");

// The options every command takes, given before the command; returns --json.
CLI::Option* AddCommonOptions(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled)
{
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
    unsettled.FrameType = untyped;
    app.add_option("--progress", unsettled.Progress,
                   "Upgrade progress on stderr: bar (redrawn line), plain (a line per phase and "
                   "per 10 %), auto (bar on a terminal)")
        ->check(CLI::IsMember({"auto", "bar", "plain"}));
    app.add_option("--frame-type", unsettled.FrameType,
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
    CLI::Option* replay =
        app.add_option("--replay", options.ReplayPath,
                       "With --lab: the lab holds only a device that answers as the device in "
                       "the pcap capture FILE did (a --trace, or tcpdump's), request by request, "
                       "after the recorded delays; what the capture never answered is said on "
                       "stderr")
            ->type_name("FILE")
            ->needs(app.get_option("--lab"));
    app.add_option("--replay-device", unsettled.ReplayDevice,
                   "With --replay: the device in the capture to replay, when several answer in it")
        ->type_name("MAC")
        ->needs(replay);
    return json;
}

// What the parser could not check on its own: the lab's plugs and the replayed device.
void ReadUnsettledTexts(CliOptions& options, const UnsettledOptions& unsettled)
{
    for (const std::string& text : unsettled.LabPlugs) {
        std::string why;
        const std::optional<LabPlug> plug = ParseLabPlug(text, why);
        if (!plug) {
            throw CLI::ValidationError("--lab-plug", why + ": " + text);
        }
        options.LabPlugs.push_back(*plug);
    }
    if (!unsettled.ReplayDevice.empty()) {
        options.ReplayDevice = ParseMacAddress(unsettled.ReplayDevice);
        if (!options.ReplayDevice) {
            throw CLI::ValidationError("--replay-device",
                                       "not a MAC address: " + unsettled.ReplayDevice);
        }
    }
}

// The frame type and the progress style from their texts.
void SettleCommonOptions(CliOptions& options, const UnsettledOptions& unsettled)
{
    const std::string_view frameType = unsettled.FrameType;
    options.FrameType = frameType == FrameVariantName(FrameVariantKind::Typed)
                            ? std::optional(FrameVariantKind::Typed)
                        : frameType == FrameVariantName(FrameVariantKind::Untyped)
                            ? std::optional(FrameVariantKind::Untyped)
                            : std::nullopt;
    options.Progress = unsettled.Progress == "bar"     ? ProgressStyle::Bar
                       : unsettled.Progress == "plain" ? ProgressStyle::Plain
                                                       : ProgressStyle::Auto;
}

// The parser's refusal, or its help or version, printed; the status the program ends with.
int EndWithParseError(const CLI::App& app, const CLI::ParseError& error, int argc,
                      const char* const* argv, std::ostream& out, std::ostream& err)
{
    if (error.get_exit_code() != static_cast<int>(CLI::ExitCodes::Success)) {
        // The parser's words for these mislead: "arguments were not expected" for an option
        // given before its command, "a subcommand is required" for a misspelt one.
        const bool missedCommand = dynamic_cast<const CLI::RequiredError*>(&error) != nullptr;
        if (const auto why = ExplainRefusal(
                app, std::span(argv, static_cast<std::size_t>(std::max(argc, 0))), missedCommand)) {
            err << *why << "\nRun with --help for more information.\n";
            return EXIT_USAGE;
        }
    }
    const int status = app.exit(error, out, err);
    return status == 0 ? EXIT_SUCCESS_STATUS : EXIT_USAGE;
}

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
    app.set_version_flag("--version", VersionText());
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(ExitStatusHelp());

    UnsettledOptions unsettled;
    CLI::Option& json = *AddCommonOptions(app, options, unsettled);
    const std::pair<CLI::App*, Command> commands[] = {
        {AddAdaptersCommand(app), Command::Adapters},
        {AddBrowseCommand(app), Command::Browse},
        {AddDeviceCommand(app, options), Command::Device},
        {AddInfoCommand(app, options), Command::Info},
        {AddCheckCommand(app, options), Command::Check},
        {AddUpgradeCommand(app, options, unsettled, json), Command::Upgrade},
        {AddStationCommand(app, options, unsettled, json), Command::Station},
        {AddExplainCommand(app, options), Command::Explain},
        {AddDoctorCommand(app, options, unsettled), Command::Doctor},
        {AddHistoryCommand(app, options.History, options.Query), Command::History},
        {AddPanelCommand(app, options.Panel), Command::Panel},
    };
    try {
        app.parse(argc, argv);
        ReadUnsettledTexts(options, unsettled);
    } catch (const CLI::ParseError& error) {
        return {std::nullopt, EndWithParseError(app, error, argc, argv, out, err)};
    }

    SettleCommonOptions(options, unsettled);
    CLI::App* parsed = nullptr;
    for (const auto& [subcommand, which] : commands) {
        if (subcommand->parsed()) {
            options.Which = which;
            parsed = subcommand;
        }
    }
    switch (options.Which) {
    case Command::Station:
        SettleStation(options, unsettled, app.get_option("--frame-type")->count() > 0);
        break;
    case Command::History:
        SettleHistoryAction(*parsed, options.Query);
        break;
    case Command::Doctor:
        if (options.Lab) {
            err << "doctor: examines the machine's own interfaces; the lab has none to examine\n";
            return {std::nullopt, EXIT_USAGE};
        }
        SettleBays(options, unsettled);
        break;
    case Command::Upgrade:
        if (!SettleUpgrade(options, unsettled, err)) {
            return {std::nullopt, EXIT_USAGE};
        }
        break;
    default:
        break;
    }
    return {options, EXIT_SUCCESS_STATUS};
}

}  // namespace tarvik::cli
