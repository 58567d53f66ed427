// The station, and the upgrade of every device found, over several bays in simulated time, one
// lab segment per bay on one clock: the same addresses in every bay are different devices, each
// flashed once with its own report and its bay named; a bay whose segment goes dead fails its
// own devices and leaves the other bays' conversations whole; --jobs caps the transfers over all
// bays together.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "commands/station.h"
#include "support/lab_rig.h"

namespace tarvik::testing {
namespace {

constexpr std::uint32_t IMAGE_ADDRESS = 0x1000 * 16;  // the sample image's code segment

// Every bay holds the same devices, as unprovisioned boards with one factory address do.
MacAddress DeviceAt(std::size_t index)
{
    return {0x02, 0x5A, 0x17, 0x00, 0x00, static_cast<std::uint8_t>(index + 1)};
}

class BayWatcher final : public DeviceRunWatcher {
public:
    CommandPort& PortFor(std::size_t attempt) override
    {
        std::lock_guard lock(lock_);
        return ports_[attempt];
    }
    ProgressDisplay& ProgressFor(std::size_t) override { return progress_; }
    void RunStarts(std::size_t, const std::string& device, const std::string& bay) override
    {
        std::lock_guard lock(lock_);
        Started.insert(bay + " " + device);
        MostAtOnce = std::max(MostAtOnce, ++running_);
    }
    void RunEnds(std::size_t, const DeviceRunReport& report) override
    {
        std::lock_guard lock(lock_);
        --running_;
        Ended.insert(report.Bay + " " + report.DeviceName);
    }
    void Arrived(const std::string& device, const std::string& bay, const ImageDescriptor&,
                 bool) override
    {
        std::lock_guard lock(lock_);
        ++Arrivals[bay + " " + device];
    }

    std::multiset<std::string> Started;
    std::multiset<std::string> Ended;
    std::map<std::string, int> Arrivals;
    std::size_t MostAtOnce = 0;

private:
    std::mutex lock_;
    std::map<std::size_t, MessagePort> ports_;
    NoProgress progress_;
    std::size_t running_ = 0;
};

// The rig's clock, files and image, with a lab of its own per bay.
class StationBaysTest : public ::testing::Test, protected LabRig {
protected:
    // bays bays of devices devices each, at the same addresses in every bay.
    void Build(std::size_t bays, std::size_t devices)
    {
        devices_ = devices;
        for (std::size_t i = 0; i < bays; ++i) {
            Bay& bay = *bays_.emplace_back(std::make_unique<Bay>(kernel));
            bay.Segment.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
            for (std::size_t device = 0; device < devices; ++device) {
                TargetConfig config;
                config.Address = DeviceAt(device);
                config.Descriptor = LabTargetDescriptor(RIG_BOARD);
                bay.Segment.AddTarget(std::move(config));
            }
        }
    }

    std::vector<StationBay> OpenBays()
    {
        std::vector<StationBay> opened;
        for (std::size_t i = 0; i < bays_.size(); ++i) {
            Bay& bay = *bays_[i];
            bay.Environment = std::make_unique<RunEnvironment>(
                EnvironmentParts{kernel, bay.Segment.Driver(), *bay.Adapters, version, files,
                                 access},
                Stop(), RunSharing::SeveralRuns);
            FirstAdapterSelection first;
            EXPECT_EQ(bay.Environment->Start(first, port), STARTUP_READY);
            opened.push_back({"bay" + std::to_string(i + 1), "lab" + std::to_string(i),
                              *bay.Environment});
        }
        return opened;
    }

    void CloseBays()
    {
        for (auto& bay : bays_) {
            bay->Environment.reset();
        }
    }

    // Every device of every bay holds the image and was reset once, but those of the bay
    // given (0: none), which was reset never.
    void ExpectEveryDeviceFlashedOnce(std::size_t deadBay = 0)
    {
        for (std::size_t i = 0; i < bays_.size(); ++i) {
            for (std::size_t index = 0; index < devices_; ++index) {
                const EmulatedTarget& device =
                    bays_[i]->Segment.FindTarget(DeviceAt(index))->Device();
                if (i + 1 == deadBay) {
                    EXPECT_EQ(device.Resets(), 0U) << "bay" << i + 1;
                    continue;
                }
                EXPECT_EQ(device.Resets(), 1U) << "bay" << i + 1;
                EXPECT_EQ(device.MemoryAt(IMAGE_ADDRESS, RIG_IMAGE_BYTES), RigImage())
                    << "bay" << i + 1;
            }
        }
    }

    StationSummary RunBays(std::uint64_t closeAtMs, std::size_t jobs,
                           std::uint32_t probeIntervalMs = 500)
    {
        const std::vector<StationBay> stations = OpenBays();
        StationRequest request;
        request.ImagePath = RIG_IMAGE;
        request.ProbeIntervalMs = probeIntervalMs;
        request.Jobs = jobs;
        request.Closing = [this, closeAtMs] { return kernel.Now() >= closeAtMs; };
        StationSummary summary = RunStationBays(stations, request, watcher, Stop());
        CloseBays();
        return summary;
    }

    struct Bay {
        explicit Bay(Kernel& clock) : Segment(clock), Adapters(MakeLabRegistry()) {}
        Lab Segment;
        std::unique_ptr<Registry> Adapters;
        std::unique_ptr<RunEnvironment> Environment;
    };
    std::vector<std::unique_ptr<Bay>> bays_;
    std::size_t devices_ = 0;
    BayWatcher watcher;
};

TEST_F(StationBaysTest, TheSameAddressesInEveryBayAreDevicesOfTheirOwnEachFlashedOnce)
{
    constexpr std::size_t BAYS = 8;
    Build(BAYS, 2);
    const StationSummary summary = RunBays(8000, 16);

    ASSERT_EQ(summary.Attempts.size(), BAYS * 2);
    std::set<std::string> reported;
    for (const DeviceRunReport& report : summary.Attempts) {
        EXPECT_EQ(report.Outcome, UpgradeOutcome::Finished)
            << report.Bay << " " << report.DeviceName;
        EXPECT_EQ(report.Interface, "lab" + std::to_string(std::stoi(report.Bay.substr(3)) - 1));
        reported.insert(report.Bay + " " + report.DeviceName);
    }
    EXPECT_EQ(reported.size(), BAYS * 2) << "a (bay, device) reported twice";
    EXPECT_EQ(watcher.Started.size(), BAYS * 2);
    for (const auto& [device, arrivals] : watcher.Arrivals) {
        EXPECT_EQ(arrivals, 1) << device;
    }
    ExpectEveryDeviceFlashedOnce();
    EXPECT_GT(watcher.MostAtOnce, 2U) << "the bays ran one after the other";
}

TEST_F(StationBaysTest, ADeadBayFailsItsOwnDevicesAloneAndJobsCapEveryBayTogether)
{
    constexpr std::size_t BAYS = 8;
    Build(BAYS, 2);
    // Bay 3's cable is pulled in the middle of its transfers: nothing sent arrives from then on.
    bays_[2]->Segment.Segment().SetHook([this](std::span<const std::uint8_t>,
                                               const SegmentStation*) {
        return kernel.Now() < 200 ? std::vector<std::uint32_t>{1} : std::vector<std::uint32_t>{};
    });
    const StationSummary summary = RunBays(30000, 3);

    EXPECT_LE(watcher.MostAtOnce, 3U);
    std::map<std::string, int> passed;
    for (const DeviceRunReport& report : summary.Attempts) {
        passed[report.Bay] += report.Outcome == UpgradeOutcome::Finished ? 1 : 0;
    }
    for (std::size_t i = 0; i < BAYS; ++i) {
        const std::string bay = "bay" + std::to_string(i + 1);
        EXPECT_EQ(passed[bay], i == 2 ? 0 : 2) << bay;
    }
}

// The station's scale: 256 devices in 64 bays of 4, all in flight at once, the same four
// addresses in every bay, and one bay dead from its first transfer on. Every other device is
// flashed once with no frame sent again (the dead bay's timeouts cost the others nothing), and
// the ledger knows each (bay, address) apart: each arrives once.
TEST_F(StationBaysTest, SixtyFourBaysOfFourAreEachFlashedOnceAndADeadBayDisturbsNoOther)
{
#if defined(__SANITIZE_ADDRESS__)
    // Each of the run's thread hand-offs costs the address sanitizer many times over: a quarter
    // of the bays keeps its run within the test's time.
    constexpr std::size_t BAYS = 16;
#else
    constexpr std::size_t BAYS = 64;
#endif
    constexpr std::size_t DEAD = 7;
    Build(BAYS, 4);
    bays_[DEAD - 1]->Segment.Segment().SetHook([this](std::span<const std::uint8_t>,
                                                      const SegmentStation*) {
        return kernel.Now() < 200 ? std::vector<std::uint32_t>{1} : std::vector<std::uint32_t>{};
    });
    const StationSummary summary = RunBays(12000, 256, 2000);

    EXPECT_EQ(watcher.Arrivals.size(), BAYS * 4);
    for (const auto& [device, arrivals] : watcher.Arrivals) {
        EXPECT_EQ(arrivals, 1) << device;
    }
    std::set<std::string> passed;
    for (const DeviceRunReport& report : summary.Attempts) {
        const std::string device = report.Bay + " " + report.DeviceName;
        if (report.Bay == "bay" + std::to_string(DEAD)) {
            EXPECT_NE(report.Outcome, UpgradeOutcome::Finished) << device;
            continue;
        }
        EXPECT_EQ(report.Outcome, UpgradeOutcome::Finished) << device;
        EXPECT_EQ(report.FramesResent, 0U) << device;
        EXPECT_TRUE(passed.insert(device).second) << device << " flashed twice";
    }
    EXPECT_EQ(passed.size(), (BAYS - 1) * 4);
    ExpectEveryDeviceFlashedOnce(DEAD);
    EXPECT_GT(watcher.MostAtOnce, BAYS) << "the bays did not run beside each other";
}

// upgrade --all over bays: every bay's devices are found on its own segment and upgraded once,
// each report and each run's start naming its bay, with --jobs capping the runs over all bays.
TEST_F(StationBaysTest, EveryDeviceOfEveryBayIsFoundAndUpgradedOnceUnderItsBay)
{
    constexpr std::size_t BAYS = 6;
    Build(BAYS, 3);
    const std::vector<StationBay> opened = OpenBays();
    std::vector<std::vector<std::string>> found;
    ASSERT_EQ(BrowseBays(opened, found), BAYS);

    SeveralDevicesRequest request;
    request.ImagePath = RIG_IMAGE;
    request.Jobs = 4;
    request.SkipOtherBoards = true;
    for (std::size_t bay = 0; bay < BAYS; ++bay) {
        EXPECT_EQ(found[bay], (std::vector<std::string>{"QV000001", "QV000002", "QV000003"}));
        for (const std::string& name : found[bay]) {
            request.DeviceNames.push_back(name);
            request.DeviceBays.push_back(bay);
        }
    }
    const std::vector<DeviceRunReport> reports =
        UpgradeSeveralDevices(opened, request, watcher, Stop());
    CloseBays();

    ASSERT_EQ(reports.size(), BAYS * 3);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].Outcome, UpgradeOutcome::Finished);
        EXPECT_EQ(reports[i].Bay, opened[request.DeviceBays[i]].Name);
        EXPECT_EQ(reports[i].Interface, opened[request.DeviceBays[i]].Interface);
        EXPECT_EQ(reports[i].DeviceName, request.DeviceNames[i]);
    }
    EXPECT_EQ(watcher.Started.size(), BAYS * 3);
    EXPECT_EQ(std::set<std::string>(watcher.Started.begin(), watcher.Started.end()).size(),
              BAYS * 3);
    EXPECT_EQ(watcher.Ended, watcher.Started) << "a run ended under another bay than it started";
    EXPECT_LE(watcher.MostAtOnce, 4U);
    EXPECT_GT(watcher.MostAtOnce, 1U);
    ExpectEveryDeviceFlashedOnce();
}

}  // namespace
}  // namespace tarvik::testing
