#include "cli/cli_app.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "cli/descriptor_text.h"
#include "cli/device_board.h"
#include "cli/device_summary.h"
#include "cli/doctor_printer.h"
#include "cli/event_stream.h"
#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "cli/history_sink.h"
#include "cli/json_output.h"
#include "cli/progress_printer.h"
#include "cli/station_console.h"
#include "cli/terminal_port.h"
#include "cli/upgrade_record.h"
#include "commands/doctor.h"
#include "commands/failure_catalogue.h"
#include "commands/run_environment.h"
#include "commands/several_devices.h"
#include "commands/startup.h"
#include "platform/formats/pcap_reader.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

class CommandRunner {
public:
    CommandRunner(const CliOptions& options, Streams streams, const StopRequested& stop)
        : options_(options), streams_(streams), stop_(stop), port_(streams.Err, !options.Json, stop)
    {
    }

    int Run()
    {
        // Explaining a status needs nothing of the machine: no adapter, no trace.
        if (options_.Which == Command::Explain) {
            return Explain();
        }
        // Nor does the history, which is a file of this machine's.
        if (options_.Which == Command::History) {
            return RunHistoryCommand(options_, streams_);
        }
        std::optional<ReplayTarget> replay;
        if (!options_.ReplayPath.empty()) {
            std::string error;
            replay = ReadReplay(error);
            if (!replay) {
                return FailWithNote(EXIT_USAGE,
                                    "cannot replay " + options_.ReplayPath + ": " + error);
            }
        }
        environment_ = RunEnvironment::Make(options_.Lab ? SegmentKind::Lab : SegmentKind::Real,
                                            stop_,
                                            options_.SeveralDevices() ? RunSharing::SeveralRuns
                                                                      : RunSharing::OneRun,
                                            std::move(replay), options_.LabPlugs);
        environment_->AdapterBinding().SetSendPause(options_.PaceMs);
        if (options_.AdmitEveryFrame) {
            environment_->Access().AdmitEveryFrame();
        }
        if (!options_.TracePath.empty()) {
            if (const auto error = environment_->TraceTo(options_.TracePath)) {
                return FailWithNote(EXIT_USAGE,
                                    "cannot write the trace " + options_.TracePath + ": " + *error);
            }
        }
        // Reading an image file and listing the adapters need no open adapter; doctor opens
        // each adapter itself.
        if (options_.Which != Command::Info && options_.Which != Command::Adapters &&
            options_.Which != Command::Doctor) {
            if (const int status = Start(); status != EXIT_SUCCESS_STATUS) {
                return Fail(status, port_.LastMessage());
            }
        }
        switch (options_.Which) {
        case Command::Adapters:
            return Adapters();
        case Command::Browse:
            return Browse();
        case Command::Device:
            return Device();
        case Command::Info:
            return Info();
        case Command::Check:
            return Check();
        case Command::Upgrade:
            return Upgrade();
        case Command::Station:
            return Station();
        case Command::Explain:
            return Explain();
        case Command::Doctor:
            return Doctor();
        case Command::History:
            return RunHistoryCommand(options_, streams_);
        }
        return EXIT_USAGE;
    }

private:
    bool Stopped() const { return stop_ && stop_(); }

    // The device of the capture --replay names, telling on stderr once per kind of request
    // what the capture never answered.
    std::optional<ReplayTarget> ReadReplay(std::string& error)
    {
        const auto frames = ReadPcapFrames(options_.ReplayPath, error);
        if (!frames) {
            return std::nullopt;
        }
        auto session =
            RecordedSession::FromCapture(*frames, options_.ReplayDevice, "--replay-device", error);
        if (!session) {
            return std::nullopt;
        }
        ReplayTarget device(std::move(*session));
        std::ostream& err = streams_.Err;
        device.SetUnansweredNote([&err](const std::string& line) {
            err << "tarvik-cli: replay: " << line << '\n';
        });
        return device;
    }

    // Prints a failure: the flows have shown their fixed text already, unless output is JSON.
    int Fail(int status, std::string_view text)
    {
        if (Stopped()) {
            status = EXIT_INTERRUPTED;
            text = TEXT_INTERRUPTED;
            if (!options_.Json) {
                streams_.Err << "tarvik-cli: " << TEXT_INTERRUPTED << '\n';
            }
        }
        if (options_.Json) {
            streams_.Out << ErrorJson(text).dump() << '\n';
        }
        return status;
    }

    // A failure that has no fixed text of its own: said in plain words on stderr.
    int FailWithNote(int status, std::string_view text)
    {
        if (!options_.Json && !Stopped()) {
            streams_.Err << "tarvik-cli: " << text << '\n';
        }
        return Fail(status, text);
    }

    // Every status the topic names (a message shared by several statuses names each); with
    // --json one object per line.
    int Explain()
    {
        for (const ExplainedStatus& status : ExplainTopic(options_.Topic)) {
            if (options_.Json) {
                streams_.Out << ExplainedJson(status).dump() << '\n';
            } else {
                streams_.Out << ExplainText(status);
            }
        }
        return EXIT_SUCCESS_STATUS;
    }

    int Doctor()
    {
        DoctorPrinter printer(streams_.Out, options_.Json);
        const bool healthy =
            RunDoctor(*environment_, {options_.Interface, options_.InvokedAs}, printer);
        if (Stopped()) {
            return Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
        }
        return healthy ? EXIT_SUCCESS_STATUS : EXIT_DOCTOR_FOUND_FAULT;
    }

    void Verbose(const std::string& line)
    {
        if (options_.Verbose) {
            streams_.Err << "tarvik-cli: " << line << '\n';
        }
    }

    void ListForUser(const AdapterList& list)
    {
        for (std::size_t i = 0; i < list.Names.size(); ++i) {
            streams_.Err << "  " << i << "  " << list.Descriptions[i] << "  (" << list.Names[i]
                         << ")\n";
        }
    }

    // Opens the adapter: the one -i names, or the first the start-up sequence lists (the lab
    // has one). Returns the exit status; a failure's message has been shown.
    int Start()
    {
        FirstAdapterSelection selection;
        const std::string_view named = options_.Lab ? std::string_view{} : options_.Interface;
        const int result = environment_->Start(selection, port_, named);
        const AdapterList& list = environment_->Adapters();
        if (result == STARTUP_UNKNOWN_ADAPTER) {
            streams_.Err << "tarvik-cli: no adapter " << options_.Interface
                         << "; the adapters are:\n";
            ListForUser(list);
            port_.Note("no adapter " + options_.Interface);
        } else if (result == STARTUP_READY && named.empty() && list.Count >= 2) {
            streams_.Err << "tarvik-cli: using adapter 0, " << list.Descriptions[0]
                         << "; pick another with -i IFNAME:\n";
            ListForUser(list);
        }
        if (const std::string hint =
                environment_->Access().PrivilegeHintFor(result, options_.InvokedAs);
            !hint.empty()) {
            streams_.Err << hint << '\n';
        }
        return StartupExitStatus(result);
    }

    // Settles FrameVariant for the commands that talk to one device. 0 to go on.
    int SettleFrameType()
    {
        RunState& run = environment_->State();
        if (options_.FrameType) {
            run.FrameVariant = *options_.FrameType;
            return EXIT_SUCCESS_STATUS;
        }
        std::vector<std::string> names;
        if (!BrowseTargets(run, port_, names)) {
            return Fail(ExitStatusFor(InquiryOutcome::BroadcastError), port_.LastMessage());
        }
        Verbose("discovery settled on " + std::string(FrameVariantName(run.FrameVariant)) +
                " frames");
        const std::string wanted = FormatDeviceName(ParseDeviceName(options_.DeviceName));
        if (std::find(names.begin(), names.end(), wanted) == names.end()) {
            return FailWithNote(ExitStatusFor(InquiryOutcome::TargetNotFound),
                                options_.DeviceName +
                                    " did not answer discovery; nothing was sent to it");
        }
        return EXIT_SUCCESS_STATUS;
    }

    int Adapters()
    {
        AdapterList list;
        if (const int result = environment_->ListAdapters(port_, list); result != DISCOVERY_OK) {
            return Fail(StartupExitStatus(result), port_.LastMessage());
        }
        // Where the system has a name of its own for the connection (Windows), it goes last:
        // -i takes it as well.
        InterfaceAccess& access = environment_->Access();
        if (options_.Json) {
            Json adapters = Json::array();
            for (std::size_t i = 0; i < list.Names.size(); ++i) {
                Json adapter{
                    {"Index", i}, {"Description", list.Descriptions[i]}, {"Name", list.Names[i]}};
                if (const std::string friendly = access.FriendlyName(list.Names[i]);
                    !friendly.empty()) {
                    adapter["FriendlyName"] = friendly;
                }
                adapters.push_back(std::move(adapter));
            }
            streams_.Out << adapters.dump(2) << '\n';
        } else {
            for (std::size_t i = 0; i < list.Names.size(); ++i) {
                streams_.Out << i << "  " << list.Descriptions[i] << "  " << list.Names[i];
                if (const std::string friendly = access.FriendlyName(list.Names[i]);
                    !friendly.empty()) {
                    streams_.Out << "  \"" << friendly << '"';
                }
                streams_.Out << '\n';
            }
        }
        return EXIT_SUCCESS_STATUS;
    }

    int Browse()
    {
        std::vector<std::string> names;
        RunState& run = environment_->State();
        run.FrameVariant = FrameVariantKind::Untyped;
        if (!BrowseTargets(run, port_, names)) {
            return Fail(ExitStatusFor(InquiryOutcome::BroadcastError), port_.LastMessage());
        }
        if (Stopped()) {
            return Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
        }
        Verbose(std::to_string(names.size()) + " device(s), " +
                std::string(FrameVariantName(run.FrameVariant)) + " frames");
        if (options_.Json) {
            streams_.Out << NamesJson(names).dump() << '\n';
        } else {
            for (const std::string& name : names) {
                streams_.Out << name << '\n';
            }
        }
        return EXIT_SUCCESS_STATUS;
    }

    int Device()
    {
        if (const int status = SettleFrameType(); status != EXIT_SUCCESS_STATUS) {
            return status;
        }
        ImageDescriptor descriptor;
        if (!ShowDeviceInformation(environment_->State(), port_, options_.DeviceName, descriptor)) {
            return Fail(ExitStatusFor(InquiryOutcome::AccessTargetError), port_.LastMessage());
        }
        if (options_.Json) {
            streams_.Out << DescriptorJson(descriptor, "DeviceName", options_.DeviceName).dump(2)
                         << '\n';
        } else {
            streams_.Out << DescriptorText(descriptor, "Device Name:", options_.DeviceName);
        }
        return EXIT_SUCCESS_STATUS;
    }

    int Info()
    {
        ImageDescriptor descriptor;
        if (!ShowFileInformation(environment_->State(), port_, options_.ImagePath, descriptor)) {
            return Fail(ExitStatusFor(InquiryOutcome::FileAccessError), port_.LastMessage());
        }
        if (options_.Json) {
            streams_.Out << DescriptorJson(descriptor, "FileName", options_.ImagePath).dump(2)
                         << '\n';
        } else {
            streams_.Out << DescriptorText(descriptor, "File Name:", options_.ImagePath);
        }
        return EXIT_SUCCESS_STATUS;
    }

    int Check()
    {
        if (const int status = SettleFrameType(); status != EXIT_SUCCESS_STATUS) {
            return status;
        }
        const UpgradeOutcome outcome =
            RunCheckCommand(environment_->State(), port_, options_.DeviceName, options_.ImagePath);
        if (outcome != UpgradeOutcome::Finished) {
            return Fail(ExitStatusFor(outcome), port_.LastMessage());
        }
        if (options_.Json) {
            streams_.Out << Json{{"DeviceName", options_.DeviceName},
                                 {"FileName", JsonText(options_.ImagePath)},
                                 {"fits", true}}
                                .dump()
                         << '\n';
        } else {
            streams_.Out << options_.ImagePath << " fits " << options_.DeviceName << '\n';
        }
        return EXIT_SUCCESS_STATUS;
    }

    bool ProgressOnTerminal() const
    {
        switch (options_.Progress) {
        case ProgressStyle::Bar:
            return true;
        case ProgressStyle::Plain:
            return false;
        case ProgressStyle::Auto:
            break;
        }
        return streams_.ErrIsTerminal;
    }

    // The adapter's interface, as the record names it ("eth0", "lab0").
    std::string InterfaceName() const
    {
        const AdapterList& list = environment_->Adapters();
        if (list.Selection < 0 || static_cast<std::size_t>(list.Selection) >= list.Names.size()) {
            return options_.Interface;
        }
        const std::string& name = list.Names[static_cast<std::size_t>(list.Selection)];
        return name.starts_with(ADAPTER_NAME_PREFIX) ? name.substr(ADAPTER_NAME_PREFIX.size())
                                                     : name;
    }

    // The event stream on stdout with --events, else null.
    std::unique_ptr<EventStream> OpenEvents()
    {
        return options_.Events ? std::make_unique<EventStream>(streams_.Out, utc_) : nullptr;
    }

    // Opens --record's file, when given, and the history; false (the failure said) when the
    // record cannot be opened. A history that cannot be kept is a warning, no failure.
    bool OpenRecord()
    {
        history_ = std::make_unique<HistorySink>(options_.History, streams_.Err, noteLock_);
        if (options_.RecordPath.empty() && !history_->Keeps()) {
            return true;
        }
        context_ = RecordContext{InterfaceName(), options_.ImagePath,
                                 DigestImageFile(files_, options_.ImagePath), options_.PaceMs};
        if (options_.RecordPath.empty()) {
            return true;
        }
        std::string error;
        recorder_ = UpgradeRecorder::Open(options_.RecordPath, context_, error);
        if (!recorder_) {
            streams_.Err << "tarvik-cli: cannot append to " << options_.RecordPath << ": " << error
                         << '\n';
            return false;
        }
        return true;
    }

    bool HistoryKept() const { return history_ && history_->Keeps(); }

    // Whether each attempt is recorded, in --record's file or the history.
    bool Recording() const { return recorder_ != nullptr || (history_ && history_->Keeps()); }

    // When each attempt started, for its record line and its history record.
    void RunStarts(std::size_t device)
    {
        std::lock_guard lock(startLock_);
        starts_[device] = utc_.MillisecondsSinceEpoch();
    }

    void Record(std::size_t device, const DeviceRunReport& report, const std::string& recordId)
    {
        const std::int64_t end = utc_.MillisecondsSinceEpoch();
        std::int64_t start = end;
        {
            std::lock_guard lock(startLock_);
            if (const auto found = starts_.find(device); found != starts_.end()) {
                start = found->second;
                starts_.erase(found);  // a station records all day
            }
        }
        if (recorder_ && !recorder_->Write(report, start, end, recordId)) {
            std::lock_guard lock(noteLock_);
            streams_.Err << "tarvik-cli: the record of " << report.DeviceName
                         << " could not be written to " << options_.RecordPath << '\n';
        }
        if (history_ && history_->Keeps()) {
            history_->Add(context_, report, start, end, recordId);
        }
    }

    int Upgrade()
    {
        if (options_.SeveralDevices()) {
            return UpgradeSeveral();
        }
        if (const int status = SettleFrameType(); status != EXIT_SUCCESS_STATUS) {
            return status;
        }
        if (!OpenRecord()) {
            return EXIT_USAGE;
        }
        RunStarts(0);
        const std::string recordId = RandomUuid();
        std::unique_ptr<EventStream> events = OpenEvents();
        if (events) {
            events->Started(options_.DeviceName, recordId);
        }
        ProgressPrinter progress(streams_.Err, ProgressOnTerminal(), environment_->Clock());
        EventProgress teed(progress, events.get(), options_.DeviceName);
        port_.SetBeforeMessage([&progress] { progress.Finish(); });
        const DeviceUpgradeRequest request{options_.DeviceName, options_.ImagePath, false,
                                           Recording() || events != nullptr, HistoryKept()};
        const DeviceRunReport report =
            UpgradeDevice(environment_->State(), request, port_, teed, stop_);
        port_.SetBeforeMessage({});
        progress.Finish();
        Verbose("frames sent: " + std::to_string(report.FramesSent) + ", " +
                std::to_string(report.ElapsedMs) + " ms, file " + std::to_string(report.FileSize) +
                " bytes");
        Record(0, report, recordId);
        if (events) {
            events->Ends(report, recordId);
        }

        if (report.Outcome != UpgradeOutcome::Finished) {
            const int status = ExitStatusFor(report.Outcome);
            if (!port_.LastMessage().empty()) {
                return Fail(status, port_.LastMessage());
            }
            return FailWithNote(status, "the upgrade ended without a result");
        }
        if (options_.Json) {
            streams_.Out << Json{{"DeviceName", options_.DeviceName},
                                 {"FileName", JsonText(options_.ImagePath)},
                                 {"result", std::string(TEXT_FINISHED)},
                                 {"FileSize", report.FileSize},
                                 {"FramesSent", report.FramesSent},
                                 {"ElapsedMs", report.ElapsedMs}}
                                .dump()
                         << '\n';
        }
        return EXIT_SUCCESS_STATUS;
    }

    // Upgrades every named device (or with --all every device that answers) at once, over the
    // one adapter the start-up opened.
    int UpgradeSeveral()
    {
        RunState& run = environment_->State();
        run.FrameVariant = options_.FrameType.value_or(FrameVariantKind::Untyped);
        std::vector<std::string> names = options_.DeviceNames;
        std::vector<DeviceRunReport> missing;
        if (options_.All || !options_.FrameType) {
            std::vector<std::string> found;
            if (!BrowseSharedSegment(*environment_, port_, found)) {
                return Fail(ExitStatusFor(InquiryOutcome::BroadcastError), port_.LastMessage());
            }
            if (Stopped()) {
                return Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
            }
            if (options_.All) {
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
            return FailWithNote(EXIT_SOME_DEVICES_FAILED, "no device answered discovery");
        }
        if (!OpenRecord()) {
            return EXIT_USAGE;
        }
        Verbose(std::to_string(names.size()) + " device(s), " +
                std::string(FrameVariantName(run.FrameVariant)) + " frames, pace " +
                std::to_string(options_.PaceMs) + " ms");

        std::unique_ptr<EventStream> events = OpenEvents();
        if (events && options_.All) {
            for (const std::string& name : names) {
                events->Discovered(name);
            }
        }
        DeviceBoard board(streams_.Err, ProgressOnTerminal(), !options_.Json, environment_->Clock(),
                          names);
        EventWatcher watcher(board, events.get(), names);
        if (Recording()) {
            board.OnRunStarts([this](std::size_t device) { RunStarts(device); });
            board.OnRunEnds([this, &watcher](std::size_t device, const DeviceRunReport& report) {
                Record(device, report, watcher.RecordId(device));
            });
        }
        SeveralDevicesRequest request;
        request.DeviceNames = names;
        request.ImagePath = options_.ImagePath;
        request.Jobs = options_.Jobs == 0 ? MAX_JOBS : options_.Jobs;
        request.SkipOtherBoards = options_.All;
        request.ReadDescriptor = Recording() || events != nullptr;
        request.ReadDescriptorAfter = HistoryKept();
        std::vector<DeviceRunReport> reports =
            UpgradeSeveralDevices(*environment_, request, watcher, stop_);
        board.Finish();
        const bool upgraded = EveryDeviceUpgraded(reports) && missing.empty();
        reports.insert(reports.end(), missing.begin(), missing.end());

        if (events) {
            // stdout holds the events alone; the devices' ends were among them.
        } else if (options_.Json) {
            for (const DeviceRunReport& report : reports) {
                streams_.Out << DeviceResultJson(report, options_.ImagePath).dump() << '\n';
            }
        } else {
            streams_.Out << SummaryTable(reports);
        }
        if (Stopped()) {
            if (!options_.Json) {
                streams_.Err << "tarvik-cli: " << TEXT_INTERRUPTED << '\n';
            }
            return EXIT_INTERRUPTED;
        }
        return upgraded ? EXIT_SUCCESS_STATUS : EXIT_SOME_DEVICES_FAILED;
    }

    // Flashes each device as it is plugged in, until Ctrl-C (or --stop-after); then the summary.
    int Station()
    {
        if (!OpenRecord()) {
            return EXIT_USAGE;
        }
        std::unique_ptr<EventStream> events = OpenEvents();
        const std::size_t jobs = options_.Jobs == 0 ? STATION_DEFAULT_JOBS : options_.Jobs;
        Kernel& clock = environment_->Clock();
        std::unique_ptr<AttemptPusher> pusher;
        if (!options_.PushUrl.empty()) {
            if (!HistoryKept()) {
                return FailWithNote(EXIT_USAGE, "--push sends the history, and none is kept");
            }
            std::string error;
            pusher = StartBackgroundPush(history_->Path(), options_.PushUrl, error);
            if (!pusher) {
                return FailWithNote(EXIT_USAGE, "cannot push the history: " + error);
            }
        }
        StationConsole console(streams_.Err, ProgressOnTerminal(), clock, jobs, events.get());
        if (Recording()) {
            console.OnRunStarts([this](std::size_t attempt, const std::string&) {
                RunStarts(attempt);
            });
            console.OnRunEnds([this, &pusher](std::size_t attempt, const DeviceRunReport& report,
                                              const std::string& recordId) {
                Record(attempt, report, recordId);
                if (pusher) {
                    pusher->Wake();
                }
            });
        }
        StationRequest request;
        request.ImagePath = options_.ImagePath;
        request.ProbeIntervalMs = options_.ProbeIntervalMs;
        request.Variants = options_.StationVariants;
        request.Jobs = jobs;
        request.Reflash = options_.Reflash;
        request.ReadDescriptor = true;
        request.ReadDescriptorAfter = HistoryKept();
        const std::uint32_t start = clock.GetTickCount();
        if (options_.StopAfterMs) {
            request.Closing = [&clock, start, after = *options_.StopAfterMs] {
                return clock.GetTickCount() - start >= after;
            };
        }
        Verbose("station: probing every " + std::to_string(options_.ProbeIntervalMs) + " ms, " +
                std::to_string(jobs) + " job(s), pace " + std::to_string(options_.PaceMs) + " ms");
        const StationSummary summary = RunStation(*environment_, request, console, stop_);
        console.Finish();
        if (summary.ImageOutcome != UpgradeOutcome::Finished) {
            const OutcomeRow& row = RowOf(summary.ImageOutcome);
            port_.ShowMessage(row.Text);
            return Fail(row.ExitStatus, row.Text);
        }
        if (summary.ProbeFailed && !Stopped()) {
            return Fail(ExitStatusFor(InquiryOutcome::BroadcastError),
                        RowOf(InquiryOutcome::BroadcastError).Text);
        }
        const StationTally tally = console.Tally();
        const std::string status = FormatStationStatus(tally, clock.GetTickCount() - start);
        if (options_.Json) {
            streams_.Out << Json{{"passed", tally.Passed},
                                 {"failed", tally.Failed},
                                 {"skipped", tally.Skipped},
                                 {"attempts", summary.Attempts.size()},
                                 {"ElapsedMs", clock.GetTickCount() - start}}
                                .dump()
                         << '\n';
        } else if (!events) {
            std::vector<DeviceRunReport> reports = summary.Attempts;
            reports.insert(reports.end(), summary.Skips.begin(), summary.Skips.end());
            if (!reports.empty()) {
                streams_.Out << SummaryTable(reports);
            }
            streams_.Out << "station: " << status << '\n';
        } else {
            streams_.Err << "station: " << status << '\n';  // stdout holds the events alone
        }
        if (Stopped()) {
            if (!options_.Json) {
                streams_.Err << "tarvik-cli: " << TEXT_INTERRUPTED << '\n';
            }
            return EXIT_INTERRUPTED;
        }
        return tally.Failed == 0 ? EXIT_SUCCESS_STATUS : EXIT_SOME_DEVICES_FAILED;
    }

    const CliOptions& options_;
    Streams streams_;
    const StopRequested& stop_;
    TerminalPort port_;
    std::unique_ptr<RunEnvironment> environment_;
    SystemFileSystem files_;
    SystemUtcClock utc_;
    std::unique_ptr<UpgradeRecorder> recorder_;
    std::unique_ptr<HistorySink> history_;
    RecordContext context_;
    std::mutex noteLock_;
    std::mutex startLock_;
    std::map<std::size_t, std::int64_t> starts_;
};

}  // namespace

int RunCli(const CliOptions& options, Streams streams, const StopRequested& stop)
{
    CommandRunner runner(options, streams, stop);
    return runner.Run();
}

}  // namespace tarvik::cli
