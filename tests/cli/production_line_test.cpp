// The command line's pieces for several devices at once: naming them, the record of each
// upgrade, the summary, and a record file that several programs append to together.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "cli/cli_options.h"
#include "cli/device_summary.h"
#include "cli/upgrade_record.h"
#include "image/memory_file_system.h"

namespace tarvik::cli {
namespace {

std::optional<CliOptions> Parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "tarvik-cli");
    return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data()).Options;
}

// --- naming the devices ---

TEST(SeveralDevicesOptionsTest, OneNameRunsAsBeforeAndSeveralRunTogetherEachOnce)
{
    const auto one = Parse({"upgrade", "fw.bin", "QV1A2B3C"});
    ASSERT_TRUE(one);
    EXPECT_FALSE(one->SeveralDevices());
    EXPECT_EQ(one->DeviceName, "QV1A2B3C");

    // The same device by both of its names is one device, upgraded once.
    const auto several = Parse({"upgrade", "fw.bin", "QV000001", "025A17000001", "QV000002"});
    ASSERT_TRUE(several);
    EXPECT_TRUE(several->SeveralDevices());
    EXPECT_EQ(several->DeviceNames, (std::vector<std::string>{"QV000001", "QV000002"}));

    // Named twice, a device is still the one-device upgrade, not two runs at one device.
    for (const auto& twice : {std::vector<const char*>{"upgrade", "fw.bin", "QV1A2B3C", "QV1A2B3C"},
                              {"upgrade", "fw.bin", "025a171a2b3c", "QV1A2B3C"}}) {
        const auto again = Parse(twice);
        ASSERT_TRUE(again);
        EXPECT_FALSE(again->SeveralDevices());
        EXPECT_EQ(again->DeviceNames, std::vector<std::string>{twice[2]});
        EXPECT_EQ(again->DeviceName, twice[2]);
    }
}

TEST(SeveralDevicesOptionsTest, AllTakesNoNamesAndAnUpgradeNeedsOneOrTheOther)
{
    const auto all = Parse({"upgrade", "fw.bin", "--all", "--jobs", "4"});
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->SeveralDevices());
    EXPECT_EQ(all->Jobs, 4u);
    EXPECT_FALSE(Parse({"upgrade", "fw.bin", "--all", "QV000001"}));
    EXPECT_FALSE(Parse({"upgrade", "fw.bin"}));
    EXPECT_FALSE(Parse({"upgrade", "fw.bin", "QV000001", "--jobs", "0"}));
    EXPECT_FALSE(Parse({"--pace", "21", "upgrade", "fw.bin", "QV000001"}));
    const auto lockstep = Parse({"--pace", "0", "upgrade", "fw.bin", "QV000001"});
    ASSERT_TRUE(lockstep);
    EXPECT_EQ(lockstep->PaceMs, 0u);
}

TEST(StationOptionsTest, ProbesBothFrameTypesUnlessOneIsNamedAndReadsTheLabsPlugs)
{
    const auto station = Parse({"--lab", "station", "fw.bin", "--lab-plug", "QV000101@1.5-4",
                                "--lab-plug", "021122334455@2", "--probe-interval", "0.5"});
    ASSERT_TRUE(station);
    EXPECT_EQ(station->Which, Command::Station);
    EXPECT_TRUE(station->SeveralDevices()) << "the station shares the adapter among its runs";
    EXPECT_EQ(station->StationVariants,
              (std::vector<FrameVariantKind>{FrameVariantKind::Untyped, FrameVariantKind::Typed}));
    EXPECT_EQ(station->ProbeIntervalMs, 500u);
    EXPECT_FALSE(station->StopAfterMs);
    ASSERT_EQ(station->LabPlugs.size(), 2u);
    EXPECT_EQ(station->LabPlugs[0].InMs, 1500u);
    EXPECT_EQ(station->LabPlugs[0].OutMs, std::optional<std::uint32_t>(4000));
    EXPECT_EQ(station->LabPlugs[1].Device, (MacAddress{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_FALSE(station->LabPlugs[1].OutMs);

    const auto typed = Parse({"--frame-type", "typed", "station", "fw.bin", "--stop-after", "2"});
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->StationVariants, std::vector<FrameVariantKind>{FrameVariantKind::Typed});
    EXPECT_EQ(typed->StopAfterMs, std::optional<std::uint32_t>(2000));

    for (const char* plug :
         {"QV000101", "QV000101@", "QV00010@1", "QV000101@3-2", "QV000101@x", "QV000101@1-"}) {
        EXPECT_FALSE(Parse({"--lab", "station", "fw.bin", "--lab-plug", plug})) << plug;
    }
    EXPECT_FALSE(Parse({"station", "fw.bin", "--lab-plug", "QV000101@1"})) << "needs --lab";
    EXPECT_FALSE(Parse({"station", "fw.bin", "--probe-interval", "0"}));
}

// --- the record ---

class FixedUtcClock final : public UtcClock {
public:
    std::int64_t MillisecondsSinceEpoch() override { return Now += 1500; }
    std::int64_t Now = 1'700'000'000'000;  // 2023-11-14T22:13:20Z
};

TEST(UpgradeRecordTest, TheImageDigestIsTheSha256OfTheWholeFile)
{
    testing::MemoryFileSystem files;
    files.Add("/abc", {'a', 'b', 'c'});
    const auto digest = DigestImageFile(files, "/abc");
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->Size, 3u);
    EXPECT_EQ(digest->Sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(DigestImageFile(files, "/missing"));
}

TEST(UpgradeRecordTest, ALineSaysWhoGotWhichImageWhenAndHowItEnded)
{
    DeviceRunReport report;
    report.DeviceName = "QV000002";
    SettleReport(report, UpgradeOutcome::ProcessError, false, false);
    report.FramesSent = 40;
    report.FramesResent = 3;
    const RecordContext context{"eth1",     "/images/fw.bin",   ImageDigest{3, "ba78"},
                                5,          "verified",         "7CE53E5B1F08D965",
                                "tarvik boards=001122334455\x01"};
    const Json line = RecordJson(context, report, 1'700'000'000'250, 1'700'000'062'000);
    EXPECT_EQ(line["Start"], "2023-11-14T22:13:20.250Z");
    EXPECT_EQ(line["End"], "2023-11-14T22:14:22.000Z");
    EXPECT_EQ(line["Interface"], "eth1");
    EXPECT_EQ(line["DeviceName"], "QV000002");
    EXPECT_TRUE(line["Descriptor"].is_null()) << "no descriptor was read";
    EXPECT_EQ(line["Sha256"], "ba78");
    EXPECT_EQ(line["PaceMs"], 5);
    EXPECT_EQ(line["FramesResent"], 3);
    EXPECT_EQ(line["Result"], "Upgrade Process Error !");
    EXPECT_EQ(line["ExitStatus"], 16);
    EXPECT_EQ(line["Signature"], "verified");
    EXPECT_EQ(line["SignerKeyId"], "7CE53E5B1F08D965");
    EXPECT_EQ(line["SignedComment"], "tarvik boards=001122334455\x01");
}

TEST(UpgradeRecordTest, AStoppedRunIsRecordedAsInterrupted)
{
    DeviceRunReport report;
    SettleReport(report, UpgradeOutcome::Other, false, true);
    EXPECT_EQ(report.Result, "interrupted");
    EXPECT_EQ(report.ExitStatus, 130);
    DeviceRunReport finished;
    SettleReport(finished, UpgradeOutcome::Finished, false, true);
    EXPECT_FALSE(finished.Stopped) << "a device that finished before the stop did finish";
}

// Several programs append to one record at once: every line stays whole.
TEST(UpgradeRecordTest, LinesFromManyWritersAtOnceStayWhole)
{
    char path[] = "/tmp/tarvik-record-XXXXXX";
    const int made = ::mkstemp(path);
    ASSERT_GE(made, 0);
    ::close(made);
    constexpr int WRITERS = 8;
    constexpr int LINES = 200;
    std::vector<std::thread> writers;
    for (int writer = 0; writer < WRITERS; ++writer) {
        writers.emplace_back([&path, writer] {
            FixedUtcClock clock;
            std::string error;
            DeviceRunReport report;
            report.DeviceName = "QV00000" + std::to_string(writer);
            report.Result = std::string(3000, 'x');  // longer than a pipe's atomic write
            auto recorder = UpgradeRecorder::Open(path, RecordContext{}, error);
            ASSERT_TRUE(recorder) << error;
            for (int i = 0; i < LINES; ++i) {
                const std::int64_t start = clock.MillisecondsSinceEpoch();
                EXPECT_TRUE(recorder->Write(report, start, clock.MillisecondsSinceEpoch()));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::ifstream file(path);
    std::string text;
    int lines = 0;
    while (std::getline(file, text)) {
        ++lines;
        EXPECT_TRUE(Json::accept(text)) << "line " << lines << " is not whole";
    }
    EXPECT_EQ(lines, WRITERS * LINES);
    std::remove(path);
}

// --- the summary ---

TEST(DeviceSummaryTest, EachDeviceHasItsRowWithItsOwnResult)
{
    std::vector<DeviceRunReport> reports(2);
    reports[0].DeviceName = "QV000001";
    SettleReport(reports[0], UpgradeOutcome::Finished, true, false);
    reports[0].FileSize = 65536;
    reports[0].ElapsedMs = 61'000;
    reports[1].DeviceName = "QV000004";
    SettleReport(reports[1], UpgradeOutcome::HardwareMismatch, true, false);
    const std::string table = SummaryTable(reports);
    EXPECT_NE(table.find("QV000001  Upgrade Finish"), std::string::npos) << table;
    EXPECT_NE(table.find("65536     01:01"), std::string::npos) << table;
    EXPECT_NE(table.find("QV000004  skipped: Hardware Type Mismatch !"), std::string::npos)
        << table;
    EXPECT_EQ(DeviceResultJson(reports[1], "fw.bin")["Skipped"], true);
}

}  // namespace
}  // namespace tarvik::cli
