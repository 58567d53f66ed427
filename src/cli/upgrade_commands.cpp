// The commands that upgrade: one device, several at once, and the production station. Each
// attempt goes to the recorder; each command's ending is printed by PrintEnding.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/attempt_recorder.h"
#include "cli/command_context.h"
#include "cli/device_board.h"
#include "cli/device_summary.h"
#include "cli/event_stream.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "cli/progress_printer.h"
#include "cli/station_console.h"
#include "cli/station_panel.h"
#include "commands/several_devices.h"
#include "commands/station.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

// How an upgrade command ended, in each form it can be printed in.
struct UpgradeEnding {
    int Status = EXIT_SUCCESS_STATUS;
    std::vector<Json> JsonLines;  // with --json: one object per line on stdout
    std::string Text;             // without: on stdout
    // With --events stdout holds the events alone: what goes on stderr instead.
    std::string TextBesideEvents;
};

// Prints the ending in the form the options ask for. A stop the user asked for ends the
// command as interrupted, whatever the runs' own endings.
int PrintEnding(CommandContext& context, const UpgradeEnding& ending)
{
    const CliOptions& options = context.Options;
    if (options.Json) {
        for (const Json& line : ending.JsonLines) {
            context.Io.Out << JsonLine(line) << '\n';
        }
    } else if (options.Events) {
        context.Io.Err << ending.TextBesideEvents;
    } else {
        context.Io.Out << ending.Text;
    }
    if (context.Stopped()) {
        if (!options.Json) {
            context.Io.Err << "tarvik-cli: " << TEXT_INTERRUPTED << '\n';
        }
        return EXIT_INTERRUPTED;
    }
    return ending.Status;
}

// The event stream on stdout with --events, one for the panel alone with forPanel, else null.
std::unique_ptr<EventStream> OpenEvents(CommandContext& context, bool forPanel = false)
{
    if (!context.Options.Events && !forPanel) {
        return nullptr;
    }
    auto events = context.Options.Events
                      ? std::make_unique<EventStream>(context.Io.Out, context.Utc)
                      : std::make_unique<EventStream>(context.Utc);
    const ImageTrust& trust = context.Trust;
    events->SetSignature(SignatureStateName(trust.State),
                         trust.KeyId.empty() ? std::nullopt : std::optional(trust.KeyId),
                         trust.KeyId.empty() ? std::nullopt : std::optional(trust.Comment));
    return events;
}

// The one device's ending: its fixed message has been shown on stderr already.
UpgradeEnding OneDeviceEnding(CommandContext& context, const DeviceRunReport& report)
{
    const CliOptions& options = context.Options;
    UpgradeEnding ending;
    if (report.Outcome == UpgradeOutcome::Finished) {
        ending.JsonLines.push_back(Json{{"DeviceName", JsonText(options.DeviceName)},
                                        {"FileName", JsonText(options.ImagePath)},
                                        {"result", std::string(TEXT_FINISHED)},
                                        {"FileSize", report.FileSize},
                                        {"FramesSent", report.FramesSent},
                                        {"ElapsedMs", report.ElapsedMs}});
        return ending;
    }
    ending.Status = ExitStatusFor(report.Outcome);
    std::string text = context.Port.LastMessage();
    if (text.empty()) {
        text = "the upgrade ended without a result";
        if (!options.Json && !context.Stopped()) {
            context.Io.Err << "tarvik-cli: " << text << '\n';
        }
    }
    ending.JsonLines.push_back(ErrorJson(context.Stopped() ? TEXT_INTERRUPTED : text));
    return ending;
}

int UpgradeOne(CommandContext& context)
{
    const CliOptions& options = context.Options;
    if (const int status = context.SettleFrameType(); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    AttemptRecorder recorder(options, context.Io.Err, context.NoteLock, context.Utc);
    if (!recorder.Open(context.InterfaceName(), context.Environment->State().Files,
                       context.Trust)) {
        return EXIT_USAGE;
    }
    recorder.RunStarts(0);
    const std::string recordId = RandomUuid();
    std::unique_ptr<EventStream> events = OpenEvents(context);
    if (events) {
        events->Started(options.DeviceName, recordId);
    }
    ProgressPrinter progress(context.Io.Err, context.ProgressOnTerminal(),
                             context.Environment->Clock());
    EventProgress teed(progress, events.get(), options.DeviceName);
    context.Port.SetBeforeMessage([&progress] { progress.Finish(); });
    const DeviceUpgradeRequest request{options.DeviceName, options.ImagePath, false,
                                       options.ReadBack};
    RunState& run = context.Environment->State();
    DeviceRunReport report = UpgradeDevice(run, request, context.Port, teed, context.Stop);
    context.Port.SetBeforeMessage({});
    progress.Finish();
    context.Verbose("frames sent: " + std::to_string(report.FramesSent) + ", " +
                    std::to_string(report.ElapsedMs) + " ms, file " +
                    std::to_string(report.FileSize) + " bytes");
    recorder.RunEnds(0, report, recordId);
    if (events) {
        events->Ends(report, recordId);
    }
    const int status = PrintEnding(context, OneDeviceEnding(context, report));
    if (options.ReadBack && ReadsBack(report)) {
        ReadBackDescriptor(run, request, report);
        recorder.ReadBack(0, report);
    }
    return status;
}

// Each device's run recorded as it ends (or once its read-back is over), then seen by the
// board and the event stream.
class RecordingWatcher final : public DeviceRunWatcher {
public:
    RecordingWatcher(EventWatcher& inner, AttemptRecorder& recorder)
        : inner_(inner), recorder_(recorder)
    {
    }

    CommandPort& PortFor(std::size_t device) override { return inner_.PortFor(device); }
    ProgressDisplay& ProgressFor(std::size_t device) override { return inner_.ProgressFor(device); }
    void RunStarts(std::size_t device, const std::string& name, const std::string& bay) override
    {
        recorder_.RunStarts(device);
        inner_.RunStarts(device, name, bay);
    }
    void RunEnds(std::size_t device, const DeviceRunReport& report) override
    {
        recorder_.RunEnds(device, report, inner_.RecordId(device));
        inner_.RunEnds(device, report);
    }
    void ReadBack(std::size_t device, const DeviceRunReport& report) override
    {
        recorder_.ReadBack(device, report);
    }

private:
    EventWatcher& inner_;
    AttemptRecorder& recorder_;
};

// The devices to upgrade: those named, or with --all those that answer; with discovery, the
// named ones that did not answer go to missing. False when the command ends here (its status
// in status).
bool FindDevices(CommandContext& context, std::vector<std::string>& names,
                 std::vector<DeviceRunReport>& missing, int& status)
{
    const CliOptions& options = context.Options;
    names = options.DeviceNames;
    if (options.All || !options.FrameType) {
        std::vector<std::string> found;
        if (!BrowseSharedSegment(*context.Environment, context.Port, found)) {
            status = context.Fail(ExitStatusFor(InquiryOutcome::BroadcastError),
                                  context.Port.LastMessage());
            return false;
        }
        if (context.Stopped()) {
            status = context.Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
            return false;
        }
        if (options.All) {
            names = found;
        }
        std::erase_if(names, [&](const std::string& name) {
            if (std::find(found.begin(), found.end(), name) != found.end()) {
                return false;
            }
            DeviceRunReport report;
            report.DeviceName = name;
            report.Result = "did not answer discovery; nothing was sent to it";
            report.ExitStatus = ExitStatusFor(InquiryOutcome::TargetNotFound);
            missing.push_back(std::move(report));
            return true;
        });
    }
    if (names.empty() && missing.empty()) {
        status = context.FailWithNote(EXIT_SOME_DEVICES_FAILED, "no device answered discovery");
        return false;
    }
    return true;
}

// The devices of every bay that answer, each under its bay (bays[i] is the bay of names[i]).
// False when the command ends here (its status in status): a bay whose discovery could not go
// out, the user's stop, or no device in any bay.
bool FindDevicesInBays(CommandContext& context, std::span<const StationBay> bays,
                       std::vector<std::string>& names, std::vector<std::size_t>& deviceBays,
                       int& status)
{
    std::vector<std::vector<std::string>> found;
    const std::size_t failed = BrowseBays(bays, found);
    if (failed < bays.size()) {
        context.Port.ShowMessage(MSG_BROADCAST_ERROR);
        if (!context.Options.Json) {
            context.Io.Err << "tarvik-cli: in bay " << bays[failed].Name << " ("
                           << bays[failed].Interface << ")\n";
        }
        status =
            context.Fail(ExitStatusFor(InquiryOutcome::BroadcastError), context.Port.LastMessage());
        return false;
    }
    if (context.Stopped()) {
        status = context.Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
        return false;
    }
    for (std::size_t bay = 0; bay < bays.size(); ++bay) {
        names.insert(names.end(), found[bay].begin(), found[bay].end());
        deviceBays.insert(deviceBays.end(), found[bay].size(), bay);
    }
    if (names.empty()) {
        status = context.FailWithNote(EXIT_SOME_DEVICES_FAILED, "no device answered discovery");
        return false;
    }
    return true;
}

// The bays a command serves, each on its environment: the first's is the context's own.
std::vector<StationBay> BaysOf(CommandContext& context)
{
    std::vector<StationBay> bays;
    for (std::size_t i = 0; i < context.Bays.size(); ++i) {
        RunEnvironment& environment = i == 0 ? *context.Environment : *context.OtherBays[i - 1];
        bays.push_back({context.Bays[i].Name, context.Bays[i].Interface, environment});
    }
    return bays;
}

// Upgrades every named device (or with --all every device that answers) at once, over the one
// adapter the start-up opened.
int UpgradeSeveral(CommandContext& context)
{
    const CliOptions& options = context.Options;
    RunState& run = context.Environment->State();
    const std::vector<StationBay> bays = BaysOf(context);
    for (const StationBay& bay : bays) {
        bay.Environment.State().FrameVariant =
            options.FrameType.value_or(FrameVariantKind::Untyped);
    }
    run.FrameVariant = options.FrameType.value_or(FrameVariantKind::Untyped);
    std::vector<std::string> names;
    std::vector<std::size_t> deviceBays;
    std::vector<DeviceRunReport> missing;
    if (int status = EXIT_SUCCESS_STATUS;
        bays.empty() ? !FindDevices(context, names, missing, status)
                     : !FindDevicesInBays(context, bays, names, deviceBays, status)) {
        return status;
    }
    AttemptRecorder recorder(options, context.Io.Err, context.NoteLock, context.Utc);
    if (!recorder.Open(context.InterfaceName(), run.Files, context.Trust)) {
        return EXIT_USAGE;
    }
    context.Verbose(std::to_string(names.size()) + " device(s)" +
                    (bays.empty() ? std::string()
                                  : " in " + std::to_string(bays.size()) + " bays") +
                    ", " + std::string(FrameVariantName(run.FrameVariant)) + " frames, pace " +
                    std::to_string(options.PaceMs) + " ms");

    // A device in a bay is shown by its bay and name: the same name may be in every bay.
    std::vector<std::string> shown;
    for (std::size_t i = 0; i < names.size(); ++i) {
        shown.push_back(deviceBays.empty() ? names[i]
                                           : BayAndDevice(bays[deviceBays[i]].Name, names[i]));
    }
    std::unique_ptr<EventStream> events = OpenEvents(context);
    if (events && options.All) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            events->Discovered(names[i],
                               deviceBays.empty() ? std::string() : bays[deviceBays[i]].Name);
        }
    }
    DeviceBoard board(context.Io.Err, context.ProgressOnTerminal(), !options.Json,
                      context.Environment->Clock(), shown);
    EventWatcher watcher(board, events.get(), names);
    RecordingWatcher recording(watcher, recorder);
    SeveralDevicesRequest request;
    request.DeviceNames = names;
    request.ImagePath = options.ImagePath;
    request.DeviceBays = deviceBays;
    request.Jobs = options.Jobs != 0 ? options.Jobs : bays.empty() ? MAX_JOBS : MAX_STATION_JOBS;
    request.SkipOtherBoards = options.All;
    request.ReadBack = options.ReadBack;
    std::vector<DeviceRunReport> reports =
        bays.empty() ? UpgradeSeveralDevices(*context.Environment, request, recording, context.Stop)
                     : UpgradeSeveralDevices(bays, request, recording, context.Stop);
    board.Finish();
    const bool upgraded = EveryDeviceUpgraded(reports) && missing.empty();
    reports.insert(reports.end(), missing.begin(), missing.end());

    UpgradeEnding ending;
    ending.Status = upgraded ? EXIT_SUCCESS_STATUS : EXIT_SOME_DEVICES_FAILED;
    for (const DeviceRunReport& report : reports) {
        ending.JsonLines.push_back(DeviceResultJson(report, options.ImagePath));
    }
    ending.Text = SummaryTable(reports);  // with --events, the devices' ends were among them
    return PrintEnding(context, ending);
}

Json TallyJson(const StationTally& tally)
{
    return Json{{"passed", tally.Passed}, {"failed", tally.Failed}, {"skipped", tally.Skipped}};
}

// The station's ending: the summary of what it did, and with bays each bay's counts (in the
// JSON always, in the text when asked for).
UpgradeEnding StationEnding(const StationSummary& summary, StationConsole& console,
                            const std::vector<BaySpec>& bays, bool countsByBay,
                            std::uint32_t elapsedMs)
{
    const StationTally tally = console.Tally();
    const std::vector<StationTally> bayTallies = console.BayTallies();
    UpgradeEnding ending;
    ending.Status = tally.Failed == 0 ? EXIT_SUCCESS_STATUS : EXIT_SOME_DEVICES_FAILED;
    Json total = TallyJson(tally);
    total["attempts"] = summary.Attempts.size();
    total["ElapsedMs"] = elapsedMs;
    std::string status = "station: " + FormatStationStatus(tally, elapsedMs) + "\n";
    if (!bays.empty()) {
        Json perBay = Json::array();
        for (std::size_t i = 0; i < bays.size(); ++i) {
            Json bay = TallyJson(bayTallies[i]);
            bay["bay"] = JsonText(bays[i].Name);
            perBay.push_back(std::move(bay));
            if (countsByBay) {
                status += bays[i].Name + ": " + FormatStationStatus(bayTallies[i], elapsedMs) +
                          "\n";
            }
        }
        total["bays"] = std::move(perBay);
    }
    ending.JsonLines.push_back(std::move(total));
    std::vector<DeviceRunReport> reports = summary.Attempts;
    reports.insert(reports.end(), summary.Skips.begin(), summary.Skips.end());
    ending.Text = (reports.empty() ? std::string() : SummaryTable(reports)) + status;
    ending.TextBesideEvents = status;
    return ending;
}

}  // namespace

int RunUpgrade(CommandContext& context)
{
    // Before any frame: discovery, the check's query and the record's digest all come after.
    if (const int status = context.CheckSignature(); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    return context.Options.SeveralDevices() ? UpgradeSeveral(context) : UpgradeOne(context);
}

// Flashes each device as it is plugged in, until Ctrl-C (or --stop-after); then the summary.
int RunStationCommand(CommandContext& context)
{
    const CliOptions& options = context.Options;
    if (const int status = context.CheckSignature(); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    AttemptRecorder recorder(options, context.Io.Err, context.NoteLock, context.Utc);
    if (!recorder.Open(context.InterfaceName(), context.Environment->State().Files,
                       context.Trust)) {
        return EXIT_USAGE;
    }
    const std::size_t jobs = options.Jobs == 0 ? STATION_DEFAULT_JOBS : options.Jobs;
    std::unique_ptr<StationPanel> panel;
    if (!options.Panel.Address.empty()) {
        int status = EXIT_SUCCESS_STATUS;
        panel = StationPanel::Open(context, jobs, recorder, status);
        if (!panel) {
            return status;
        }
    }
    std::unique_ptr<EventStream> events = OpenEvents(context, panel != nullptr);
    if (panel) {
        panel->Follow(*events);
    }
    Kernel& clock = context.Environment->Clock();
    std::unique_ptr<AttemptPusher> pusher;
    if (!options.PushUrl.empty()) {
        if (!recorder.HistoryKept()) {
            return context.FailWithNote(EXIT_USAGE, "--push sends the history, and none is kept");
        }
        std::string error;
        StationHeartbeat heartbeat = recorder.Heartbeat();
        for (const BaySpec& bay : context.Bays) {
            heartbeat.Bays += (heartbeat.Bays.empty() ? "" : ",") + bay.Name;
        }
        pusher = StartBackgroundPush(recorder.HistoryPath(), options.PushUrl, heartbeat,
                                     context.Utc, error);
        if (!pusher) {
            return context.FailWithNote(EXIT_USAGE, "cannot push the history: " + error);
        }
    }
    StationBoardShape shape{jobs, {}, options.CountsByBay};
    for (const BaySpec& bay : context.Bays) {
        shape.Bays.push_back(bay.Name);
    }
    StationConsole console(context.Io.Err, context.ProgressOnTerminal(), clock, std::move(shape),
                           events.get());
    if (recorder.Recording()) {
        console.OnRunStarts([&recorder](std::size_t attempt, const std::string&) {
            recorder.RunStarts(attempt);
        });
        console.OnRunEnds([&recorder, &pusher](std::size_t attempt, const DeviceRunReport& report,
                                               const std::string& recordId) {
            recorder.RunEnds(attempt, report, recordId);
            if (pusher) {
                pusher->Wake();
            }
        });
        console.OnReadBack([&recorder, &pusher](std::size_t attempt,
                                                const DeviceRunReport& report) {
            recorder.ReadBack(attempt, report);
            if (pusher) {
                pusher->Wake();
            }
        });
    }
    StationRequest request;
    request.ImagePath = options.ImagePath;
    request.ProbeIntervalMs = options.ProbeIntervalMs;
    request.Variants = options.StationVariants;
    request.Jobs = jobs;
    request.Reflash = options.Reflash;
    request.ReadBack = options.ReadBack;
    const std::uint32_t start = clock.GetTickCount();
    if (options.StopAfterMs) {
        request.Closing = [&clock, start, after = *options.StopAfterMs] {
            return clock.GetTickCount() - start >= after;
        };
    }
    context.Verbose("station: probing every " + std::to_string(options.ProbeIntervalMs) + " ms, " +
                    std::to_string(jobs) + " job(s), pace " + std::to_string(options.PaceMs) +
                    " ms");
    StationSummary summary;
    if (context.Bays.empty()) {
        summary = RunStation(*context.Environment, request, console, context.Stop);
    } else {
        const std::vector<StationBay> bays = BaysOf(context);
        context.Verbose("station: " + std::to_string(bays.size()) + " bays");
        summary = RunStationBays(bays, request, console, context.Stop);
    }
    console.Finish();
    if (summary.ImageOutcome != UpgradeOutcome::Finished) {
        const OutcomeRow& row = RowOf(summary.ImageOutcome);
        context.Port.ShowMessage(row.Text);
        return context.Fail(row.ExitStatus, row.Text);
    }
    if (summary.ProbeFailed && !context.Stopped()) {
        return context.Fail(ExitStatusFor(InquiryOutcome::BroadcastError),
                            RowOf(InquiryOutcome::BroadcastError).Text);
    }
    return PrintEnding(context, StationEnding(summary, console, context.Bays, options.CountsByBay,
                                              clock.GetTickCount() - start));
}

}  // namespace tarvik::cli
