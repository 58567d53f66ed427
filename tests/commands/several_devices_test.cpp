// A production line's upgrades on the built-in lab's segment in simulated time: the send pace,
// several devices in one command over one opened adapter, and the failures that stay with the
// device they belong to.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/command_extras.h"
#include "commands/commands.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "netio/adapter_discovery.h"
#include "netio/binding.h"
#include "platform/sim_kernel.h"
#include "protocol/frame.h"

namespace tarvik::testing {
namespace {

constexpr char IMAGE[] = "/images/fw.bin";
constexpr std::size_t IMAGE_BYTES = 5000;

class SilentPort final : public CommandPort {
public:
    void ShowMessage(std::string_view text) override { Messages.emplace_back(text); }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    std::vector<std::string> Messages;
};

class NoProgress final : public ProgressDisplay {
public:
    void BeginProgress(std::uint64_t) override {}
    void SetProgress(const ProgressReport&) override {}
};

std::vector<std::uint8_t> TestImage()
{
    ImageSpec layout = SampleImageSpec();
    layout.Size = IMAGE_BYTES;
    layout.HeaderOffset = 0;
    return BuildImage(layout);
}

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
    files.Add(IMAGE, TestImage());
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
    SilentPort port;
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

}  // namespace
}  // namespace tarvik::testing
