#include "cli/cli_app.h"

#include <iterator>
#include <string>

#include "cli/command_context.h"
#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "cli/panel_command.h"
#include "commands/startup.h"
#include "platform/capture/vlan_tagging.h"
#include "platform/formats/pcap_reader.h"

namespace tarvik::cli {
namespace {

// The device of the capture --replay names, telling on stderr once per kind of request what
// the capture never answered.
std::optional<ReplayTarget> ReadReplay(const CliOptions& options, std::ostream& err,
                                       std::string& error)
{
    const auto frames = ReadPcapFrames(options.ReplayPath, error);
    if (!frames) {
        return std::nullopt;
    }
    auto session =
        RecordedSession::FromCapture(*frames, options.ReplayDevice, "--replay-device", error);
    if (!session) {
        return std::nullopt;
    }
    ReplayTarget device(std::move(*session));
    device.SetUnansweredNote([&err](const std::string& line) {
        err << "tarvik-cli: replay: " << line << '\n';
    });
    return device;
}

void ListForUser(std::ostream& err, const AdapterList& list)
{
    for (std::size_t i = 0; i < list.Names.size(); ++i) {
        err << "  " << i << "  " << list.Descriptions[i] << "  (" << list.Names[i] << ")\n";
    }
}

// Opens the environment's adapter: the one named (-i, a bay's interface), or the first the
// start-up sequence lists (the lab has one). Returns the exit status; a failure's message has
// been shown.
int Start(CommandContext& context, RunEnvironment& environment, const std::string& interfaceName)
{
    const CliOptions& options = context.Options;
    std::ostream& err = context.Io.Err;
    FirstAdapterSelection selection;
    const std::string_view named = options.Lab ? std::string_view{} : interfaceName;
    const int result = environment.Start(selection, context.Port, named);
    const AdapterList& list = environment.Adapters();
    if (result == STARTUP_UNKNOWN_ADAPTER) {
        err << "tarvik-cli: no adapter " << interfaceName
            << (HasBadVlanSuffix(interfaceName) ? " (a VLAN id is 1 to 4094)" : "")
            << "; the adapters are:\n";
        ListForUser(err, list);
        context.Port.Note("no adapter " + interfaceName);
    } else if (result == STARTUP_READY && named.empty() && list.Count >= 2) {
        err << "tarvik-cli: using adapter 0, " << list.Descriptions[0]
            << "; pick another with -i IFNAME:\n";
        ListForUser(err, list);
    }
    if (const std::string hint = environment.Access().PrivilegeHintFor(result, options.InvokedAs);
        !hint.empty()) {
        err << hint << '\n';
    }
    return StartupExitStatus(result);
}

// The trace of one bay: the trace's name with the bay's before its extension.
std::string BayTracePath(const std::string& path, const std::string& bay)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return path + "-" + bay;
    }
    return path.substr(0, dot) + "-" + bay + path.substr(dot);
}

// The bays of a station or of upgrade --all: the options' and the file's, each opened on its
// interface (a lab bay on a lab of its own, holding its devices alone), every open made before any
// capability is given up. EXIT_SUCCESS_STATUS to go on.
int PrepareBays(CommandContext& context, const EnvironmentMaker& makeEnvironment)
{
    const CliOptions& options = context.Options;
    std::string error;
    std::optional<std::vector<BaySpec>> gathered =
        GatherBays(options.Bays, options.BaysFile, error);
    if (!gathered) {
        return context.FailWithNote(EXIT_USAGE, error);
    }
    std::vector<BaySpec> bays = std::move(*gathered);
    std::vector<std::unique_ptr<RunEnvironment>> opened;
    for (const BaySpec& bay : bays) {
        CliOptions made = options;
        if (options.Lab) {
            made.LabBuiltIns = false;
            for (std::size_t i = 1; i <= options.LabBayDevices; ++i) {
                made.LabPlugs.push_back({MacAddress{0x02, 0x5A, 0x17, 0xB0,
                                                    static_cast<std::uint8_t>(i >> 8),
                                                    static_cast<std::uint8_t>(i)},
                                         0,
                                         {}});
            }
        }
        std::unique_ptr<RunEnvironment> environment =
            makeEnvironment(made, context.Stop, RunSharing::SeveralRuns, {});
        environment->AdapterBinding().SetSendPause(options.PaceMs);
        if (options.AdmitEveryFrame) {
            environment->Access().AdmitEveryFrame();
        }
        if (!options.TracePath.empty()) {
            const std::string path = BayTracePath(options.TracePath, bay.Name);
            if (const auto traceError = environment->TraceTo(path)) {
                return context.FailWithNote(EXIT_USAGE,
                                            "cannot write the trace " + path + ": " + *traceError);
            }
        }
        environment->SettleLater();
        if (const int status = Start(context, *environment, bay.Interface);
            status != EXIT_SUCCESS_STATUS) {
            if (!options.Json) {
                context.Io.Err << "tarvik-cli: bay " << bay.Name << " (" << bay.Interface
                               << ") could not be opened\n";
            }
            return context.Fail(status, context.Port.LastMessage());
        }
        opened.push_back(std::move(environment));
    }
    for (const std::unique_ptr<RunEnvironment>& environment : opened) {
        if (!environment->Settle()) {
            context.Port.ShowMessage(MSG_CAPABILITIES_KEPT);
            return context.Fail(StartupExitStatus(STARTUP_CAPABILITIES_KEPT),
                                context.Port.LastMessage());
        }
    }
    context.Bays = std::move(bays);
    context.Environment = std::move(opened.front());
    context.OtherBays.assign(std::make_move_iterator(opened.begin() + 1),
                             std::make_move_iterator(opened.end()));
    return EXIT_SUCCESS_STATUS;
}

// The environment, the trace and the adapter the command needs; EXIT_SUCCESS_STATUS to go on.
int Prepare(CommandContext& context, const EnvironmentMaker& makeEnvironment)
{
    const CliOptions& options = context.Options;
    if ((options.Which == Command::Station || options.Which == Command::Upgrade) &&
        options.ServesBays()) {
        return PrepareBays(context, makeEnvironment);
    }
    std::optional<ReplayTarget> replay;
    if (!options.ReplayPath.empty()) {
        std::string error;
        replay = ReadReplay(options, context.Io.Err, error);
        if (!replay) {
            return context.FailWithNote(EXIT_USAGE,
                                        "cannot replay " + options.ReplayPath + ": " + error);
        }
    }
    context.Environment =
        makeEnvironment(options, context.Stop,
                        options.SeveralDevices() ? RunSharing::SeveralRuns : RunSharing::OneRun,
                        std::move(replay));
    context.Environment->AdapterBinding().SetSendPause(options.PaceMs);
    if (options.AdmitEveryFrame) {
        context.Environment->Access().AdmitEveryFrame();
    }
    if (!options.TracePath.empty()) {
        if (const auto error = context.Environment->TraceTo(options.TracePath)) {
            return context.FailWithNote(EXIT_USAGE, "cannot write the trace " + options.TracePath +
                                                        ": " + *error);
        }
    }
    // Reading an image file and listing the adapters need no open adapter; doctor opens each
    // adapter itself.
    if (options.Which != Command::Info && options.Which != Command::Adapters &&
        options.Which != Command::Doctor) {
        if (const int status = Start(context, *context.Environment, options.Interface);
            status != EXIT_SUCCESS_STATUS) {
            return context.Fail(status, context.Port.LastMessage());
        }
    }
    return EXIT_SUCCESS_STATUS;
}

int RunOnMachine(CommandContext& context)
{
    switch (context.Options.Which) {
    case Command::Adapters:
        return RunAdapters(context);
    case Command::Browse:
        return RunBrowse(context);
    case Command::Device:
        return RunDevice(context);
    case Command::Info:
        return RunInfo(context);
    case Command::Check:
        return RunCheck(context);
    case Command::Upgrade:
        return RunUpgrade(context);
    case Command::Station:
        return RunStationCommand(context);
    case Command::Doctor:
        return RunDoctor(context);
    case Command::Explain:
    case Command::History:
    case Command::Panel:
        break;
    }
    return EXIT_USAGE;
}

}  // namespace

int RunCli(const CliOptions& options, Streams streams, const StopRequested& stop)
{
    return RunCli(options, streams, stop,
                  [](const CliOptions& made, const StopRequested& madeStop, RunSharing sharing,
                     std::optional<ReplayTarget> replay) {
        return RunEnvironment::Make(made.Lab ? SegmentKind::Lab : SegmentKind::Real, madeStop,
                                    sharing, std::move(replay), made.LabPlugs, made.LabBuiltIns);
    });
}

int RunCli(const CliOptions& options, Streams streams, const StopRequested& stop,
           const EnvironmentMaker& makeEnvironment)
{
    CommandContext context(options, streams, stop);
    // Explaining a status needs nothing of the machine: no adapter, no trace. Nor does the
    // history, which is a file of this machine's.
    if (options.Which == Command::Explain) {
        return RunExplain(context);
    }
    if (options.Which == Command::History) {
        return RunHistoryCommand(options, streams);
    }
    if (options.Which == Command::Panel) {
        return RunPanelCommand(options, streams, stop);
    }
    if (const int status = Prepare(context, makeEnvironment); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    return RunOnMachine(context);
}

}  // namespace tarvik::cli
