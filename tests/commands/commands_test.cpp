// The command flows against a recording port and progress display, on the virtual segment in
// simulated time: every message from the step that yields it, the image file closed on every
// way out, and the progress display left alone until the begin request has gone out.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "commands/command_line_flows.h"
#include "commands/commands.h"
#include "commands/outcomes.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "netio/adapter_discovery.h"
#include "netio/binding.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "protocol/upgrade_link.h"

namespace tarvik::testing {
namespace {

constexpr MacAddress FITTING = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};      // QV1A2B3C
constexpr MacAddress OTHER_BOARD = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x07};  // QV000007
constexpr char FITTING_NAME[] = "QV1A2B3C";
constexpr char OTHER_BOARD_NAME[] = "QV000007";
constexpr char IMAGE[] = "/images/fw.bin";

// Counts the files open at the moment each message is shown, so a test can tell that the
// image was closed before the user saw the message.
class RecordingPort final : public CommandPort {
public:
    explicit RecordingPort(const MemoryFileSystem& files) : files_(files) {}

    void ShowMessage(std::string_view text) override
    {
        Messages.emplace_back(text);
        FilesOpenAtMessage.push_back(files_.OpenNow());
        CursorOnAtMessage.push_back(cursorDepth_ > 0);
    }
    void BeginWaitCursor() override { ++cursorDepth_, ++CursorBegins; }
    void EndWaitCursor() override { --cursorDepth_; }

    int CursorDepth() const { return cursorDepth_; }

    std::vector<std::string> Messages;
    std::vector<int> FilesOpenAtMessage;
    std::vector<bool> CursorOnAtMessage;
    int CursorBegins = 0;

private:
    const MemoryFileSystem& files_;
    int cursorDepth_ = 0;
};

// Each report as the progress window takes it (the text when set, the bar when moved, then
// both texts on show), and the reports themselves.
class RecordingProgress final : public ProgressDisplay {
public:
    void BeginProgress(std::uint64_t bytesTotal) override
    {
        Events.push_back("begin");
        BytesTotal = bytesTotal;
    }
    void SetProgress(const ProgressReport& report) override
    {
        Reports.push_back(report);
        if (report.Text) {
            Events.push_back(std::string(*report.Text));
        }
        if (const auto& percent = report.Percent) {
            Events.push_back(std::to_string(percent->Position) + "/" +
                             std::to_string(percent->Number));
        }
        Events.push_back("refresh");
    }
    std::vector<std::string> Events;
    std::vector<ProgressReport> Reports;
    std::uint64_t BytesTotal = 0;
};

// A file system that lets a test act at the moment of the n-th open (1: the check's read of
// the descriptor, 2: the transfer's, 3: the transfer's own open of the image).
class WatchedFileSystem final : public FileSystem {
public:
    explicit WatchedFileSystem(MemoryFileSystem& inner) : inner_(inner) {}
    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) override
    {
        ++opens_;
        if (const auto action = onOpen_.find(opens_); action != onOpen_.end()) {
            action->second();
        }
        return inner_.OpenForReading(path);
    }
    void OnOpen(int number, std::function<void()> action) { onOpen_[number] = std::move(action); }

private:
    MemoryFileSystem& inner_;
    int opens_ = 0;
    std::map<int, std::function<void()>> onOpen_;
};

class CommandsTest : public ::testing::Test {
protected:
    CommandsTest()
        : lab(kernel), binding(kernel, lab.Driver()), watched(files), run(binding, watched),
          port(files)
    {
        lab.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        for (auto& config : BuiltInLabTargets()) {
            lab.AddTarget(std::move(config));
        }
        lab.Segment().SetObserver([this](std::span<const std::uint8_t> frame,
                                         const SegmentStation*) {
            const auto header = DecodeHeader(frame);
            if (header && header->Source == LAB_ADAPTER_ADDRESS) {
                sentOpcodes.push_back(header->Opcode);
            }
        });
        EXPECT_EQ(OpenListedAdapter(binding, LAB_ADAPTER_NAME), 0);
        AddImage(IMAGE, 4096);
    }

    void AddImage(const std::string& path, std::size_t size,
                  MemoryFileSystem::Behaviour behaviour = {})
    {
        ImageSpec layout = SampleImageSpec();
        layout.Size = size;
        layout.HeaderOffset = 0;
        files.Add(path, BuildImage(layout), behaviour);
    }

    EmulatedTarget& Device(const MacAddress& address) { return lab.FindTarget(address)->Device(); }

    UpgradeOutcome Upgrade(const std::string& name = FITTING_NAME, const std::string& path = IMAGE,
                           const StopRequested& stop = {})
    {
        const UpgradeOutcome outcome = RunUpgradeCommand(run, port, progress, name, path, stop);
        EXPECT_EQ(port.CursorDepth(), 0) << "the wait cursor outlived the command";
        EXPECT_EQ(port.CursorBegins, 1);
        EXPECT_EQ(files.OpenNow(), 0) << "the image file outlived the command";
        EXPECT_EQ(run.Progress, nullptr);
        return outcome;
    }

    void ExpectOnlyMessage(std::string_view text)
    {
        ASSERT_EQ(port.Messages, std::vector<std::string>{std::string(text)});
        EXPECT_EQ(port.FilesOpenAtMessage[0], 0) << "the file was still open at the message";
        EXPECT_TRUE(port.CursorOnAtMessage[0]);
    }

    bool Sent(std::uint16_t opcode) const
    {
        return std::find(sentOpcodes.begin(), sentOpcodes.end(), opcode) != sentOpcodes.end();
    }

    SimKernel kernel{0x20000};
    Lab lab;
    Binding binding;
    MemoryFileSystem files;
    WatchedFileSystem watched;
    RunState run;
    RecordingPort port;
    RecordingProgress progress;
    std::vector<std::uint16_t> sentOpcodes;
};

// --- Upgrade: the way through ---

TEST_F(CommandsTest, UpgradeFinishesWithoutMessageAndTheDeviceHoldsTheImage)
{
    EXPECT_EQ(Upgrade(), UpgradeOutcome::Finished);
    EXPECT_TRUE(port.Messages.empty());
    ASSERT_FALSE(progress.Events.empty());
    EXPECT_EQ(progress.Events.front(), "begin");
    EXPECT_EQ(progress.Events[progress.Events.size() - 2], std::string(TEXT_FINISHED));
    EXPECT_TRUE(Device(FITTING).WasReset());
    ImageSpec layout = SampleImageSpec();
    layout.Size = 4096;
    layout.HeaderOffset = 0;
    EXPECT_EQ(Device(FITTING).MemoryAt(0x1000 * 16, 4096), BuildImage(layout));
}

// What a front end draws a bar from: the phases in order, the bytes acknowledged rising within
// each, the whole image once it is being reset.
TEST_F(CommandsTest, UpgradeReportsEachPhaseWithTheBytesDoneAndTheTotal)
{
    AddImage("/images/small.bin", 1000);
    EXPECT_EQ(Upgrade(FITTING_NAME, "/images/small.bin"), UpgradeOutcome::Finished);
    EXPECT_EQ(progress.BytesTotal, 1000u);
    std::vector<std::string> steps;
    for (const ProgressReport& report : progress.Reports) {
        EXPECT_EQ(report.BytesTotal, 1000u);
        steps.push_back(std::string(ProgressText(report.Phase)) + " " +
                        std::to_string(report.BytesDone));
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"Erasing EEPROM... 0", "Upgrade... 512",
                                               "Verify Target... 0", "Verify Target... 512",
                                               "Reseting Target... 1000", "Upgrade Finish 1000"}));
}

// --- Upgrade: the compatibility check's messages, before anything else happens ---

TEST_F(CommandsTest, EmptyPathIsFileNotSelectedWithoutAFrame)
{
    EXPECT_EQ(Upgrade(FITTING_NAME, ""), UpgradeOutcome::FileNotSelected);
    ExpectOnlyMessage(MSG_FILE_NOT_SELECTED);
    EXPECT_TRUE(sentOpcodes.empty());
    EXPECT_TRUE(progress.Events.empty());
}

TEST_F(CommandsTest, MissingImageIsFileFormatErrorWithoutAFrame)
{
    EXPECT_EQ(Upgrade(FITTING_NAME, "/images/none.bin"), UpgradeOutcome::FileFormatError);
    ExpectOnlyMessage(MSG_FILE_FORMAT_ERROR);
    EXPECT_TRUE(sentOpcodes.empty());
    EXPECT_TRUE(progress.Events.empty());
}

TEST_F(CommandsTest, ImageWithoutHeaderIsFileFormatError)
{
    ImageSpec layout = SampleImageSpec();
    layout.Size = 2048;
    layout.HeaderOffset.reset();
    files.Add("/images/plain.bin", BuildImage(layout));
    EXPECT_EQ(Upgrade(FITTING_NAME, "/images/plain.bin"), UpgradeOutcome::FileFormatError);
    ExpectOnlyMessage(MSG_FILE_FORMAT_ERROR);
    EXPECT_TRUE(progress.Events.empty());
}

TEST_F(CommandsTest, SilentDeviceIsCommunicationFailAfterItsTries)
{
    Device(FITTING).Faults().SilentOpcodes = {OP_INFO};
    EXPECT_EQ(Upgrade(), UpgradeOutcome::CommunicationFail);
    ExpectOnlyMessage(MSG_COMMUNICATION_FAIL);
    EXPECT_EQ(Device(FITTING).RequestsSeen(OP_INFO), 20u);
    EXPECT_FALSE(Sent(OP_BEGIN));
    EXPECT_TRUE(progress.Events.empty());
}

TEST_F(CommandsTest, OtherBoardCodeIsHardwareMismatch)
{
    EXPECT_EQ(Upgrade(OTHER_BOARD_NAME), UpgradeOutcome::HardwareMismatch);
    ExpectOnlyMessage(MSG_HARDWARE_MISMATCH);
    EXPECT_FALSE(Sent(OP_BEGIN));
    EXPECT_TRUE(progress.Events.empty());
}

// --- Upgrade: opening the transfer ---

TEST_F(CommandsTest, ImageGoneBeforeTheTransferOpensIsFileNotFound)
{
    files.FailOpenNumber(3);
    EXPECT_EQ(Upgrade(), UpgradeOutcome::FileNotFound);
    ExpectOnlyMessage(MSG_FILE_NOT_FOUND);
    EXPECT_FALSE(Sent(OP_BEGIN));
    EXPECT_TRUE(progress.Events.empty());
}

TEST_F(CommandsTest, DescriptorUnreadableWhenOpeningIsFileFormatError)
{
    files.FailOpenNumber(2);
    EXPECT_EQ(Upgrade(), UpgradeOutcome::FileFormatError);
    ExpectOnlyMessage(MSG_FILE_FORMAT_ERROR);
    EXPECT_FALSE(Sent(OP_BEGIN));
    EXPECT_TRUE(progress.Events.empty());
}

// --- Upgrade: the begin request and the transfer loop ---

TEST_F(CommandsTest, BeginNotSentIsRequestTargetErrorWithTheFileClosed)
{
    watched.OnOpen(3, [this] { lab.Driver().FailSends(true); });
    EXPECT_EQ(Upgrade(), UpgradeOutcome::RequestTargetError);
    ExpectOnlyMessage(MSG_REQUEST_TARGET_ERROR);
    EXPECT_TRUE(progress.Events.empty()) << "the display was touched before the begin request";
}

TEST_F(CommandsTest, DeviceStatusOnWriteIsUpgradeProcessError)
{
    Device(FITTING).Faults().StatusForOpcode[OP_WRITE] = 0x0005;
    EXPECT_EQ(Upgrade(), UpgradeOutcome::ProcessError);
    ExpectOnlyMessage(MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_EQ(run.Session.Result, 5);
    EXPECT_EQ(progress.Events.front(), "begin");
}

TEST_F(CommandsTest, DeviceSilentDuringWritesIsUpgradeProcessErrorAfterThirtyTries)
{
    Device(FITTING).Faults().SilentOpcodes = {OP_WRITE};
    EXPECT_EQ(Upgrade(), UpgradeOutcome::ProcessError);
    ExpectOnlyMessage(MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_EQ(run.Session.Result, RESULT_NO_REPLY);
    EXPECT_EQ(Device(FITTING).RequestsSeen(OP_WRITE), 30u);
}

TEST_F(CommandsTest, RefusedResetIsUpgradeProcessError)
{
    Device(FITTING).Faults().StatusForOpcode[OP_RESET] = 0x0001;
    EXPECT_EQ(Upgrade(), UpgradeOutcome::ProcessError);
    ExpectOnlyMessage(MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_EQ(run.Session.Result, RESULT_RESET_REFUSED);
}

TEST_F(CommandsTest, ResendThatCannotGoOutIsUpgradeProcessError)
{
    Device(FITTING).Faults().SilentOpcodes = {OP_WRITE};
    // The first block goes out; the line dies before its try expires. A half-written device
    // must not look like a transfer that merely paused.
    watched.OnOpen(3, [this] { kernel.Schedule(500, [this] { lab.Driver().FailSends(true); }); });
    EXPECT_EQ(Upgrade(), UpgradeOutcome::SendFailed);
    ExpectOnlyMessage(MSG_UPGRADE_PROCESS_ERROR);
    EXPECT_EQ(Device(FITTING).RequestsSeen(OP_WRITE), 1u);
}

TEST_F(CommandsTest, StopRequestEndsTheTransferWithoutMessageAndClosesTheFile)
{
    int polls = 0;
    const StopRequested stop = [&polls] { return ++polls > 5; };
    EXPECT_EQ(Upgrade(FITTING_NAME, IMAGE, stop), UpgradeOutcome::Other);
    EXPECT_TRUE(port.Messages.empty());
    EXPECT_FALSE(Device(FITTING).WasReset());
}

// --- The check on its own ---

TEST_F(CommandsTest, CheckShowsTheSameMessagesAndLeavesNoFileOpen)
{
    EXPECT_EQ(RunCheckCommand(run, port, FITTING_NAME, IMAGE), UpgradeOutcome::Finished);
    EXPECT_TRUE(port.Messages.empty());
    EXPECT_EQ(RunCheckCommand(run, port, OTHER_BOARD_NAME, IMAGE),
              UpgradeOutcome::HardwareMismatch);
    ExpectOnlyMessage(MSG_HARDWARE_MISMATCH);
    EXPECT_EQ(files.OpenNow(), 0);
    EXPECT_FALSE(Sent(OP_BEGIN));
}

// --- File and device information ---

TEST_F(CommandsTest, FileInformationReadsTheDescriptor)
{
    ImageDescriptor descriptor;
    EXPECT_TRUE(ShowFileInformation(run, port, IMAGE, descriptor));
    EXPECT_EQ(descriptor, SampleDescriptor());
    EXPECT_TRUE(port.Messages.empty());
    EXPECT_EQ(port.CursorDepth(), 0);
}

TEST_F(CommandsTest, UnreadableFileIsFileAccessError)
{
    ImageDescriptor descriptor;
    EXPECT_FALSE(ShowFileInformation(run, port, "/images/none.bin", descriptor));
    ExpectOnlyMessage(MSG_FILE_ACCESS_ERROR);
    EXPECT_EQ(port.CursorDepth(), 0);
}

TEST_F(CommandsTest, DeviceInformationIsTheDevicesDescriptor)
{
    ImageDescriptor descriptor;
    EXPECT_TRUE(ShowDeviceInformation(run, port, OTHER_BOARD_NAME, descriptor));
    EXPECT_EQ(descriptor, Device(OTHER_BOARD).Config().Descriptor);
    EXPECT_TRUE(port.Messages.empty());
}

TEST_F(CommandsTest, SilentDeviceIsAccessTargetErrorWithNothingFilledIn)
{
    Device(FITTING).Faults().SilentOpcodes = {OP_INFO};
    ImageDescriptor descriptor;
    EXPECT_FALSE(ShowDeviceInformation(run, port, FITTING_NAME, descriptor));
    ExpectOnlyMessage(MSG_ACCESS_TARGET_ERROR);
    EXPECT_EQ(descriptor, ImageDescriptor{});
    EXPECT_EQ(port.CursorDepth(), 0);
}

TEST_F(CommandsTest, DeviceInformationWhenTheRequestCannotGoOut)
{
    lab.Driver().FailSends(true);
    ImageDescriptor descriptor;
    EXPECT_FALSE(ShowDeviceInformation(run, port, FITTING_NAME, descriptor));
    ExpectOnlyMessage(MSG_ACCESS_TARGET_ERROR);
}

// --- Browse ---

TEST_F(CommandsTest, BrowseListsTheUntypedAnswerersSortedAndEmptiesTheSelection)
{
    run.SelectedTarget = "021122334455";
    std::vector<std::string> names{"stale"};
    EXPECT_TRUE(BrowseTargets(run, port, names));
    EXPECT_EQ(names, (std::vector<std::string>{"QV000007", "QV1A2B3C"}));
    EXPECT_TRUE(run.SelectedTarget.empty());
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Untyped);
    EXPECT_TRUE(port.Messages.empty());
}

TEST_F(CommandsTest, BrowseFailureIsBroadcastErrorWithNothingListed)
{
    run.SelectedTarget = "QV1A2B3C";
    lab.Driver().FailSends(true);
    std::vector<std::string> names{"stale"};
    EXPECT_FALSE(BrowseTargets(run, port, names));
    ExpectOnlyMessage(MSG_BROADCAST_ERROR);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(run.SelectedTarget.empty());
    EXPECT_EQ(port.CursorDepth(), 0);
}

TEST_F(CommandsTest, BrowseWithNobodyAnsweringIsNoFailure)
{
    lab.Targets().clear();
    std::vector<std::string> names;
    EXPECT_TRUE(BrowseTargets(run, port, names));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(port.Messages.empty());
    EXPECT_EQ(run.FrameVariant, FrameVariantKind::Typed);
}

}  // namespace
}  // namespace tarvik::testing
