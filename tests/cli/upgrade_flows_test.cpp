// tarvik-cli's upgrade commands run whole, in-process, on a lab segment in simulated time: what
// each device receives from the command line's upgrade, batch and station, whatever the
// history, --record and --events ask for, and when the command ends.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "cli/json_output.h"
#include "commands/interface_access.h"
#include "commands/run_environment.h"
#include "commands/several_devices.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "platform/host/os_version.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

constexpr char IMAGE[] = "/images/fw.bin";
constexpr std::array<std::uint8_t, 6> FITTING_BOARD = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr MacAddress FIRST = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x01};
constexpr MacAddress SECOND = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x02};
// Devices nobody answers for.
constexpr MacAddress SILENT = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0A};
constexpr MacAddress SILENT_TOO = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};

std::vector<std::uint8_t> TestImage()
{
    ImageSpec layout = SampleImageSpec();
    layout.Size = 5000;
    layout.HeaderOffset = 0;
    return BuildImage(layout);
}

struct SentFrame {
    MacAddress Destination{};
    std::uint16_t Opcode = 0;
    std::uint64_t AtMs = 0;
};

class UpgradeFlowsTest : public ::testing::Test {
protected:
    UpgradeFlowsTest() : lab(kernel)
    {
        lab.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        registry = MakeLabRegistry();
        files.Add(IMAGE, TestImage());
        lab.Segment().SetObserver([this](std::span<const std::uint8_t> frame,
                                         const SegmentStation*) {
            const auto header = DecodeHeader(frame);
            if (header && header->Source == LAB_ADAPTER_ADDRESS &&
                header->Destination != BROADCAST_ADDRESS) {
                std::lock_guard lock(lock_);
                sent_.push_back({header->Destination, header->Opcode, kernel.Now()});
            }
        });
        const std::string stem = ::testing::TempDir() + "upgrade_flows_" +
                                 std::to_string(::getpid()) + "_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        historyPath = stem + ".sqlite";
        recordPath = stem + ".jsonl";
    }

    ~UpgradeFlowsTest() override
    {
        std::remove(historyPath.c_str());
        std::remove(recordPath.c_str());
    }

    void AddDevice(const MacAddress& address)
    {
        TargetConfig config;
        config.Address = address;
        config.Descriptor = LabTargetDescriptor(FITTING_BOARD);
        config.Variants = {FrameVariantKind::Untyped};
        lab.AddTarget(std::move(config));
    }

    // Runs tarvik-cli with the words after its common options, on this lab; the history is
    // kept (in a file of the test's) unless the words say otherwise.
    int Run(std::vector<std::string> words)
    {
        std::vector<std::string> arguments{"tarvik-cli", "--lab",      "--pace",
                                           "0",          "--progress", "plain"};
        arguments.insert(arguments.end(), words.begin(), words.end());
        if (std::find(words.begin(), words.end(), "--history") == words.end()) {
            arguments.insert(arguments.end(), {"--history", historyPath});
        }
        std::vector<const char*> argv;
        for (const std::string& word : arguments) {
            argv.push_back(word.c_str());
        }
        const ParseResult parsed =
            ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
        if (!parsed.Options) {
            ADD_FAILURE() << err.str();
            return -1;
        }
        const EnvironmentMaker onThisLab = [this](const CliOptions&, const StopRequested& stop,
                                                  RunSharing sharing, std::optional<ReplayTarget>) {
            return std::make_unique<RunEnvironment>(
                EnvironmentParts{kernel, lab.Driver(), *registry, version, files, access}, stop,
                sharing);
        };
        const int status = RunCli(*parsed.Options, Streams{out, err}, {}, onThisLab);
        endedAt = kernel.Now();
        return status;
    }

    void ClearSent()
    {
        std::lock_guard lock(lock_);
        sent_.clear();
    }

    std::vector<SentFrame> SentTo(const MacAddress& device)
    {
        std::lock_guard lock(lock_);
        std::vector<SentFrame> frames;
        for (const SentFrame& frame : sent_) {
            if (frame.Destination == device) {
                frames.push_back(frame);
            }
        }
        return frames;
    }

    // The requests a device got, by opcode; a silent device gets the tries of its queries.
    std::size_t Requests(const MacAddress& device, std::uint16_t opcode)
    {
        std::size_t count = 0;
        for (const SentFrame& frame : SentTo(device)) {
            count += frame.Opcode == opcode;
        }
        return count;
    }

    void ExpectResetIsLast(const MacAddress& device)
    {
        const std::vector<SentFrame> frames = SentTo(device);
        ASSERT_GT(frames.size(), 2u) << FormatDeviceName(device);
        EXPECT_EQ(frames.front().Opcode, OP_INFO) << "the check's query comes first";
        EXPECT_EQ(Requests(device, OP_INFO), 1u) << FormatDeviceName(device);
        EXPECT_EQ(frames.back().Opcode, OP_RESET) << FormatDeviceName(device);
    }

    SimKernel kernel{0x30000};
    Lab lab;
    std::unique_ptr<Registry> registry;
    FixedOsVersionQuery version{VER_PLATFORM_WIN32_NT};
    tarvik::testing::MemoryFileSystem files;
    LabAccess access;
    std::ostringstream out;
    std::ostringstream err;
    std::string historyPath;
    std::string recordPath;
    std::uint64_t endedAt = 0;

private:
    std::mutex lock_;
    std::vector<SentFrame> sent_;
};

// --- one information query before the upgrade ---

// A silent device gets the one query's tries and no more before "Communication Fail", whatever
// is recorded of the attempt: the check's answer is the record's descriptor.
TEST_F(UpgradeFlowsTest, ASilentDeviceGetsOneQuerysTriesWhateverIsRecorded)
{
    const std::vector<std::vector<std::string>> recordings = {
        {}, {"--record", recordPath}, {"--events"}, {"--history", "none"}};
    for (const auto& recording : recordings) {
        SCOPED_TRACE(recording.empty() ? "the default history" : recording.front());
        const std::uint64_t before = kernel.Now();
        const std::size_t sentBefore = Requests(SILENT, OP_INFO);
        std::vector<std::string> words{"upgrade", IMAGE, "QV00000A"};
        words.insert(words.end(), recording.begin(), recording.end());
        EXPECT_EQ(Run(words), ExitStatusFor(UpgradeOutcome::CommunicationFail));
        EXPECT_EQ(Requests(SILENT, OP_INFO) - sentBefore, STEP_TRIES);
        EXPECT_LT(endedAt - before, (STEP_TRIES + 1) * 1000u);

        const std::size_t firstBefore = Requests(SILENT, OP_INFO);
        const std::size_t secondBefore = Requests(SILENT_TOO, OP_INFO);
        words = {"upgrade", IMAGE, "QV00000A", "QV00000B"};
        words.insert(words.end(), recording.begin(), recording.end());
        EXPECT_EQ(Run(words), EXIT_SOME_DEVICES_FAILED);
        EXPECT_EQ(Requests(SILENT, OP_INFO) - firstBefore, STEP_TRIES);
        EXPECT_EQ(Requests(SILENT_TOO, OP_INFO) - secondBefore, STEP_TRIES);
    }
    EXPECT_EQ(SentTo(SILENT).size(), Requests(SILENT, OP_INFO)) << "nothing but queries";
}

// --- the reset is the last frame ---

TEST_F(UpgradeFlowsTest, ADefaultUpgradeEndsWithTheResetAloneInABatchAndAtAStation)
{
    AddDevice(FIRST);
    AddDevice(SECOND);
    EXPECT_EQ(Run({"upgrade", IMAGE, "QV000001", "--record", recordPath}), EXIT_SUCCESS_STATUS);
    ExpectResetIsLast(FIRST);

    ClearSent();
    EXPECT_EQ(Run({"upgrade", IMAGE, "QV000001", "QV000002", "--events"}), EXIT_SUCCESS_STATUS);
    ExpectResetIsLast(FIRST);
    ExpectResetIsLast(SECOND);

    ClearSent();
    EXPECT_EQ(Run({"station", IMAGE, "--probe-interval", "0.5", "--stop-after", "2"}),
              EXIT_SUCCESS_STATUS);
    ExpectResetIsLast(FIRST);
    ExpectResetIsLast(SECOND);
}

// Asked for, each attempt's one record holds what the device said after its reset, alone and at
// a station whose one job moved on at the reset.
TEST_F(UpgradeFlowsTest, WithTheReadBackEachAttemptIsRecordedOnceWithItsDescriptorAfter)
{
    AddDevice(FIRST);
    AddDevice(SECOND);
    EXPECT_EQ(Run({"upgrade", IMAGE, "QV000001", "--read-back"}), EXIT_SUCCESS_STATUS);
    EXPECT_EQ(Run({"station", IMAGE, "--probe-interval", "0.5", "--stop-after", "2", "--jobs", "1",
                   "--read-back"}),
              EXIT_SUCCESS_STATUS);
    out.str({});
    const int listed = Run({"--json", "history"});
    if (err.str().find(NO_HISTORY_IN_THIS_BUILD) != std::string::npos) {
        GTEST_SKIP() << "this build keeps no history";
    }
    ASSERT_EQ(listed, EXIT_SUCCESS_STATUS) << err.str();
    std::istringstream lines(out.str());
    std::vector<Json> records;
    for (std::string line; std::getline(lines, line);) {
        records.push_back(Json::parse(line));
    }
    ASSERT_EQ(records.size(), 3u) << out.str();
    for (const Json& record : records) {
        EXPECT_EQ(record["Result"], TEXT_FINISHED);
        EXPECT_EQ(record["DescriptorAfter"]["BoardCode"], "001122334455") << record.dump();
    }
}

// A device that boots its application after the reset answers nothing more: a default upgrade
// ends as soon as the reset is acknowledged. Asked for, the read-back costs such a device its
// tries, after the result is out.
TEST_F(UpgradeFlowsTest, ADeviceThatBootsItsApplicationCostsADefaultUpgradeNoTime)
{
    AddDevice(FIRST);
    std::optional<std::uint64_t> resetAt;
    std::optional<std::string> outAtReadBack;
    lab.Segment().SetHook([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
        const auto header = DecodeHeader(frame);
        if (header && header->Destination == FIRST && header->Opcode == OP_RESET) {
            resetAt = kernel.Now();
        } else if (header && header->Destination == FIRST && resetAt) {
            if (!outAtReadBack) {
                outAtReadBack = out.str();
            }
            return std::vector<std::uint32_t>{};
        }
        return std::vector<std::uint32_t>{1};
    });
    EXPECT_EQ(Run({"--json", "upgrade", IMAGE, "QV000001"}), EXIT_SUCCESS_STATUS);
    ASSERT_TRUE(resetAt);
    EXPECT_LT(endedAt - *resetAt, 100u);
    EXPECT_FALSE(outAtReadBack) << "nothing after the reset";

    resetAt.reset();
    out.str({});
    EXPECT_EQ(Run({"--json", "upgrade", IMAGE, "QV000001", "--read-back", "--record", recordPath}),
              EXIT_SUCCESS_STATUS);
    ASSERT_TRUE(resetAt);
    ASSERT_TRUE(outAtReadBack);
    EXPECT_NE(outAtReadBack->find(TEXT_FINISHED), std::string::npos)
        << "the result is out before the read-back asks";
    EXPECT_GE(endedAt - *resetAt, (DESCRIPTOR_AFTER_RESET_TRIES - 1) * 990u);
    EXPECT_EQ(Requests(FIRST, OP_INFO), 1u + 1 + DESCRIPTOR_AFTER_RESET_TRIES);
    std::ifstream record(recordPath);
    std::string line;
    ASSERT_TRUE(std::getline(record, line)) << "the attempt is recorded all the same";
    EXPECT_NE(line.find(TEXT_FINISHED), std::string::npos);
}

}  // namespace
}  // namespace tarvik::cli
