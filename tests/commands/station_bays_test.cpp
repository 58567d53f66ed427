// The station over several bays in simulated time, one lab segment per bay on one clock: the
// same addresses in every bay are different devices, each flashed once with its own report and
// its bay named; a bay whose segment goes dead fails its own devices and leaves the other bays'
// conversations whole; --jobs caps the transfers over all bays together.

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

constexpr std::size_t BAYS = 8;
constexpr std::uint32_t IMAGE_ADDRESS = 0x1000 * 16;  // the sample image's code segment
// Every bay holds the same two devices, as unprovisioned boards with one factory address do.
const MacAddress FIRST = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x01};
const MacAddress SECOND = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x02};

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
    void RunEnds(std::size_t, const DeviceRunReport&) override
    {
        std::lock_guard lock(lock_);
        --running_;
    }
    void Arrived(const std::string& device, const std::string& bay, const ImageDescriptor&,
                 bool) override
    {
        std::lock_guard lock(lock_);
        ++Arrivals[bay + " " + device];
    }

    std::multiset<std::string> Started;
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
    StationBaysTest()
    {
        for (std::size_t i = 0; i < BAYS; ++i) {
            Bay& bay = *bays_.emplace_back(std::make_unique<Bay>(kernel));
            bay.Segment.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
            for (const MacAddress& address : {FIRST, SECOND}) {
                TargetConfig config;
                config.Address = address;
                config.Descriptor = LabTargetDescriptor(RIG_BOARD);
                bay.Segment.AddTarget(std::move(config));
            }
        }
    }

    StationSummary RunBays(std::uint64_t closeAtMs, std::size_t jobs)
    {
        std::vector<StationBay> stations;
        for (std::size_t i = 0; i < BAYS; ++i) {
            Bay& bay = *bays_[i];
            bay.Environment = std::make_unique<RunEnvironment>(
                EnvironmentParts{kernel, bay.Segment.Driver(), *bay.Adapters, version, files,
                                 access},
                Stop(), RunSharing::SeveralRuns);
            FirstAdapterSelection first;
            EXPECT_EQ(bay.Environment->Start(first, port), STARTUP_READY);
            stations.push_back({"bay" + std::to_string(i + 1), "lab" + std::to_string(i),
                                *bay.Environment});
        }
        StationRequest request;
        request.ImagePath = RIG_IMAGE;
        request.ProbeIntervalMs = 500;
        request.Jobs = jobs;
        request.Closing = [this, closeAtMs] { return kernel.Now() >= closeAtMs; };
        StationSummary summary = RunStationBays(stations, request, watcher, Stop());
        for (auto& bay : bays_) {
            bay->Environment.reset();
        }
        return summary;
    }

    struct Bay {
        explicit Bay(Kernel& clock) : Segment(clock), Adapters(MakeLabRegistry()) {}
        Lab Segment;
        std::unique_ptr<Registry> Adapters;
        std::unique_ptr<RunEnvironment> Environment;
    };
    std::vector<std::unique_ptr<Bay>> bays_;
    BayWatcher watcher;
};

TEST_F(StationBaysTest, TheSameAddressesInEveryBayAreDevicesOfTheirOwnEachFlashedOnce)
{
    const StationSummary summary = RunBays(8000, 16);

    ASSERT_EQ(summary.Attempts.size(), BAYS * 2);
    std::set<std::string> reported;
    for (const DeviceRunReport& report : summary.Attempts) {
        EXPECT_EQ(report.Outcome, UpgradeOutcome::Finished) << report.Bay << " " << report.DeviceName;
        EXPECT_EQ(report.Interface, "lab" + std::to_string(std::stoi(report.Bay.substr(3)) - 1));
        reported.insert(report.Bay + " " + report.DeviceName);
    }
    EXPECT_EQ(reported.size(), BAYS * 2) << "a (bay, device) reported twice";
    EXPECT_EQ(watcher.Started.size(), BAYS * 2);
    for (const auto& [device, arrivals] : watcher.Arrivals) {
        EXPECT_EQ(arrivals, 1) << device;
    }
    for (const auto& bay : bays_) {
        for (const MacAddress& address : {FIRST, SECOND}) {
            const EmulatedTarget& device = bay->Segment.FindTarget(address)->Device();
            EXPECT_EQ(device.Resets(), 1U);
            EXPECT_EQ(device.MemoryAt(IMAGE_ADDRESS, RIG_IMAGE_BYTES), RigImage());
        }
    }
    EXPECT_GT(watcher.MostAtOnce, 2U) << "the bays ran one after the other";
}

TEST_F(StationBaysTest, ADeadBayFailsItsOwnDevicesAloneAndJobsCapEveryBayTogether)
{
    // Bay 3's cable is pulled in the middle of its transfers: nothing sent arrives from then on.
    bays_[2]->Segment.Segment().SetHook(
        [this](std::span<const std::uint8_t>, const SegmentStation*) {
            return kernel.Now() < 200 ? std::vector<std::uint32_t>{1}
                                                 : std::vector<std::uint32_t>{};
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

}  // namespace
}  // namespace tarvik::testing
