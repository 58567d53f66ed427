#include "commands/station.h"

#include <algorithm>
#include <array>
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

// The jobs of a station, shared by all its bays: each job takes the next device that waits,
// whichever bay it is in, so that --jobs caps the transfers over all bays and a station of
// many bays runs as many jobs as it is given, not as many per bay. Runs on the first bay's
// clock.
class JobPool {
public:
    JobPool(Kernel& clock, std::size_t jobs) : clock_(clock)
    {
        for (std::size_t i = 0; i < jobs; ++i) {
            wakes_.push_back(clock_.CreateEvent());
        }
    }
    ~JobPool()
    {
        for (const EventHandle wake : wakes_) {
            clock_.CloseHandle(wake);
        }
    }
    JobPool(const JobPool&) = delete;
    JobPool& operator=(const JobPool&) = delete;

    void Serve(Station& bay)
    {
        bays_.push_back(&bay);
        ++open_;
    }
    void AddTasks(std::vector<std::function<void()>>& tasks)
    {
        atWork_ = wakes_.size();
        for (std::size_t i = 0; i < wakes_.size(); ++i) {
            tasks.emplace_back([this, i] { Work(i); });
        }
    }
    // A device of the bay answered and fits: a job takes it as soon as one is free.
    void Offer(Station& bay, const WaitingDevice& device)
    {
        {
            std::lock_guard lock(lock_);
            waiting_.push_back({&bay, device});
        }
        WakeAll();
    }
    // The bay takes no new device: what of it still waits is never started (nothing was sent
    // to it); once every bay closed, the jobs end.
    void Close(Station& bay)
    {
        {
            std::lock_guard lock(lock_);
            std::erase_if(waiting_, [&bay](const Waiting& entry) { return entry.Bay == &bay; });
            --open_;
        }
        WakeAll();
    }
    // Whether every job has ended: no device will end an upgrade any more.
    bool Done()
    {
        std::lock_guard lock(lock_);
        return atWork_ == 0;
    }

private:
    struct Waiting {
        Station* Bay;
        WaitingDevice Device;
    };

    void WakeAll()
    {
        for (const EventHandle wake : wakes_) {
            clock_.SetEvent(wake);
        }
    }
    void Work(std::size_t job);

    Kernel& clock_;
    std::vector<EventHandle> wakes_;
    std::vector<Station*> bays_;
    std::mutex lock_;
    std::deque<Waiting> waiting_;
    std::size_t open_ = 0;  // bays still taking devices
    std::size_t atWork_ = 0;
    std::size_t attempts_ = 0;
};

class Station {
public:
    Station(RunEnvironment& environment, const StationRequest& request, DeviceRunWatcher& watcher,
            const StopRequested& stop, const ImageDescriptor& image, JobPool& jobs,
            std::string bay = {}, std::string interfaceName = {})
        : environment_(environment), request_(request), watcher_(watcher), stop_(stop),
          image_(image), jobs_(jobs), bay_(std::move(bay)), interface_(std::move(interfaceName)),
          ledger_(request.Reflash)
    {
        jobs_.Serve(*this);
    }
    ~Station()
    {
        if (request_.ReadBack) {
            environment_.Clock().CloseHandle(readBackWake_);
        }
    }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The bay's probe.
    void AddProbeTask(std::vector<std::function<void()>>& tasks)
    {
        tasks.emplace_back([this] { Probe(); });
        environment_.KeepProbing();
    }
    // The read-backs have a task of their own per bay: a job is free for the next device as
    // soon as the reset is acknowledged, however long a device takes to answer after it.
    void AddReadBackTask(std::vector<std::function<void()>>& tasks)
    {
        if (request_.ReadBack) {
            readBackWake_ = environment_.Clock().CreateEvent();
            tasks.emplace_back([this] { ReadBacks(); });
        }
    }

    StationSummary TakeSummary() { return std::move(summary_); }

    // A job took the device: its upgrade, on this bay's adapter.
    void Upgrade(const WaitingDevice& device, std::size_t attempt)
    {
        const std::string name = FormatDeviceName(device.Address);
        watcher_.RunStarts(attempt, name, bay_);
        const DeviceUpgradeRequest upgrade{name, request_.ImagePath, true};
        const DeviceRunEndings endings{[this, attempt, device](const DeviceRunReport& report) {
                                           Ended(attempt, device, report);
                                       },
                                       {}};
        UpgradeOnSharedAdapter(environment_, upgrade, watcher_.PortFor(attempt),
                               watcher_.ProgressFor(attempt), stop_, endings, device.Variant);
    }

    // The jobs are over: the read-backs left end once done.
    void WakeReadBacks()
    {
        if (request_.ReadBack) {
            environment_.Clock().SetEvent(readBackWake_);
        }
    }

private:
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
        jobs_.Close(*this);
    }

    void Answered(const DiscoveryReply& reply)
    {
        const bool fits = SameBoardCode(image_, reply.Descriptor);
        const std::string name = FormatDeviceName(reply.Source);

        bool offer = false;
        {
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
            }
            offer = answer.Do == StationLedger::Decision::Upgrade;
        }
        if (offer) {
            jobs_.Offer(*this, {reply.Source, reply.Variant});
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
                }
            }
            if (!next) {
                if (jobs_.Done()) {
                    std::lock_guard lock(lock_);
                    if (readBacks_.empty()) {
                        return;
                    }
                    continue;
                }
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
    JobPool& jobs_;
    const std::string bay_;
    const std::string interface_;
    std::mutex lock_;
    StationLedger ledger_;
    std::deque<PendingReadBack> readBacks_;
    EventHandle readBackWake_{};
    StationSummary summary_;
};

void JobPool::Work(std::size_t job)
{
    for (;;) {
        std::optional<Waiting> next;
        std::size_t attempt = 0;
        {
            std::lock_guard lock(lock_);
            if (!waiting_.empty()) {
                next = waiting_.front();
                waiting_.pop_front();
                attempt = attempts_++;
            } else if (open_ == 0) {
                if (--atWork_ == 0) {
                    for (Station* const bay : bays_) {
                        bay->WakeReadBacks();
                    }
                }
                return;
            }
        }
        if (!next) {
            clock_.WaitForAny(std::span(&wakes_[job], 1), JOB_IDLE_WAIT_MS);
            continue;
        }
        next->Bay->Upgrade(next->Device, attempt);
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
    return RunStationBays(std::span<const StationBay>(
                              std::array<StationBay, 1>{StationBay{{}, {}, environment}}),
                          request, watcher, stop);
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
    // One bay runs at most MAXIMUM_WAIT_OBJECTS at once, as a station always has.
    const std::size_t most = MAXIMUM_WAIT_OBJECTS * bays.size();
    JobPool jobs(bays.front().Environment.Clock(), std::clamp<std::size_t>(request.Jobs, 1, most));
    std::vector<std::unique_ptr<Station>> stations;
    std::vector<RunEnvironment*> environments;
    std::vector<std::function<void()>> tasks;
    for (const StationBay& bay : bays) {
        stations.push_back(std::make_unique<Station>(bay.Environment, request, watcher, stop,
                                                     image, jobs, bay.Name, bay.Interface));
        stations.back()->AddProbeTask(tasks);
        environments.push_back(&bay.Environment);
    }
    jobs.AddTasks(tasks);
    for (const std::unique_ptr<Station>& station : stations) {
        station->AddReadBackTask(tasks);
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
