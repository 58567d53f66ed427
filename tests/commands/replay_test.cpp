// A field report made repeatable: an upgrade on the lab in simulated time, traced; the same
// upgrade against a device that replays that trace ends the same way, with the same message
// and exit status, and the tool sends it the same frames in the same order.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "commands/command_line_flows.h"
#include "commands/outcomes.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "lab/replay_target.h"
#include "message_port.h"
#include "netio/adapter_discovery.h"
#include "netio/binding.h"
#include "platform/capture/pcap_trace.h"
#include "platform/formats/pcap_reader.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "protocol/run_state.h"

namespace tarvik::testing {
namespace {

constexpr char IMAGE[] = "/images/fw.bin";
constexpr char DEVICE_NAME[] = "QV1A2B3C";
constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};
constexpr std::uint32_t IMAGE_ADDRESS = 0x1000 * 16;  // the sample image's code segment

class NoProgress final : public ProgressDisplay {
public:
    void BeginProgress(std::uint64_t) override {}
    void SetProgress(const ProgressReport&) override {}
};

std::vector<std::uint8_t> TestImage()
{
    ImageSpec layout = SampleImageSpec();
    layout.Size = 5000;  // ten blocks
    layout.HeaderOffset = 0;
    return BuildImage(layout);
}

struct TracedUpgrade {
    UpgradeOutcome Outcome = UpgradeOutcome::Other;
    std::vector<std::string> Messages;
    std::vector<std::vector<std::uint8_t>> Sent;  // the tool's frames in the trace
};

using LabMaker = std::function<std::unique_ptr<Lab>(Kernel&)>;

// An upgrade of DEVICE_NAME on the lab make builds, traced to path as tarvik-cli --trace does.
TracedUpgrade UpgradeTraced(const LabMaker& make, const std::string& path)
{
    TracedUpgrade result;
    {
        SimKernel kernel;
        std::unique_ptr<Lab> lab = make(kernel);
        MemoryFileSystem files;
        files.Add(IMAGE, TestImage());
        std::string error;
        const std::unique_ptr<PcapTrace> trace = PcapTrace::Open(path, kernel, error);
        EXPECT_NE(trace, nullptr) << error;
        Binding binding(kernel, lab->Driver());
        binding.SetTrace(trace.get());
        RunState run(binding, files);
        EXPECT_EQ(OpenListedAdapter(binding, LAB_ADAPTER_NAME), DISCOVERY_OK);
        MessagePort port;
        NoProgress progress;
        result.Outcome = RunUpgradeCommand(run, port, progress, DEVICE_NAME, IMAGE, {});
        result.Messages = port.Messages;
    }
    std::string error;
    const auto frames = ReadPcapFrames(path, error);
    EXPECT_TRUE(frames) << error;
    for (const CapturedFrame& frame : frames.value_or(Capture{})) {
        if (std::equal(LAB_ADAPTER_ADDRESS.begin(), LAB_ADAPTER_ADDRESS.end(),
                       frame.Bytes.begin() + FRAME_SOURCE)) {
            // The session's first sequence number comes from the clock, which the replayed
            // delays move on a little: the numbers are compared as each run's own.
            std::vector<std::uint8_t> bytes(frame.Bytes.begin(), frame.Bytes.end());
            std::fill_n(bytes.begin() + FRAME_SEQUENCE, 2, 0);
            result.Sent.push_back(std::move(bytes));
        }
    }
    return result;
}

struct Scenario {
    const char* What;
    std::function<void(TargetFaults&)> Faults;
    UpgradeOutcome Expected;
    bool Resends = false;  // the recorded run sent some request again
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.What;
}

// An upgrade of ten blocks sends INFO, BEGIN, ten WRITEs, ten VERIFYs and RESET when nothing
// needs sending again.
constexpr std::size_t CLEAN_UPGRADE_REQUESTS = 23;
// A device's answer delay that brings its replies to the tool, over the lab's segment, within
// a few milliseconds of the 990 ms the tool waits for each.
constexpr std::uint32_t NEAR_TIMEOUT_MS = 989;

class ReplayTest : public ::testing::TestWithParam<Scenario> {
protected:
    void TearDown() override
    {
        std::filesystem::remove(Path("recorded"));
        std::filesystem::remove(Path("replayed"));
    }

    static std::string Path(const std::string& which)
    {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        return ::testing::TempDir() + "tarvik_replay_" + name + "_" + which + ".pcap";
    }
};

TEST_P(ReplayTest, ReplayEndsAsTheRecordedRunWithTheSameFramesSent)
{
    const Scenario& scenario = GetParam();
    const TracedUpgrade recorded = UpgradeTraced(
        [&scenario](Kernel& kernel) {
        auto lab = std::make_unique<Lab>(kernel);
        lab->Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        TargetConfig config;
        config.Address = DEVICE;
        config.Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
        scenario.Faults(config.Faults);
        lab->AddTarget(std::move(config));
        return lab;
        },
        Path("recorded"));
    ASSERT_EQ(recorded.Outcome, scenario.Expected) << scenario.What;

    std::string error;
    const auto frames = ReadPcapFrames(Path("recorded"), error);
    ASSERT_TRUE(frames) << error;
    auto session = RecordedSession::FromCapture(*frames, {}, "--device", error);
    ASSERT_TRUE(session) << error;
    std::vector<std::string> notes;
    const TracedUpgrade replayed = UpgradeTraced(
        [&session, &notes](Kernel& kernel) {
        ReplayTarget device(*session);
        device.SetUnansweredNote([&notes](const std::string& line) { notes.push_back(line); });
        return MakeReplayLab(kernel, std::move(device));
        },
        Path("replayed"));

    EXPECT_EQ(replayed.Outcome, recorded.Outcome) << scenario.What;
    EXPECT_EQ(RowOf(replayed.Outcome).ExitStatus, RowOf(recorded.Outcome).ExitStatus);
    EXPECT_EQ(replayed.Messages, recorded.Messages) << scenario.What;
    ASSERT_GT(recorded.Sent.size(), 3u);
    if (scenario.Resends) {
        EXPECT_GT(recorded.Sent.size(), CLEAN_UPGRADE_REQUESTS) << "nothing was lost";
    }
    EXPECT_EQ(replayed.Sent, recorded.Sent) << scenario.What;
    EXPECT_TRUE(notes.empty()) << notes.front();
}

INSTANTIATE_TEST_SUITE_P(
    FieldReports, ReplayTest,
    ::testing::Values(Scenario{"a good upgrade", [](TargetFaults&) {}, UpgradeOutcome::Finished},
                      Scenario{"a device that never answers a verify",
                               [](TargetFaults& faults) { faults.SilentOpcodes = {OP_VERIFY}; },
                               UpgradeOutcome::ProcessError, true},
                      Scenario{"a device that refuses the second write",
                               [](TargetFaults& faults) {
    faults.StatusForBlock = std::pair{IMAGE_ADDRESS + 512, std::uint16_t{0x0005}};
                               },
                               UpgradeOutcome::ProcessError},
                      Scenario{"resends after loss",
                               [](TargetFaults& faults) {
    faults.DropRequestShare = 0.15;
    faults.DropReplyShare = 0.15;
    faults.Seed = 7;
                               },
                               UpgradeOutcome::Finished, true},
    // Each reply, and its copy, comes just within the tool's wait: the replay
    // must not add the segment's time to what the trace measured.
    Scenario{"a device answering twice near the timeout",
             [](TargetFaults& faults) {
    faults.DuplicateReplies = true;
    faults.ResponseDelayMs = NEAR_TIMEOUT_MS;
             },
             UpgradeOutcome::Finished}),
    [](const ::testing::TestParamInfo<Scenario>& param) {
    std::string name = param.param.What;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
    });

}  // namespace
}  // namespace tarvik::testing
