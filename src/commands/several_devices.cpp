#include "commands/several_devices.h"

#include <algorithm>

#include "commands/outcomes.h"
#include "netio/adapter_discovery.h"
#include "protocol/progress.h"
#include "protocol/upgrade_link.h"

namespace tarvik {

void SettleReport(DeviceRunReport& report, UpgradeOutcome outcome, bool skipOtherBoards,
                  bool stopped)
{
    const OutcomeRow& row = RowOf(outcome);
    report.Outcome = outcome;
    report.Stopped = stopped && outcome != UpgradeOutcome::Finished;
    report.Skipped = skipOtherBoards && outcome == UpgradeOutcome::HardwareMismatch;
    if (report.Stopped) {
        report.Result = TEXT_INTERRUPTED;
        report.ExitStatus = RowOf(ProgramOutcome::Interrupted).ExitStatus;
        return;
    }
    report.Result = outcome == UpgradeOutcome::Finished ? std::string(TEXT_FINISHED)
                    : !row.Text.empty()                 ? std::string(row.Text)
                                                        : std::string(row.Meaning);
    report.ExitStatus = row.ExitStatus;
}

DeviceRunReport UpgradeDevice(RunState& run, const DeviceUpgradeRequest& request, CommandPort& port,
                              ProgressDisplay& progress, const StopRequested& stop)
{
    Kernel& clock = run.Link.kernel();
    DeviceRunReport report;
    report.DeviceName = request.DeviceName;
    const std::uint64_t sentBefore = run.FramesSent;
    const std::uint64_t resentBefore = run.FramesResent;
    const std::uint32_t start = clock.GetTickCount();
    const UpgradeOutcome outcome = RunUpgradeCommand(run, port, progress, request.DeviceName,
                                                     request.ImagePath, stop, &report.Descriptor);
    report.ElapsedMs = clock.GetTickCount() - start;
    report.FramesSent = run.FramesSent - sentBefore;
    report.FramesResent = run.FramesResent - resentBefore;
    report.FileSize = run.Session.FileSize;
    SettleReport(report, outcome, request.SkipOtherBoards, stop && stop());
    return report;
}

void ReadBackDescriptor(RunState& run, const DeviceUpgradeRequest& request, DeviceRunReport& report)
{
    if (!request.ReadBack || !ReadsBack(report)) {
        return;
    }
    UpgradeLink link(run);
    ImageDescriptor after;
    if (link.FetchTargetInfo(ParseDeviceName(request.DeviceName), after.Bytes.data(),
                             DESCRIPTOR_AFTER_RESET_TRIES) == QUERY_OK) {
        report.DescriptorAfter = after;
    }
}

DeviceRunReport UpgradeOnSharedAdapter(RunEnvironment& environment,
                                       const DeviceUpgradeRequest& request, CommandPort& port,
                                       ProgressDisplay& progress, const StopRequested& stop,
                                       const DeviceRunEndings& endings,
                                       std::optional<FrameVariantKind> variant)
{
    DeviceRunReport report;
    report.DeviceName = request.DeviceName;
    const MacAddress device = ParseDeviceName(report.DeviceName);
    int opened = DISCOVERY_OK;
    std::unique_ptr<DeviceRun> run = environment.OpenDeviceRun(device, opened, variant);
    if (!run) {
        const OutcomeRow* row = StartupRow(opened);
        report.Result = row != nullptr ? std::string(row->Text) : "the adapter could not be opened";
        report.ExitStatus = row != nullptr ? row->ExitStatus
                                           : RowOf(UpgradeOutcome::Other).ExitStatus;
    } else {
        report = UpgradeDevice(run->State(), request, port, progress, stop);
    }
    if (endings.Ended) {
        endings.Ended(report);
    }
    if (run && request.ReadBack && ReadsBack(report)) {
        ReadBackDescriptor(run->State(), request, report);
        if (endings.ReadBack) {
            endings.ReadBack(report);
        }
    }
    return report;
}

namespace {

DeviceRunReport UpgradeOneDevice(RunEnvironment& environment, const SeveralDevicesRequest& request,
                                 std::size_t index, DeviceRunWatcher& watcher,
                                 const StopRequested& stop)
{
    const DeviceUpgradeRequest upgrade{request.DeviceNames[index], request.ImagePath,
                                       request.SkipOtherBoards, request.ReadBack};
    const DeviceRunEndings endings{
        [&watcher, index](const DeviceRunReport& report) { watcher.RunEnds(index, report); },
        [&watcher, index](const DeviceRunReport& report) { watcher.ReadBack(index, report); }};
    return UpgradeOnSharedAdapter(environment, upgrade, watcher.PortFor(index),
                                  watcher.ProgressFor(index), stop, endings);
}

}  // namespace

bool BrowseSharedSegment(RunEnvironment& environment, CommandPort& port,
                         std::vector<std::string>& names)
{
    bool browsed = false;
    const std::function<void()> browse = [&] {
        browsed = BrowseTargets(environment.State(), port, names);
    };
    environment.RunAll(std::span(&browse, 1), 0);
    return browsed;
}

std::vector<DeviceRunReport> UpgradeSeveralDevices(RunEnvironment& environment,
                                                   const SeveralDevicesRequest& request,
                                                   DeviceRunWatcher& watcher,
                                                   const StopRequested& stop)
{
    std::vector<DeviceRunReport> reports(request.DeviceNames.size());
    std::vector<MacAddress> devices;
    for (const std::string& name : request.DeviceNames) {
        devices.push_back(ParseDeviceName(name));
    }
    environment.ExpectDevices(devices);
    std::vector<std::function<void()>> tasks;
    for (std::size_t i = 0; i < request.DeviceNames.size(); ++i) {
        tasks.emplace_back([&, i] {
            watcher.RunStarts(i, request.DeviceNames[i], {});
            reports[i] = UpgradeOneDevice(environment, request, i, watcher, stop);
        });
    }
    environment.RunAll(tasks, request.Jobs);
    environment.ExpectDevices({});
    return reports;
}

bool EveryDeviceUpgraded(const std::vector<DeviceRunReport>& reports)
{
    bool any = false;
    for (const DeviceRunReport& report : reports) {
        if (report.Skipped) {
            continue;
        }
        if (report.Outcome != UpgradeOutcome::Finished || report.Stopped) {
            return false;
        }
        any = true;
    }
    return any;
}

}  // namespace tarvik
