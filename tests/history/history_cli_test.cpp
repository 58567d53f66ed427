// The history from the command line: the times --since and --until take, the statistics, and
// whole upgrades on the built-in lab at pace 0 with a history that can be kept and one that
// cannot.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "cli/history_report.h"
#include "cli/history_sink.h"
#include "history/history_store.h"
#include "history/lab_cli.h"

namespace tarvik::cli {
namespace {

TEST(HistoryTimeTest, EachFormTheHelpNamesIsReadAsUtcAndNothingElse)
{
    constexpr std::int64_t DAY = 1'700'000'000'000 - 80'000'000;  // 2023-11-14T00:00:00Z
    struct Row {
        const char* Text;
        bool EndOfDay;
        std::optional<std::int64_t> Ms;
    };
    for (const Row& row : {
             Row{"2023-11-14", false, DAY},
             Row{"2023-11-14", true, DAY + 86'400'000},
             Row{"2023-11-14Z", false, DAY},
             Row{"2023-11-14T22:13", true, DAY + 80'000'000 - 20'000},
             Row{"2023-11-14 22:13:20", false, DAY + 80'000'000},
             Row{"2023-11-14T22:13:20Z", false, DAY + 80'000'000},
             Row{"2024-02-29", false, DAY + 107 * std::int64_t{86'400'000}},
             Row{"2023-02-29", false, std::nullopt},
             Row{"2023-11-14T24:00", false, std::nullopt},
             Row{"2023-11-14T22:13:2", false, std::nullopt},
             Row{"2023-11-14T22:13:20+01:00", false, std::nullopt},
             Row{"14.11.2023", false, std::nullopt},
             Row{"", false, std::nullopt},
         }) {
        EXPECT_EQ(ParseUtcTime(row.Text, row.EndOfDay), row.Ms) << row.Text;
    }
}

HistoryRecord Attempt(const std::string& device, std::int64_t startMs, std::int64_t ms, int status,
                      const std::string& station = "line3", const std::string& sha = "aa")
{
    HistoryRecord record;
    record.DeviceName = device;
    record.StartMs = startMs;
    record.EndMs = startMs + ms;
    record.ExitStatus = status;
    record.Station = station;
    record.Sha256 = sha;
    record.FileName = "/images/" + sha + ".bin";
    return record;
}

// First-pass yield counts devices by their first attempt, whatever order the records come in;
// the median is of the attempts that passed.
TEST(HistoryStatsTest, PerImageAndStationWithFirstPassYieldAndMedianOfThePassed)
{
    const std::vector<HistoryRecord> records{
        Attempt("QV000001", 3000, 40'000, 0),  // its second attempt passed
        Attempt("QV000001", 1000, 5'000, 16),  // its first failed
        Attempt("QV000002", 2000, 60'000, 0),
        Attempt("QV000003", 4000, 50'000, 0),
        Attempt("QV000003", 9000, 90'000, 0),
        Attempt("QV000001", 1000, 61'000, 0, "line4"),
        Attempt("QV000001", 1000, 1'000, 13, "line3", "bb"),
    };
    const std::vector<HistoryStats> stats = ComputeStats(records);
    ASSERT_EQ(stats.size(), 3u);
    const HistoryStats& line3 = stats[0];
    EXPECT_EQ(line3.Sha256, "aa");
    EXPECT_EQ(line3.Station, "line3");
    EXPECT_EQ(line3.Attempts, 5u);
    EXPECT_EQ(line3.Passed, 4u);
    EXPECT_EQ(line3.Failed, 1u);
    EXPECT_EQ(line3.Devices, 3u);
    EXPECT_EQ(line3.PassedFirstTime, 2u);
    EXPECT_EQ(line3.MedianMs, 55'000) << "of 40, 50, 60 and 90 s";
    EXPECT_EQ(stats[1].Station, "line4");
    EXPECT_EQ(stats[1].MedianMs, 61'000);
    EXPECT_EQ(stats[2].Sha256, "bb");
    EXPECT_FALSE(stats[2].MedianMs) << "nothing passed";
    EXPECT_EQ(stats[2].PassedFirstTime, 0u);
    EXPECT_EQ(StatsJson(line3)["FirstPassYield"], 2.0 / 3.0);
    const std::string table = StatsTable(stats);
    EXPECT_NE(table.find("aa.bin aa  line3"), std::string::npos) << table;
    EXPECT_NE(table.find("66.7 % of 3"), std::string::npos) << table;
    EXPECT_NE(table.find("00:55"), std::string::npos) << table;
}

// --- whole upgrades on the lab ---

// A history that cannot be kept is one line on stderr: the upgrade finishes, its status is
// that of the upgrade, and --record's line is written as ever.
TEST(LabHistoryTest, AnUnwritableHistoryWarnsOnceAndTheUpgradeFinishes)
{
    const std::string record = Folder() + ".jsonl";
    std::remove(record.c_str());
    for (const char* history : {"/proc/no/such/history.sqlite", "/dev/null/history.sqlite"}) {
        const CliRun run = RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade",
                                       TARVIK_SAMPLE_IMAGE, "QV1A2B3C", "--history", history,
                                       "--record", record.c_str()});
        EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS) << history;
        std::istringstream lines(run.Err);
        int warnings = 0;
        for (std::string line; std::getline(lines, line);) {
            warnings += line.find("history") != std::string::npos ? 1 : 0;
            if (line.find("history") != std::string::npos) {
                EXPECT_NE(line.find("the upgrade goes on without it"), std::string::npos) << line;
            }
        }
        EXPECT_EQ(warnings, 1) << run.Err;
    }
    std::ifstream lines(record);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        ++count;
    }
    EXPECT_EQ(count, 2) << "one line per run";
    std::remove(record.c_str());
}

// The history's export and --record write the same line for the same attempt; the history
// adds who, where, and (with --read-back) what the device said after its reset.
TEST(LabHistoryTest, TheHistoryKeepsWhatTheRecordSaysAndMore)
{
    const std::string history = Folder() + "/state/history.sqlite";
    const std::string record = Folder() + ".jsonl";
    std::remove(record.c_str());
    const CliRun run =
        RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade", TARVIK_SAMPLE_IMAGE,
                    "QV1A2B3C", "--history", history.c_str(), "--station", "line3", "--operator",
                    "alice", "--record", record.c_str(), "--read-back"});
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS) << run.Err;
    EXPECT_EQ(run.Err.find("history"), std::string::npos) << run.Err;
    const CliRun exported = RunCliWith({"history", "--history", history.c_str(), "export"});
    EXPECT_EQ(exported.Status, EXIT_SUCCESS_STATUS) << exported.Err;
    std::ifstream file(record);
    std::stringstream recorded;
    recorded << file.rdbuf();
    const Json fromRecord = Json::parse(recorded.str());
    const Json fromHistory = Json::parse(exported.Out);
    for (const char* key :
         {"Interface", "DeviceName", "Descriptor", "FileName", "FileSize", "Sha256", "PaceMs",
          "FramesSent", "FramesResent", "Result", "ExitStatus", "RecordId"}) {
        EXPECT_EQ(fromHistory[key], fromRecord[key]) << key;
    }
    std::vector<std::string> recordKeys;
    std::vector<std::string> exportKeys;
    for (const auto& [key, value] : fromRecord.items()) {
        recordKeys.push_back(key);
    }
    for (const auto& [key, value] : fromHistory.items()) {
        exportKeys.push_back(key);
    }
    EXPECT_EQ(exportKeys, recordKeys);

    const CliRun listed = RunCliWith({"--json", "history", "--history", history.c_str(), "--device",
                                      "QV1A2B3C", "--station", "line3"});
    const Json full = Json::parse(listed.Out);
    EXPECT_EQ(full["Station"], "line3");
    EXPECT_EQ(full["Operator"], "alice");
    EXPECT_EQ(full["DescriptorAfter"]["BoardCode"], "001122334455");
    EXPECT_EQ(RunCliWith({"history", "--history", history.c_str(), "--failed"}).Out,
              "no attempts match in " + history + "\n");
    std::remove(record.c_str());
}

TEST(LabHistoryTest, HistoryNoneKeepsNothingAndAMissingHistoryHasNoAttempts)
{
    const std::string history = Folder() + "/never.sqlite";
    const CliRun run = RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade",
                                   TARVIK_SAMPLE_IMAGE, "QV1A2B3C", "--history", "none"});
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS);
    const CliRun listed = RunCliWith({"history", "--history", history.c_str()});
    EXPECT_EQ(listed.Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(listed.Out, "no attempts: the history " + history + " holds none yet\n");
    EXPECT_EQ(::access(history.c_str(), F_OK), -1) << "listing creates no history";
}

// The station's pusher against a server that is not there: the records stay queued, waking it
// returns at once, and it stops when destroyed.
TEST(LabHistoryTest, ABackgroundPushToNoServerLeavesTheRecordsQueuedAndStops)
{
    const std::string history = Folder() + "/history.sqlite";
    ASSERT_EQ(RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade",
                          TARVIK_SAMPLE_IMAGE, "QV1A2B3C", "--history", history.c_str()})
                  .Status,
              EXIT_SUCCESS_STATUS);
    std::string error;
    SystemUtcClock utc;
    {
        auto pusher = StartBackgroundPush(
            history, "postgresql:///line?host=/nonexistent/tarvik&connect_timeout=1",
            StationHeartbeat{"line3", "1.0", "fw.bin", "", "", 0, false}, utc, error);
        ASSERT_TRUE(pusher) << error;
        for (int i = 0; i < 10; ++i) {
            pusher->Wake();
        }
    }
    auto store = HistoryStore::Open(history, error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->UnpushedCount(error), 1u);
    const CliRun push = RunCliWith({"history", "--history", history.c_str(), "push",
                                    "postgresql:///line?host=/nonexistent/tarvik"});
    EXPECT_EQ(push.Status, EXIT_HISTORY_PUSH_INCOMPLETE);
    EXPECT_EQ(push.Out, "pushed 0 record(s); 1 remain queued\n");
    EXPECT_NE(push.Err.find("tarvik-cli: history push: "), std::string::npos) << push.Err;
}

}  // namespace
}  // namespace tarvik::cli
