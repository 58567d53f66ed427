#include "commands/station.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "commands/outcomes.h"
#include "image/image_file.h"
#include "protocol/upgrade_link.h"

namespace tarvik {

StationLedger::Answer StationLedger::Answered(const MacAddress& device, bool fits)
{
    Answer answer;
    auto [entry, isNew] = devices_.try_emplace(device);
    Device& known = entry->second;
    known.AnsweredThisRound = true;
    known.Missed = 0;
    if (isNew) {
        answer.Arrived = true;
        known.At = fits ? Phase::Busy : Phase::Skipped;
        answer.Do = fits ? Decision::Upgrade : Decision::Skip;
        return answer;
    }
    if (known.At == Phase::Busy) {
        return answer;
    }
    known.AnsweredSinceRun = true;
    if (!known.Left) {
        return answer;
    }
    known.Left = false;
    answer.Arrived = true;
    answer.CameBack = true;
    if (known.At == Phase::Failed || (known.At == Phase::Passed && reflash_)) {
        known.At = Phase::Busy;
        answer.Do = Decision::Upgrade;
    }
    return answer;
}

void StationLedger::RoundEnds()
{
    for (auto& [address, device] : devices_) {
        const bool answered = device.AnsweredThisRound;
        device.AnsweredThisRound = false;
        if (answered || device.At == Phase::Busy || device.Left) {
            continue;
        }
        ++device.Missed;
        // A device that passed reboots after its reset and misses probes meanwhile; it has
        // left only once it answered after its run. A device that failed (or was pulled in the
        // middle of its transfer) need not answer first.
        const bool settled = device.At != Phase::Passed || device.AnsweredSinceRun;
        if (device.Missed >= STATION_ABSENT_PROBES && settled) {
            device.Left = true;
        }
    }
}

void StationLedger::RunEnds(const MacAddress& device, bool passed)
{
    Device& known = devices_[device];
    known.At = passed ? Phase::Passed : Phase::Failed;
    known.Missed = 0;
    known.AnsweredSinceRun = false;
    known.Left = false;
}

namespace {

struct WaitingDevice {
    MacAddress Address;
    FrameVariantKind Variant = FrameVariantKind::Untyped;
};

// An attempt that finished, whose device is to be read back.
struct PendingReadBack {
    std::size_t Attempt = 0;
    WaitingDevice Device;
    DeviceRunReport Report;
};

// How long an idle job waits for a device before it looks again whether the station closed;
// a new device wakes it at once.
constexpr std::uint32_t JOB_IDLE_WAIT_MS = 1000;

class Station;

// What the bays of one station share: one numbering of the attempts, and the cap on the
// transfers in flight over all of them. A job that finds a device waiting and no transfer
// free waits until one ends.
class SharedJobs {
public:
    explicit SharedJobs(std::size_t limit) : limit_(limit) {}

    void Serve(Station& bay) { bays_.push_back(&bay); }
    // The next attempt's number and a transfer of the cap; nothing when every one is taken.
    std::optional<std::size_t> Take()
    {
        std::lock_guard lock(lock_);
        if (inFlight_ >= limit_) {
            return std::nullopt;
        }
        ++inFlight_;
        return attempts_++;
    }
    void Return();

private:
    const std::size_t limit_;
    std::vector<Station*> bays_;
    std::mutex lock_;
    std::size_t inFlight_ = 0;
    std::size_t attempts_ = 0;
};

class Station {
public:
    Station(RunEnvironment& environment, const StationRequest& request, DeviceRunWatcher& watcher,
            const StopRequested& stop, const ImageDescriptor& image, SharedJobs& shared,
            std::string bay = {}, std::string interfaceName = {})
        : environment_(environment), request_(request), watcher_(watcher), stop_(stop),
          image_(image), shared_(shared), bay_(std::move(bay)),
          interface_(std::move(interfaceName)), ledger_(request.Reflash)
    {
        shared_.Serve(*this);
    }
    ~Station()
    {
        Kernel& clock = environment_.Clock();
        for (const EventHandle wake : wakes_) {
            clock.CloseHandle(wake);
        }
        if (request_.ReadBack) {
            clock.CloseHandle(readBackWake_);
        }
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    StationSummary Run()
    {
        std::vector<std::function<void()>> tasks;
        AddTasks(tasks);
        environment_.RunAll(tasks, 0);
        return std::move(summary_);
    }

    // The bay's tasks: its probe, its jobs and its read-backs.
    void AddTasks(std::vector<std::function<void()>>& tasks)
    {
        Kernel& clock = environment_.Clock();
        const std::size_t jobs = std::clamp<std::size_t>(request_.Jobs, 1, MAXIMUM_WAIT_OBJECTS);
        for (std::size_t i = 0; i < jobs; ++i) {
            wakes_.push_back(clock.CreateEvent());
        }
        tasks.emplace_back([this] { Probe(); });
        for (std::size_t i = 0; i < jobs; ++i) {
            tasks.emplace_back([this, i] { Work(i); });
        }
        jobsAtWork_ = jobs;
        // The read-backs have a task of their own: a job is free for the next device as soon as
        // the reset is acknowledged, however long a device takes to answer after it.
        if (request_.ReadBack) {
            readBackWake_ = clock.CreateEvent();
            tasks.emplace_back([this] { ReadBacks(); });
        }
        environment_.KeepProbing();
    }

    StationSummary TakeSummary() { return std::move(summary_); }


    // A transfer ended somewhere in the station: a job of this bay may take its place, when a
    // device of the bay waits for one.
    void WakeJobsIfWaiting()
    {
        {
            std::lock_guard lock(lock_);
            if (waiting_.empty()) {
                return;
            }
        }
        WakeJobs();
    }

private:
    void WakeJobs()
    {
        for (const EventHandle wake : wakes_) {
            environment_.Clock().SetEvent(wake);
        }
    }

    bool Ending() const { return (stop_ && stop_()) || (request_.Closing && request_.Closing()); }

    void Probe()
    {
        UpgradeLink link(environment_.State());
        // A round lasts the whole interval: listening ends as it is up.
        const ProbeRound round{request_.Variants,
                               request_.ProbeIntervalMs > 0 ? request_.ProbeIntervalMs - 1 : 0,
                               request_.Variants};
        while (!Ending()) {
            const int sent = link.ProbeAndListen(
                round, [this](const DiscoveryReply& reply) { Answered(reply); },
                [this] { return Ending(); });
            std::lock_guard lock(lock_);
            if (sent != COLLECT_DONE && !Ending()) {
                summary_.ProbeFailed = true;
                break;
            }
            ledger_.RoundEnds();
        }
        std::lock_guard lock(lock_);
        closed_ = true;
        waiting_.clear();  // never started: nothing was sent to them
        for (const EventHandle wake : wakes_) {
            environment_.Clock().SetEvent(wake);
        }
    }

    void Answered(const DiscoveryReply& reply)
    {
        const bool fits = SameBoardCode(image_, reply.Descriptor);
        const std::string name = FormatDeviceName(reply.Source);

        std::lock_guard lock(lock_);
        const StationLedger::Answer answer = ledger_.Answered(reply.Source, fits);
        if (answer.Arrived) {
            watcher_.Arrived(name, bay_, reply.Descriptor, answer.CameBack);
        }
        if (answer.Do == StationLedger::Decision::Skip) {
            DeviceRunReport report;
            report.DeviceName = name;
            report.Bay = bay_;
            report.Interface = interface_;
            report.Descriptor = reply.Descriptor;
            SettleReport(report, UpgradeOutcome::HardwareMismatch, true, false);
            summary_.Skips.push_back(report);
            watcher_.Skipped(report);
        } else if (answer.Do == StationLedger::Decision::Upgrade) {
            waiting_.push_back({reply.Source, reply.Variant});
            WakeJobs();
        }
    }

    void Work(std::size_t job)
    {
        for (;;) {
            std::optional<WaitingDevice> next;
            std::size_t attempt = 0;
            {
                std::lock_guard lock(lock_);
                std::optional<std::size_t> taken;
                if (!waiting_.empty() && (taken = shared_.Take())) {
                    next = waiting_.front();
                    waiting_.pop_front();
                    attempt = *taken;
                } else if (closed_ && waiting_.empty()) {
                    --jobsAtWork_;
                    WakeReadBacks();
                    return;
                }
            }
            if (!next) {
                environment_.Clock().WaitForAny(std::span(&wakes_[job], 1), JOB_IDLE_WAIT_MS);
                continue;
            }
            const std::string name = FormatDeviceName(next->Address);
            watcher_.RunStarts(attempt, name, bay_);
            const DeviceUpgradeRequest upgrade{name, request_.ImagePath, true};
            const DeviceRunEndings endings{
                [this, attempt, device = *next](const DeviceRunReport& report) {
                Ended(attempt, device, report);
                },
                {}};
            UpgradeOnSharedAdapter(environment_, upgrade, watcher_.PortFor(attempt),
                                   watcher_.ProgressFor(attempt), stop_, endings, next->Variant);
            shared_.Return();
        }
    }

    // The device stays busy for the ledger until its read-back is over: it is not offered
    // again meanwhile.
    void Ended(std::size_t attempt, const WaitingDevice& device, DeviceRunReport report)
    {
        report.Bay = bay_;
        report.Interface = interface_;
        {
            std::lock_guard lock(lock_);
            if (request_.ReadBack && ReadsBack(report)) {
                readBacks_.push_back({attempt, device, report});
                WakeReadBacks();
            } else {
                ledger_.RunEnds(device.Address,
                                report.Outcome == UpgradeOutcome::Finished && !report.Stopped);
            }
            summary_.Attempts.push_back(report);
        }
        watcher_.RunEnds(attempt, report);
    }

    // Under lock_.
    void WakeReadBacks()
    {
        if (request_.ReadBack) {
            environment_.Clock().SetEvent(readBackWake_);
        }
    }

    // Reads back each device that finished, one after the other, until the jobs are done.
    void ReadBacks()
    {
        for (;;) {
            std::optional<PendingReadBack> next;
            {
                std::lock_guard lock(lock_);
                if (!readBacks_.empty()) {
                    next = std::move(readBacks_.front());
                    readBacks_.pop_front();
                } else if (jobsAtWork_ == 0) {
                    return;
                }
            }
            if (!next) {
                environment_.Clock().WaitForAny(std::span(&readBackWake_, 1), JOB_IDLE_WAIT_MS);
                continue;
            }
            const DeviceUpgradeRequest request{next->Report.DeviceName, request_.ImagePath, true,
                                               true};
            int opened = DISCOVERY_OK;
            if (const std::unique_ptr<DeviceRun> run = environment_.OpenDeviceRun(
                    next->Device.Address, opened, next->Device.Variant)) {
                ReadBackDescriptor(run->State(), request, next->Report);
            }
            {
                std::lock_guard lock(lock_);
                ledger_.RunEnds(next->Device.Address, true);
            }
            watcher_.ReadBack(next->Attempt, next->Report);
        }
    }

    RunEnvironment& environment_;
    const StationRequest& request_;
    DeviceRunWatcher& watcher_;
    const StopRequested& stop_;
    const ImageDescriptor image_;
    SharedJobs& shared_;
    const std::string bay_;
    const std::string interface_;
    std::mutex lock_;
    StationLedger ledger_;
    std::deque<WaitingDevice> waiting_;
    std::vector<EventHandle> wakes_;
    std::deque<PendingReadBack> readBacks_;
    EventHandle readBackWake_{};
    std::size_t jobsAtWork_ = 0;
    bool closed_ = false;
    StationSummary summary_;
};

void SharedJobs::Return()
{
    {
        std::lock_guard lock(lock_);
        --inFlight_;
    }
    for (Station* const bay : bays_) {
        bay->WakeJobsIfWaiting();
    }
}

// The image's descriptor, or the outcome that says why it cannot be read.
UpgradeOutcome ReadStationImage(RunEnvironment& environment, const std::string& path,
                                ImageDescriptor& image)
{
    const int read = ReadImageDescriptor(environment.State().Files, path, image);
    if (read == IMAGE_OK) {
        return UpgradeOutcome::Finished;
    }
    return read == IMAGE_CANNOT_OPEN ? UpgradeOutcome::FileNotFound
                                     : UpgradeOutcome::FileFormatError;
}

}  // namespace

StationSummary RunStation(RunEnvironment& environment, const StationRequest& request,
                          DeviceRunWatcher& watcher, const StopRequested& stop)
{
    ImageDescriptor image;
    StationSummary summary;
    summary.ImageOutcome = ReadStationImage(environment, request.ImagePath, image);
    if (summary.ImageOutcome != UpgradeOutcome::Finished) {
        return summary;
    }
    SharedJobs shared(std::clamp<std::size_t>(request.Jobs, 1, MAXIMUM_WAIT_OBJECTS));
    Station station(environment, request, watcher, stop, image, shared);
    return station.Run();
}

StationSummary RunStationBays(std::span<const StationBay> bays, const StationRequest& request,
                              DeviceRunWatcher& watcher, const StopRequested& stop)
{
    StationSummary summary;
    if (bays.empty()) {
        return summary;
    }
    ImageDescriptor image;
    summary.ImageOutcome = ReadStationImage(bays.front().Environment, request.ImagePath, image);
    if (summary.ImageOutcome != UpgradeOutcome::Finished) {
        return summary;
    }
    SharedJobs shared(std::max<std::size_t>(request.Jobs, 1));
    std::vector<std::unique_ptr<Station>> stations;
    std::vector<RunEnvironment*> environments;
    std::vector<std::function<void()>> tasks;
    for (const StationBay& bay : bays) {
        stations.push_back(std::make_unique<Station>(bay.Environment, request, watcher, stop,
                                                     image, shared, bay.Name, bay.Interface));
        stations.back()->AddTasks(tasks);
        environments.push_back(&bay.Environment);
    }
    RunEnvironment::RunAllTogether(environments, tasks);
    // The bays' attempts and skips, each list in the order the bays are given.
    for (const std::unique_ptr<Station>& station : stations) {
        StationSummary bay = station->TakeSummary();
        summary.Attempts.insert(summary.Attempts.end(), bay.Attempts.begin(), bay.Attempts.end());
        summary.Skips.insert(summary.Skips.end(), bay.Skips.begin(), bay.Skips.end());
        summary.ProbeFailed = summary.ProbeFailed || bay.ProbeFailed;
    }
    return summary;
}

}  // namespace tarvik
