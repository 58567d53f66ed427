// The production station on the lab's segment in simulated time: devices plugged in over time
// are each flashed once, a device that comes back is flashed again only after a failure (or
// when asked to), a board that does not fit is skipped once, and the probes leave the runs'
// conversations exactly as a lone upgrade has them.

#include "commands/station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "netio/adapter_discovery.h"
#include "platform/host/os_version.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/upgrade_link.h"
#include "support/lab_rig.h"

namespace tarvik::testing {
namespace {

constexpr const char* IMAGE = RIG_IMAGE;
constexpr std::array<std::uint8_t, 6> FITTING_BOARD = RIG_BOARD;
constexpr std::array<std::uint8_t, 6> OTHER_BOARD = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};

MacAddress Device(std::uint8_t last)
{
    return {0x02, 0x5A, 0x17, 0x00, 0x00, last};
}

// What the station told its front end, and how many runs were under way at most.
class RecordingStationWatcher final : public DeviceRunWatcher {
public:
    void Arrived(const std::string& device, const std::string&, const ImageDescriptor&,
                 bool cameBack) override
    {
        std::lock_guard lock(lock_);
        Arrivals.push_back(device + (cameBack ? " again" : ""));
    }
    void Skipped(const DeviceRunReport& report) override
    {
        std::lock_guard lock(lock_);
        Skips.push_back(report.DeviceName);
    }
    CommandPort& PortFor(std::size_t attempt) override
    {
        std::lock_guard lock(lock_);
        return ports_[attempt];
    }
    ProgressDisplay& ProgressFor(std::size_t) override { return progress_; }
    void RunStarts(std::size_t, const std::string& device, const std::string&) override
    {
        std::lock_guard lock(lock_);
        Started.push_back(device);
        MostAtOnce = std::max(MostAtOnce, ++running_);
    }
    void RunEnds(std::size_t, const DeviceRunReport&) override
    {
        std::lock_guard lock(lock_);
        --running_;
    }
    void ReadBack(std::size_t, const DeviceRunReport& report) override
    {
        std::lock_guard lock(lock_);
        ++ReadBacks;
        ReadBacksHoldingIt += report.DescriptorAfter.has_value() ? 1 : 0;
    }

    std::vector<std::string> Arrivals;
    std::vector<std::string> Skips;
    std::vector<std::string> Started;
    std::size_t MostAtOnce = 0;
    std::size_t ReadBacks = 0;
    std::size_t ReadBacksHoldingIt = 0;

private:
    std::mutex lock_;
    std::map<std::size_t, MessagePort> ports_;
    NoProgress progress_;
    std::size_t running_ = 0;
};

class StationTest : public ::testing::Test, protected LabRig {
protected:
    EmulatedTargetStation& AddDevice(std::uint8_t last,
                                     const std::array<std::uint8_t, 6>& board = FITTING_BOARD)
    {
        return LabRig::AddDevice(Device(last), board);
    }

    // Runs a station until closeAtMs of simulated time, then lets the runs under way finish.
    StationSummary RunUntil(std::uint64_t closeAtMs, StationRequest request = {})
    {
        Environment();
        request.ImagePath = IMAGE;
        request.ProbeIntervalMs = 500;
        request.Closing = [this, closeAtMs] { return kernel.Now() >= closeAtMs; };
        StationSummary summary = RunStation(*environment, request, watcher, Stop());
        EXPECT_EQ(files.OpenNow(), 0) << "an image file outlived its run";
        return summary;
    }

    std::size_t Resets(int last)
    {
        return lab.FindTarget(Device(static_cast<std::uint8_t>(last)))->Device().Resets();
    }

    RecordingStationWatcher watcher;
};

// --- the ledger's decisions, without a segment ---

// One step of a device's story: an answer to a probe (and what the ledger makes of it), the
// end of a probe round, or the end of the device's run.
struct LedgerStep {
    enum Kind { Answers, RoundEnds, RunEnds } What;
    bool FitsOrPassed = true;  // Answers: the board fits; RunEnds: the run passed
    StationLedger::Decision Do = StationLedger::Decision::None;
    bool Arrived = false;
    bool CameBack = false;
};

struct LedgerStory {
    const char* What;
    bool Reflash;
    std::vector<LedgerStep> Steps;
};

using D = StationLedger::Decision;
constexpr LedgerStep ROUND{LedgerStep::RoundEnds};
constexpr LedgerStep PASSED{LedgerStep::RunEnds, true};
constexpr LedgerStep FAILED{LedgerStep::RunEnds, false};
constexpr LedgerStep ANSWERS{LedgerStep::Answers, true, D::None};
constexpr LedgerStep ANSWERS_MISFIT{LedgerStep::Answers, false, D::None};
constexpr LedgerStep ARRIVES{LedgerStep::Answers, true, D::Upgrade, true};
constexpr LedgerStep ARRIVES_MISFIT{LedgerStep::Answers, false, D::Skip, true};
constexpr LedgerStep BACK{LedgerStep::Answers, true, D::None, true, true};
constexpr LedgerStep BACK_MISFIT{LedgerStep::Answers, false, D::None, true, true};
constexpr LedgerStep BACK_UPGRADE{LedgerStep::Answers, true, D::Upgrade, true, true};

const LedgerStory LEDGER_STORIES[] = {
    {"a new device that fits is upgraded, and not again while busy",
     false,
     {ARRIVES, ANSWERS, ROUND, ROUND, ROUND, ANSWERS}},
    {"a misfit is skipped once, also when it comes back",
     false,
     {ARRIVES_MISFIT, ROUND, ANSWERS_MISFIT, ROUND, ROUND, ROUND, BACK_MISFIT}},
    {"a device that passed and stays is left alone",
     true,
     {ARRIVES, PASSED, ANSWERS, ROUND, ANSWERS, ROUND, ANSWERS}},
    {"a device rebooting after it passed misses probes without leaving",
     true,
     {ARRIVES, PASSED, ROUND, ROUND, ROUND, ANSWERS}},
    {"a device that passed, answered and was pulled is not flashed again",
     false,
     {ARRIVES, PASSED, ANSWERS, ROUND, ROUND, ROUND, BACK}},
    {"... unless the station reflashes",
     true,
     {ARRIVES, PASSED, ANSWERS, ROUND, ROUND, ROUND, BACK_UPGRADE}},
    {"a device that failed and stays is not offered again",
     false,
     {ARRIVES, FAILED, ANSWERS, ROUND, ANSWERS, ROUND, ANSWERS}},
    {"a device that failed has left after two missed probes, and is flashed when back",
     false,
     {ARRIVES, FAILED, ROUND, ROUND, ROUND, BACK_UPGRADE}},
    {"one lost answer is not an unplugging",
     false,
     {ARRIVES, FAILED, ROUND, ANSWERS, ROUND, ROUND, ANSWERS}},
    {"rounds missed while busy do not count once the run ends",
     false,
     {ARRIVES, ROUND, ROUND, ROUND, FAILED, ROUND, ANSWERS}},
};

TEST(StationLedgerTest, EachStoryGetsItsDecisions)
{
    const MacAddress device = Device(1);
    for (const LedgerStory& story : LEDGER_STORIES) {
        StationLedger ledger(story.Reflash);
        for (std::size_t i = 0; i < story.Steps.size(); ++i) {
            const LedgerStep& step = story.Steps[i];
            switch (step.What) {
            case LedgerStep::RoundEnds:
                ledger.RoundEnds();
                break;
            case LedgerStep::RunEnds:
                ledger.RunEnds(device, step.FitsOrPassed);
                break;
            case LedgerStep::Answers: {
                const StationLedger::Answer answer = ledger.Answered(device, step.FitsOrPassed);
                EXPECT_EQ(answer.Do, step.Do) << story.What << ", step " << i;
                EXPECT_EQ(answer.Arrived, step.Arrived) << story.What << ", step " << i;
                EXPECT_EQ(answer.CameBack, step.CameBack) << story.What << ", step " << i;
                break;
            }
            }
        }
    }
}

// Devices are told apart: one's runs and absences leave another's decisions alone.
TEST(StationLedgerTest, DevicesAreKeptApart)
{
    StationLedger ledger(false);
    EXPECT_EQ(ledger.Answered(Device(1), true).Do, D::Upgrade);
    EXPECT_EQ(ledger.Answered(Device(2), false).Do, D::Skip);
    ledger.RunEnds(Device(1), false);
    for (int round = 0; round < 3; ++round) {
        ledger.Answered(Device(2), false);
        ledger.RoundEnds();
    }
    const StationLedger::Answer back = ledger.Answered(Device(1), true);
    EXPECT_EQ(back.Do, D::Upgrade);
    EXPECT_TRUE(back.CameBack);
    EXPECT_EQ(ledger.Answered(Device(3), true).Do, D::Upgrade);
    EXPECT_EQ(ledger.Answered(Device(2), false).Do, D::None);
}

// --- the station on the lab's segment ---

TEST_F(StationTest, DevicesPluggedInOverTimeAreEachFlashedOnceAndStayingDoesNotFlashAgain)
{
    AddDevice(1);
    AddDevice(2);
    AddDevice(3);
    lab.PlugOverTime({{Device(2), 3000, {}}, {Device(3), 7000, {}}});
    const StationSummary summary = RunUntil(20000);
    ASSERT_EQ(summary.Attempts.size(), 3u);
    for (const DeviceRunReport& report : summary.Attempts) {
        EXPECT_EQ(report.Result, TEXT_FINISHED) << report.DeviceName;
    }
    EXPECT_EQ(watcher.Started, (std::vector<std::string>{"QV000001", "QV000002", "QV000003"}));
    for (const int last : {1, 2, 3}) {
        EXPECT_EQ(Resets(last), 1u) << "flashed once";
    }
    EXPECT_TRUE(summary.Skips.empty());
}

TEST_F(StationTest, ADeviceThatComesBackIsFlashedAgainOnlyAfterAFailureOrWithReflash)
{
    // 1 passes, is pulled at 8 s and comes back at 10 s; 2 fails (its writes refused),
    // is pulled at 8 s and comes back at 10 s with the fault gone.
    AddDevice(1);
    EmulatedTargetStation& failing = AddDevice(2);
    failing.Device().Faults().StatusForOpcode[OP_WRITE] = 0x0005;
    lab.PlugOverTime({{Device(1), 0, 8000},
                      {Device(2), 0, 8000},
                      {Device(1), 10000, {}},
                      {Device(2), 10000, {}}});
    kernel.Schedule(9000, [&failing] { failing.Device().Faults().StatusForOpcode.clear(); });
    const StationSummary summary = RunUntil(16000);
    EXPECT_EQ(watcher.Started, (std::vector<std::string>{"QV000001", "QV000002", "QV000002"}));
    EXPECT_EQ(Resets(1), 1u);
    EXPECT_EQ(Resets(2), 1u) << "the second attempt passed";
    EXPECT_NE(std::find(watcher.Arrivals.begin(), watcher.Arrivals.end(), "QV000001 again"),
              watcher.Arrivals.end());
    ASSERT_EQ(summary.Attempts.size(), 3u);
}

TEST_F(StationTest, WithReflashADeviceThatPassedIsFlashedAgainWhenItComesBack)
{
    AddDevice(1);
    lab.PlugOverTime({{Device(1), 0, 8000}, {Device(1), 10000, {}}});
    StationRequest request;
    request.Reflash = true;
    const StationSummary summary = RunUntil(16000, request);
    EXPECT_EQ(watcher.Started, (std::vector<std::string>{"QV000001", "QV000001"}));
    EXPECT_EQ(Resets(1), 2u);
}

// A failed device that stays plugged in is not offered again: the operator has to look at it.
TEST_F(StationTest, AFailedDeviceThatStaysIsNotOfferedAgainAndAMisfitIsSkippedOnce)
{
    AddDevice(1).Device().Faults().StatusForOpcode[OP_WRITE] = 0x0005;
    AddDevice(4, OTHER_BOARD);
    // The misfit is pulled and plugged again: still one skip.
    lab.PlugOverTime({{Device(4), 0, 4000}, {Device(4), 6000, {}}});
    const StationSummary summary = RunUntil(15000);
    EXPECT_EQ(watcher.Started, std::vector<std::string>{"QV000001"});
    ASSERT_EQ(summary.Attempts.size(), 1u);
    EXPECT_EQ(summary.Attempts[0].Outcome, UpgradeOutcome::ProcessError);
    EXPECT_EQ(watcher.Skips, std::vector<std::string>{"QV000004"});
    ASSERT_EQ(summary.Skips.size(), 1u);
    EXPECT_EQ(summary.Skips[0].Result, "Hardware Type Mismatch !");
    EXPECT_TRUE(summary.Skips[0].Skipped);
    EXPECT_EQ(Resets(4), 0u);
}

TEST_F(StationTest, JobsCapTheRunsAtOnceAndEveryWaitingDeviceIsFlashed)
{
    for (std::uint8_t last = 1; last <= 5; ++last) {
        AddDevice(last);
    }
    StationRequest request;
    request.Jobs = 2;
    const StationSummary summary = RunUntil(60000, request);
    EXPECT_EQ(summary.Attempts.size(), 5u);
    EXPECT_EQ(watcher.MostAtOnce, 2u);
    for (std::uint8_t last = 1; last <= 5; ++last) {
        EXPECT_EQ(Resets(last), 1u);
    }
}

TEST_F(StationTest, ClosingLetsTheRunsUnderWayFinishAndStartsNoDeviceThatWaits)
{
    for (std::uint8_t last = 1; last <= 5; ++last) {
        AddDevice(last);
    }
    StationRequest request;
    request.Jobs = 2;
    const StationSummary summary = RunUntil(100, request);
    ASSERT_EQ(summary.Attempts.size(), 2u);
    for (const DeviceRunReport& report : summary.Attempts) {
        EXPECT_EQ(report.Result, TEXT_FINISHED);
    }
    EXPECT_EQ(Resets(3) + Resets(4) + Resets(5), 0u);
}

// The frames the station's run sends a device are those of a lone upgrade, though probes go
// out all through the transfer and the device answers them: none of its replies went astray,
// and the reset is the last.
TEST_F(StationTest, ProbesDuringATransferChangeNoneOfItsFrames)
{
    AddDevice(1).Device().Faults().ResponseDelayMs = 30;  // answers overlap the probes
    std::vector<std::vector<std::uint8_t>> sent;
    std::size_t probes = 0;
    lab.Segment().SetObserver([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
        if (!std::equal(LAB_ADAPTER_ADDRESS.begin(), LAB_ADAPTER_ADDRESS.end(),
                        frame.begin() + 6)) {
            return;
        }
        if (std::equal(BROADCAST_ADDRESS.begin(), BROADCAST_ADDRESS.end(), frame.begin())) {
            ++probes;
            return;
        }
        std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        std::fill_n(bytes.begin() + FRAME_SEQUENCE, 2, 0);  // starts from the tick count
        sent.push_back(std::move(bytes));
    });
    const StationSummary summary = RunUntil(3000);
    ASSERT_EQ(summary.Attempts.size(), 1u);
    EXPECT_EQ(summary.Attempts[0].Result, TEXT_FINISHED);
    EXPECT_EQ(summary.Attempts[0].FramesResent, 0u);
    EXPECT_GT(probes, 6u);

    // The same device alone, upgraded by one run.
    SimKernel aloneKernel{0x30000};
    Lab alone(aloneKernel);
    alone.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
    TargetConfig config;
    config.Address = Device(1);
    config.Descriptor = LabTargetDescriptor(FITTING_BOARD);
    config.Faults.ResponseDelayMs = 30;
    alone.AddTarget(config);
    std::vector<std::vector<std::uint8_t>> aloneSent;
    alone.Segment().SetObserver([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
        if (std::equal(LAB_ADAPTER_ADDRESS.begin(), LAB_ADAPTER_ADDRESS.end(), frame.begin() + 6)) {
            std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
            std::fill_n(bytes.begin() + FRAME_SEQUENCE, 2, 0);
            aloneSent.push_back(std::move(bytes));
        }
    });
    Binding binding(aloneKernel, alone.Driver());
    RunState run(binding, files);
    ASSERT_EQ(OpenListedAdapter(binding, LAB_ADAPTER_NAME), DISCOVERY_OK);
    NoProgress progress;
    MessagePort alonePort;
    ASSERT_EQ(RunUpgradeCommand(run, alonePort, progress, "QV000001", IMAGE),
              UpgradeOutcome::Finished);
    EXPECT_EQ(sent, aloneSent);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(DecodeHeader(sent.back())->Opcode, OP_RESET) << "the reset is the last frame";
}

// With the read-back, a job is free for the next device as soon as the reset is acknowledged:
// devices that boot their application and answer no more cost the next device nothing, and
// their read-backs are told all the same, empty.
TEST_F(StationTest, AReadBackHoldsNoJobFromTheNextDevice)
{
    AddDevice(1);
    AddDevice(2);
    std::mutex hookLock;
    std::map<MacAddress, std::uint64_t> firstFrameAt;
    std::map<MacAddress, std::uint64_t> resetAt;
    std::set<MacAddress> booted;  // answered its reset: silent from then on, to probes as well
    lab.Segment().SetHook([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
        const auto header = DecodeHeader(frame);
        std::lock_guard lock(hookLock);
        if (header && header->Source == LAB_ADAPTER_ADDRESS &&
            header->Destination != BROADCAST_ADDRESS) {
            firstFrameAt.try_emplace(header->Destination, kernel.Now());
            if (header->Opcode == OP_RESET) {
                resetAt[header->Destination] = kernel.Now();
            }
        } else if (header && booted.count(header->Source) != 0) {
            return std::vector<std::uint32_t>{};
        } else if (header && header->Opcode == OP_RESET) {
            booted.insert(header->Source);
        }
        return std::vector<std::uint32_t>{1};
    });
    StationRequest request;
    request.Jobs = 1;
    request.ReadBack = true;
    const StationSummary summary = RunUntil(3000, request);
    lab.Segment().SetHook({});
    ASSERT_EQ(summary.Attempts.size(), 2u);
    for (const DeviceRunReport& report : summary.Attempts) {
        EXPECT_EQ(report.Result, TEXT_FINISHED);
    }
    ASSERT_EQ(resetAt.size(), 2u);
    const bool firstFirst = resetAt[Device(1)] < resetAt[Device(2)];
    const MacAddress earlier = firstFirst ? Device(1) : Device(2);
    const MacAddress later = firstFirst ? Device(2) : Device(1);
    EXPECT_LT(firstFrameAt[later] - resetAt[earlier], 200u);
    EXPECT_EQ(watcher.ReadBacks, 2u);
    EXPECT_EQ(watcher.ReadBacksHoldingIt, 0u);
}

// Ctrl-C: the run under way ends between frames, and the station ends without waiting for
// the next probe.
TEST_F(StationTest, TheUsersStopEndsTheRunUnderWayAndTheStation)
{
    AddDevice(1);
    stopAt = 300;  // in the middle of the transfer
    const StationSummary summary = RunUntil(60000);
    ASSERT_EQ(summary.Attempts.size(), 1u);
    EXPECT_TRUE(summary.Attempts[0].Stopped);
    EXPECT_LT(kernel.Now(), 2000u);
}

}  // namespace
}  // namespace tarvik::testing
