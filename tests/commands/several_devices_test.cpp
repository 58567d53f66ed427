// A production line's upgrades on the built-in lab's segment in simulated time: the send pace,
// several devices in one command over one opened adapter, and the failures that stay with the
// device they belong to.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "commands/command_line_flows.h"
#include "commands/commands.h"
#include "commands/run_environment.h"
#include "commands/several_devices.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "netio/adapter_discovery.h"
#include "netio/binding.h"
#include "platform/host/os_version.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "protocol/upgrade_link.h"
#include "support/lab_rig.h"

namespace tarvik::testing {
namespace {

constexpr const char* IMAGE = RIG_IMAGE;
constexpr std::size_t IMAGE_BYTES = RIG_IMAGE_BYTES;

// --- the send pace ---

struct PacedUpgrade {
    std::vector<std::vector<std::uint8_t>> Sent;  // every frame the tool put on the wire
    std::uint64_t ElapsedMs = 0;
    UpgradeOutcome Outcome = UpgradeOutcome::Other;
};

PacedUpgrade UpgradeAtPace(std::uint32_t paceMs)
{
    SimKernel kernel;
    std::unique_ptr<Lab> lab = MakeBuiltInLab(kernel);
    MemoryFileSystem files;
    files.Add(IMAGE, RigImage());
    Binding binding(kernel, lab->Driver(), paceMs);
    RunState run(binding, files);
    PacedUpgrade result;
    lab->Segment().SetObserver([&result](std::span<const std::uint8_t> frame,
                                         const SegmentStation*) {
        if (std::equal(LAB_ADAPTER_ADDRESS.begin(), LAB_ADAPTER_ADDRESS.end(), frame.begin() + 6)) {
            // The sequence starts from the tick count, which the pace moves on.
            std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
            std::fill_n(bytes.begin() + FRAME_SEQUENCE, 2, 0);
            result.Sent.push_back(std::move(bytes));
        }
    });
    EXPECT_EQ(OpenListedAdapter(binding, LAB_ADAPTER_NAME), DISCOVERY_OK);
    MessagePort port;
    NoProgress progress;
    result.Outcome = RunUpgradeCommand(run, port, progress, "QV1A2B3C", IMAGE);
    result.ElapsedMs = kernel.Now();
    return result;
}

// A shorter pace changes when frames go, never which: the devices see the same conversation.
TEST(SendPaceTest, PaceZeroSendsTheSameFramesAsTheDefaultOnlySooner)
{
    const PacedUpgrade paced = UpgradeAtPace(SEND_PAUSE_MS);
    const PacedUpgrade lockstep = UpgradeAtPace(0);
    EXPECT_EQ(paced.Outcome, UpgradeOutcome::Finished);
    EXPECT_EQ(lockstep.Outcome, UpgradeOutcome::Finished);
    ASSERT_GT(paced.Sent.size(), 10u);
    EXPECT_EQ(lockstep.Sent, paced.Sent);
    EXPECT_GE(paced.ElapsedMs, SEND_PAUSE_MS * paced.Sent.size());
    EXPECT_LT(lockstep.ElapsedMs * 4, paced.ElapsedMs);
}

// --- several devices in one command ---

constexpr MacAddress FIRST = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x01};
constexpr MacAddress SECOND = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x02};
constexpr MacAddress THIRD = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x03};
constexpr MacAddress OTHER_BOARD = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x04};
constexpr std::array<std::uint8_t, 6> FITTING_BOARD = RIG_BOARD;
constexpr std::uint32_t IMAGE_ADDRESS = 0x1000 * 16;  // the sample image's code segment

// Each device's messages and how far its progress got, kept apart per device.
class RecordingWatcher final : public DeviceRunWatcher {
public:
    explicit RecordingWatcher(std::size_t devices) : ports_(devices), progress_(devices) {}

    CommandPort& PortFor(std::size_t device) override { return ports_[device]; }
    ProgressDisplay& ProgressFor(std::size_t device) override { return progress_[device]; }
    void RunStarts(std::size_t, const std::string&, const std::string&) override
    {
        ++Starts;
    }
    void RunEnds(std::size_t, const DeviceRunReport& report) override
    {
        ++Ends;
        EndsHoldingReadBack += report.DescriptorAfter.has_value();
    }
    void ReadBack(std::size_t, const DeviceRunReport& report) override
    {
        ++ReadBacks;
        ReadBacksHoldingIt += report.DescriptorAfter.has_value();
    }

    const std::vector<std::string>& MessagesOf(std::size_t device) const
    {
        return ports_[device].Messages;
    }

    int Starts = 0;
    int Ends = 0;
    int EndsHoldingReadBack = 0;  // an ending told only after the read-back
    int ReadBacks = 0;
    int ReadBacksHoldingIt = 0;

private:
    std::vector<MessagePort> ports_;
    std::vector<NoProgress> progress_;
};

class SeveralDevicesTest : public ::testing::Test, protected LabRig {
protected:
    SeveralDevicesTest()
    {
        for (const MacAddress& address : {FIRST, SECOND, THIRD}) {
            AddDevice(address, FITTING_BOARD);
        }
    }

    EmulatedTarget& AddDevice(const MacAddress& address, const std::array<std::uint8_t, 6>& board)
    {
        return LabRig::AddDevice(address, board, {FrameVariantKind::Untyped}).Device();
    }

    std::vector<DeviceRunReport> Upgrade(const std::vector<std::string>& names,
                                         bool skipOtherBoards = false)
    {
        RunEnvironment& opened = environment ? *environment : Environment();
        watcher = std::make_unique<RecordingWatcher>(names.size());
        SeveralDevicesRequest request;
        request.DeviceNames = names;
        request.ImagePath = IMAGE;
        request.SkipOtherBoards = skipOtherBoards;
        auto reports = UpgradeSeveralDevices(opened, request, *watcher, Stop());
        EXPECT_EQ(watcher->Starts, static_cast<int>(names.size()));
        EXPECT_EQ(watcher->Ends, static_cast<int>(names.size()));
        EXPECT_EQ(files.OpenNow(), 0) << "an image file outlived its run";
        return reports;
    }

    bool HoldsImage(const MacAddress& address)
    {
        return lab.FindTarget(address)->Device().MemoryAt(IMAGE_ADDRESS, IMAGE_BYTES) == RigImage();
    }

    std::unique_ptr<RecordingWatcher> watcher;
};

TEST_F(SeveralDevicesTest, ThreeDevicesInOneCommandAllHoldTheImage)
{
    const auto reports = Upgrade({"QV000001", "QV000002", "QV000003"});
    ASSERT_EQ(reports.size(), 3u);
    for (const DeviceRunReport& report : reports) {
        EXPECT_EQ(report.Outcome, UpgradeOutcome::Finished) << report.DeviceName;
        EXPECT_EQ(report.Result, TEXT_FINISHED);
        EXPECT_EQ(report.ExitStatus, 0);
        EXPECT_EQ(report.FileSize, IMAGE_BYTES);
        ASSERT_TRUE(report.Descriptor.has_value());
        EXPECT_EQ(report.Descriptor->BoardCode()[5], 0x55);
    }
    EXPECT_EQ(reports[1].DeviceName, "QV000002");
    EXPECT_TRUE(HoldsImage(FIRST));
    EXPECT_TRUE(HoldsImage(SECOND));
    EXPECT_TRUE(HoldsImage(THIRD));
    EXPECT_TRUE(EveryDeviceUpgraded(reports));
}

// The runs share the clock: three devices take about as long as one, not three times as long.
TEST_F(SeveralDevicesTest, DevicesAreUpgradedAtTheSameTimeNotOneAfterAnother)
{
    const auto one = Upgrade({"QV000001"});
    const std::uint64_t before = kernel.Now();
    const auto three = Upgrade({"QV000001", "QV000002", "QV000003"});
    EXPECT_LT(kernel.Now() - before, one[0].ElapsedMs * 3 / 2);
}

TEST_F(SeveralDevicesTest, JobsCapHowManyRunAtOnce)
{
    Environment();
    watcher = std::make_unique<RecordingWatcher>(3);
    SeveralDevicesRequest request{{"QV000001", "QV000002", "QV000003"}, IMAGE, 1};
    const std::uint64_t before = kernel.Now();
    const auto reports = UpgradeSeveralDevices(*environment, request, *watcher, {});
    EXPECT_TRUE(EveryDeviceUpgraded(reports));
    EXPECT_GE(kernel.Now() - before, reports[0].ElapsedMs * 3);
}

// --- failures stay with their device ---

TEST_F(SeveralDevicesTest, ADeviceThatRefusesAWriteFailsAloneWhileTheOthersFinish)
{
    lab.FindTarget(SECOND)->Device().Faults().StatusForOpcode[OP_WRITE] = 0x0005;
    const auto reports = Upgrade({"QV000001", "QV000002", "QV000003"});
    EXPECT_EQ(reports[0].Outcome, UpgradeOutcome::Finished);
    EXPECT_EQ(reports[1].Outcome, UpgradeOutcome::ProcessError);
    EXPECT_EQ(reports[1].Result, MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_EQ(reports[1].ExitStatus, RowOf(UpgradeOutcome::ProcessError).ExitStatus);
    EXPECT_EQ(reports[2].Outcome, UpgradeOutcome::Finished);
    EXPECT_TRUE(HoldsImage(FIRST));
    EXPECT_TRUE(HoldsImage(THIRD));
    EXPECT_EQ(watcher->MessagesOf(1),
              std::vector<std::string>{std::string(MSG_UPGRADE_PROCESS_ERROR)});
    EXPECT_TRUE(watcher->MessagesOf(0).empty());
    EXPECT_FALSE(EveryDeviceUpgraded(reports));
}

TEST_F(SeveralDevicesTest, EveryDeviceThatAnswersIsUpgradedAndAnotherBoardCodeIsSkipped)
{
    AddDevice(OTHER_BOARD, {0x00, 0x11, 0x22, 0x33, 0x44, 0x66});
    RunEnvironment& opened = Environment();
    std::vector<std::string> names;
    ASSERT_TRUE(BrowseSharedSegment(opened, port, names));
    ASSERT_EQ(names.size(), 4u);
    const auto reports = Upgrade(names, true);
    int finished = 0;
    for (const DeviceRunReport& report : reports) {
        if (report.DeviceName == "QV000004") {
            EXPECT_TRUE(report.Skipped);
            EXPECT_EQ(report.Result, MSG_HARDWARE_MISMATCH);
        } else {
            EXPECT_FALSE(report.Skipped);
            finished += report.Outcome == UpgradeOutcome::Finished;
        }
    }
    EXPECT_EQ(finished, 3);
    EXPECT_EQ(lab.FindTarget(OTHER_BOARD)->Device().RequestsSeen(OP_WRITE), 0u);
    EXPECT_TRUE(EveryDeviceUpgraded(reports));
}

TEST_F(SeveralDevicesTest, OnlySkippedDevicesIsNoSuccess)
{
    DeviceRunReport skipped;
    skipped.Outcome = UpgradeOutcome::HardwareMismatch;
    skipped.Skipped = true;
    EXPECT_FALSE(EveryDeviceUpgraded({skipped}));
    EXPECT_FALSE(EveryDeviceUpgraded({}));
}

// A stop ends every run between two frames, and every handle the runs opened is closed.
TEST_F(SeveralDevicesTest, StopEndsEveryRunAndClosesItsHandles)
{
    Environment();
    const std::size_t eventsBefore = kernel.OpenEvents();
    stopAt = kernel.Now() + 300;
    const auto reports = Upgrade({"QV000001", "QV000002", "QV000003"});
    for (const DeviceRunReport& report : reports) {
        EXPECT_TRUE(report.Stopped) << report.DeviceName;
        EXPECT_EQ(report.ExitStatus, RowOf(ProgramOutcome::Interrupted).ExitStatus);
        EXPECT_FALSE(lab.FindTarget(ParseDeviceName(report.DeviceName))->Device().WasReset());
    }
    EXPECT_LT(kernel.Now(), stopAt + 100);
    EXPECT_EQ(kernel.OpenEvents(), eventsBefore);
    EXPECT_FALSE(EveryDeviceUpgraded(reports));
}

// --- one device and several: the same flow ---

// The one-device command: its environment browses first (to settle the frame type), then the
// device's own flow runs on the environment's run.
DeviceRunReport UpgradeAlone(RunEnvironment& environment, MessagePort& port,
                             const std::string& name)
{
    std::vector<std::string> names;
    EXPECT_TRUE(BrowseTargets(environment.State(), port, names));
    NoProgress progress;
    return UpgradeDevice(environment.State(), {name, IMAGE}, port, progress, {});
}

TEST_F(SeveralDevicesTest, OneDeviceAndABatchRecordTheSameUpgradeAlike)
{
    // The device loses the check's first query and its second block once, in either run.
    int queries = 0;
    int writes = 0;
    lab.Segment().SetHook([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
        const auto header = DecodeHeader(frame);
        bool lost = false;
        if (header && header->Destination == FIRST && header->Opcode == OP_INFO) {
            lost = ++queries == 1;
        } else if (header && header->Destination == FIRST && header->Opcode == OP_WRITE) {
            lost = ++writes == 2;
        }
        return lost ? std::vector<std::uint32_t>{} : std::vector<std::uint32_t>{1};
    });
    const DeviceRunReport alone = UpgradeAlone(Environment(RunSharing::OneRun), port, "QV000001");
    environment.reset();
    queries = 0;
    writes = 0;
    const auto batch = Upgrade({"QV000001", "QV000002"});
    lab.Segment().SetHook({});

    // The check's query twice, the begin, ten blocks written and verified, one of them twice,
    // the reset.
    constexpr std::uint64_t UPGRADE_FRAMES = 2 + 1 + 10 + 1 + 10 + 1;
    for (const DeviceRunReport* report : {&alone, &batch[0]}) {
        EXPECT_EQ(report->Result, TEXT_FINISHED);
        EXPECT_EQ(report->FramesSent, UPGRADE_FRAMES);
        EXPECT_EQ(report->FramesResent, 2u);
        EXPECT_EQ(report->FileSize, IMAGE_BYTES);
        EXPECT_TRUE(report->Descriptor.has_value());
    }
    EXPECT_EQ(batch[1].FramesSent, UPGRADE_FRAMES - 2) << "its query and blocks went once";
}

// --- the descriptor after the reset ---

// Asked for, the read-back asks the device for its descriptor again after its reset, for as long
// as a device takes to come back; one that stays silent longer costs the read-back a few
// seconds, no more, and takes nothing from the upgrade's success. The queries count in no frame
// total.
TEST_F(SeveralDevicesTest, TheDescriptorAfterTheResetIsReadWhenTheDeviceComesBackInTime)
{
    struct Row {
        std::uint32_t SilentAfterResetMs;  // the device answers no query until then
        bool Read;
    };
    for (const Row& row : {Row{0, true}, Row{2500, true}, Row{60000, false}}) {
        std::optional<std::uint64_t> resetAt;
        lab.Segment().SetHook([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
            const auto header = DecodeHeader(frame);
            if (header && header->Destination == FIRST) {
                if (header->Opcode == OP_RESET && !resetAt) {
                    resetAt = kernel.Now();
                }
                if (header->Opcode == OP_INFO && resetAt &&
                    kernel.Now() < *resetAt + row.SilentAfterResetMs) {
                    return std::vector<std::uint32_t>{};
                }
            }
            return std::vector<std::uint32_t>{1};
        });
        std::vector<std::string> names;
        ASSERT_TRUE(BrowseTargets(Environment(RunSharing::OneRun).State(), port, names));
        NoProgress progress;
        const DeviceUpgradeRequest upgrade{"QV000001", IMAGE, false, true};
        DeviceRunReport report = UpgradeDevice(environment->State(), upgrade, port, progress, {});
        EXPECT_FALSE(report.DescriptorAfter) << "the upgrade ends before the read-back";
        ReadBackDescriptor(environment->State(), upgrade, report);
        const std::uint64_t ended = kernel.Now();
        environment.reset();
        lab.Segment().SetHook({});
        EXPECT_EQ(report.Result, TEXT_FINISHED) << row.SilentAfterResetMs;
        EXPECT_EQ(report.ExitStatus, 0);
        ASSERT_TRUE(resetAt);
        EXPECT_EQ(report.DescriptorAfter.has_value(), row.Read) << row.SilentAfterResetMs;
        if (report.DescriptorAfter) {
            EXPECT_EQ(report.DescriptorAfter->Bytes,
                      lab.FindTarget(FIRST)->Device().Config().Descriptor.Bytes);
        }
        EXPECT_LT(ended - *resetAt, DESCRIPTOR_AFTER_RESET_TRIES * 1000u + 500)
            << row.SilentAfterResetMs;
        EXPECT_EQ(report.FramesSent, 1u + 1 + 10 + 10 + 1);
    }

    // Each device of several is asked as well, once its ending has been told.
    SeveralDevicesRequest request;
    request.DeviceNames = {"QV000002", "QV000003"};
    request.ImagePath = IMAGE;
    request.ReadBack = true;
    RecordingWatcher batch(2);
    for (const DeviceRunReport& report : UpgradeSeveralDevices(Environment(), request, batch, {})) {
        EXPECT_TRUE(report.DescriptorAfter.has_value()) << report.DeviceName;
        EXPECT_TRUE(report.Descriptor.has_value()) << "the check's";
    }
    EXPECT_EQ(batch.Ends, 2);
    EXPECT_EQ(batch.EndsHoldingReadBack, 0);
    EXPECT_EQ(batch.ReadBacks, 2);
    EXPECT_EQ(batch.ReadBacksHoldingIt, 2);
}

// The image cut short while it is written: "Upgrade Process Error !" with its status, alone
// and among others, and the device is never reset.
TEST_F(SeveralDevicesTest, AnImageCutShortFailsTheUpgradeAloneAndInABatch)
{
    bool cut = false;
    lab.Segment().SetObserver([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
        const auto header = DecodeHeader(frame);
        if (header && header->Opcode == OP_WRITE && header->Segment == 0x1000 + 3 * 32 && !cut) {
            files.Truncate(IMAGE, 2048);
            cut = true;
        }
    });
    const DeviceRunReport alone = UpgradeAlone(Environment(RunSharing::OneRun), port, "QV000001");
    environment.reset();
    EXPECT_EQ(alone.Outcome, UpgradeOutcome::ProcessError);
    EXPECT_EQ(alone.Result, MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_EQ(alone.ExitStatus, RowOf(UpgradeOutcome::ProcessError).ExitStatus);
    EXPECT_EQ(port.Messages.back(), MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_FALSE(lab.FindTarget(FIRST)->Device().WasReset());

    files.Add(IMAGE, RigImage());
    cut = false;
    const auto batch = Upgrade({"QV000002", "QV000003"});
    for (std::size_t device = 0; device < batch.size(); ++device) {
        EXPECT_EQ(batch[device].Result, MSG_UPGRADE_PROCESS_ERROR) << batch[device].DeviceName;
        EXPECT_EQ(batch[device].ExitStatus, RowOf(UpgradeOutcome::ProcessError).ExitStatus);
        EXPECT_EQ(watcher->MessagesOf(device),
                  std::vector<std::string>{std::string(MSG_UPGRADE_PROCESS_ERROR)});
    }
    EXPECT_FALSE(lab.FindTarget(SECOND)->Device().WasReset());
    EXPECT_FALSE(lab.FindTarget(THIRD)->Device().WasReset());
    EXPECT_FALSE(EveryDeviceUpgraded(batch));
}

}  // namespace
}  // namespace tarvik::testing
