#include "commands/several_devices.h"

#include <algorithm>
#include <array>

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

namespace {

std::vector<RunEnvironment*> EnvironmentsOf(std::span<const StationBay> bays)
{
    std::vector<RunEnvironment*> environments;
    for (const StationBay& bay : bays) {
        environments.push_back(&bay.Environment);
    }
    return environments;
}

}  // namespace

std::size_t BrowseBays(std::span<const StationBay> bays,
                       std::vector<std::vector<std::string>>& names)
{
    names.assign(bays.size(), {});
    std::vector<char> browsed(bays.size(), 0);
    std::vector<std::function<void()>> tasks;
    for (std::size_t i = 0; i < bays.size(); ++i) {
        tasks.emplace_back([&, i] {
            QuietPort quiet;
            browsed[i] = BrowseTargets(bays[i].Environment.State(), quiet, names[i]) ? 1 : 0;
        });
    }
    RunEnvironment::RunAllTogether(EnvironmentsOf(bays), tasks);
    return static_cast<std::size_t>(std::find(browsed.begin(), browsed.end(), 0) - browsed.begin());
}

std::vector<DeviceRunReport> UpgradeSeveralDevices(RunEnvironment& environment,
                                                   const SeveralDevicesRequest& request,
                                                   DeviceRunWatcher& watcher,
                                                   const StopRequested& stop)
{
    const std::array<StationBay, 1> bay{StationBay{{}, {}, environment}};
    return UpgradeSeveralDevices(bay, request, watcher, stop);
}

std::vector<DeviceRunReport> UpgradeSeveralDevices(std::span<const StationBay> bays,
                                                   const SeveralDevicesRequest& request,
                                                   DeviceRunWatcher& watcher,
                                                   const StopRequested& stop)
{
    const std::size_t count = request.DeviceNames.size();
    const auto bayOf = [&](std::size_t device) -> const StationBay& {
        return bays[request.DeviceBays.empty() ? 0 : request.DeviceBays[device]];
    };
    // Each bay's adapter passes its own devices' frames, and no other's.
    std::vector<std::vector<MacAddress>> devices(bays.size());
    for (std::size_t i = 0; i < count; ++i) {
        devices[static_cast<std::size_t>(&bayOf(i) - bays.data())].push_back(
            ParseDeviceName(request.DeviceNames[i]));
    }
    for (std::size_t b = 0; b < bays.size(); ++b) {
        bays[b].Environment.ExpectDevices(devices[b]);
    }
    std::vector<DeviceRunReport> reports(count);
    std::vector<std::function<void()>> tasks;
    for (std::size_t i = 0; i < count; ++i) {
        tasks.emplace_back([&, i] {
            const StationBay& bay = bayOf(i);
            watcher.RunStarts(i, request.DeviceNames[i], bay.Name);
            const DeviceUpgradeRequest upgrade{request.DeviceNames[i], request.ImagePath,
                                               request.SkipOtherBoards, request.ReadBack};
            const auto inBay = [&bay](DeviceRunReport report) {
                report.Bay = bay.Name;
                report.Interface = bay.Interface;
                return report;
            };
            const DeviceRunEndings endings{
                [&, i](const DeviceRunReport& report) { watcher.RunEnds(i, inBay(report)); },
                [&, i](const DeviceRunReport& report) { watcher.ReadBack(i, inBay(report)); }};
            reports[i] = inBay(UpgradeOnSharedAdapter(bay.Environment, upgrade, watcher.PortFor(i),
                                                      watcher.ProgressFor(i), stop, endings));
        });
    }
    RunEnvironment::RunAllTogether(EnvironmentsOf(bays), tasks, request.Jobs);
    for (const StationBay& bay : bays) {
        bay.Environment.ExpectDevices({});
    }
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
