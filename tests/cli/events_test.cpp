// --events: the stream's lines one by one (progress thinned to tenths, every phase change
// kept, the ends' fields), and whole upgrades on the built-in lab at pace 0 whose events,
// record lines and README schema must agree.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/event_stream.h"
#include "cli/exit_status.h"
#include "commands/readme_text.h"

namespace tarvik::cli {
namespace {

class FixedUtcClock final : public UtcClock {
public:
    std::int64_t MillisecondsSinceEpoch() override { return Now += 250; }
    std::int64_t Now = 1'700'000'000'000;
};

std::vector<Json> Lines(const std::string& text)
{
    std::vector<Json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

TEST(EventStreamTest, ProgressComesAtMostOncePerTenthOfAPhaseAndAtEveryPhaseChange)
{
    std::ostringstream out;
    FixedUtcClock clock;
    EventStream events(out, clock);
    constexpr std::uint64_t TOTAL = 65536;
    const auto report = [](ProgressPhase phase, std::uint64_t done) {
        return ProgressReport{phase, std::nullopt, std::nullopt, done, TOTAL};
    };
    events.Started("QV1A2B3C", "id");
    events.Progress("QV1A2B3C", report(ProgressPhase::Erase, 0));
    for (const ProgressPhase phase : {ProgressPhase::Write, ProgressPhase::Verify}) {
        for (std::uint64_t done = 0; done <= TOTAL; done += 512) {
            events.Progress("QV1A2B3C", report(phase, done));
        }
    }
    events.Progress("QV1A2B3C", report(ProgressPhase::Reset, TOTAL));
    events.Progress("QV1A2B3C", report(ProgressPhase::Reset, TOTAL));
    events.Progress("QV1A2B3C", report(ProgressPhase::Done, TOTAL));

    std::map<std::string, std::set<std::uint64_t>> tenths;
    std::vector<std::string> phases;
    for (const Json& line : Lines(out.str())) {
        if (line["event"] != "progress") {
            continue;
        }
        const std::string phase = line["phase"];
        if (phases.empty() || phases.back() != phase) {
            phases.push_back(phase);
        }
        const std::uint64_t tenth = line["bytesDone"].get<std::uint64_t>() * 10 / TOTAL;
        EXPECT_TRUE(tenths[phase].insert(tenth).second) << phase << " twice in tenth " << tenth;
        EXPECT_EQ(line["bytesTotal"], TOTAL);
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"erase", "write", "verify", "reset", "done"}));
    EXPECT_EQ(tenths["write"].size(), 11u);  // 0 %, each tenth, and the whole image
    EXPECT_EQ(tenths["reset"].size(), 1u);
}

TEST(EventStreamTest, AnEndIsASkipOrAFinishWithTheStatusCountsAndRecordId)
{
    struct Row {
        bool Skipped;
        std::string Result;
        int Status;
        std::string Kind;
    };
    for (const Row& row : {Row{true, "Hardware Type Mismatch !", 13, "skipped"},
                           Row{false, "Upgrade Finish", 0, "finished"},
                           Row{false, "Connection Timeout !", 6, "finished"}}) {
        std::ostringstream out;
        FixedUtcClock clock;
        EventStream events(out, clock);
        DeviceRunReport report;
        report.DeviceName = "QV000007";
        report.Skipped = row.Skipped;
        report.Result = row.Result;
        report.ExitStatus = row.Status;
        report.FramesSent = 259;
        report.FramesResent = 3;
        report.ElapsedMs = 566;
        events.Ends(report, "9d9fd18b-76c5-4b65-9aa0-292e18226a84");
        const std::vector<Json> lines = Lines(out.str());
        ASSERT_EQ(lines.size(), 1u);
        const Json& line = lines[0];
        EXPECT_EQ(line["event"], row.Kind);
        EXPECT_EQ(line["schema"], EVENTS_SCHEMA);
        EXPECT_EQ(line["time"], "2023-11-14T22:13:20.250Z");
        EXPECT_EQ(line["device"], "QV000007");
        EXPECT_EQ(line["result"], row.Result);
        if (!row.Skipped) {
            EXPECT_EQ(line["exitStatus"], row.Status);
            EXPECT_EQ(line["framesSent"], 259);
            EXPECT_EQ(line["framesResent"], 3);
            EXPECT_EQ(line["elapsedMs"], 566);
            EXPECT_EQ(line["recordId"], "9d9fd18b-76c5-4b65-9aa0-292e18226a84");
        }
    }
}

TEST(EventStreamTest, RecordIdsAreDistinctVersion4Uuids)
{
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = RandomUuid();
        EXPECT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

// --- whole upgrades on the lab ---

struct LabRun {
    int Status = -1;
    std::vector<Json> Events;
    std::vector<Json> Records;
};

LabRun RunOnLab(std::vector<const char*> upgrade, const char* command = "upgrade")
{
    const std::string record = ::testing::TempDir() + "events_record_" +
                               std::to_string(::getpid()) + "_" + std::to_string(upgrade.size()) +
                               ".jsonl";
    std::remove(record.c_str());
    std::vector<const char*> arguments{"tarvik-cli", "--lab", "--pace", "0",
                                       "--progress", "plain", command,  TARVIK_SAMPLE_IMAGE};
    arguments.insert(arguments.end(), upgrade.begin(), upgrade.end());
    for (const char* word : {"--events", "--record", record.c_str()}) {
        arguments.push_back(word);
    }
    std::ostringstream out;
    std::ostringstream err;
    const ParseResult parsed =
        ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), out, err);
    LabRun run;
    if (!parsed.Options) {
        ADD_FAILURE() << err.str();
        return run;
    }
    const StopRequested stop = [] { return false; };
    run.Status = RunCli(*parsed.Options, Streams{out, err}, stop);
    run.Events = Lines(out.str());
    std::ifstream file(record);
    std::stringstream lines;
    lines << file.rdbuf();
    run.Records = Lines(lines.str());
    std::remove(record.c_str());
    return run;
}

// Each device's kinds in order, progress events folded into one "progress".
std::map<std::string, std::vector<std::string>> KindsPerDevice(const std::vector<Json>& events)
{
    std::map<std::string, std::vector<std::string>> kinds;
    for (const Json& event : events) {
        std::vector<std::string>& seen = kinds[event["device"]];
        if (seen.empty() || seen.back() != "progress" || event["event"] != "progress") {
            seen.push_back(event["event"]);
        }
    }
    return kinds;
}

TEST(LabEventsTest, OneDeviceStartsProgressesAndFinishesUnderItsRecordsId)
{
    const LabRun run = RunOnLab({"QV1A2B3C"});
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(KindsPerDevice(run.Events), (std::map<std::string, std::vector<std::string>>{
                                              {"QV1A2B3C", {"started", "progress", "finished"}}}));
    ASSERT_FALSE(run.Events.empty());
    const Json& finished = run.Events.back();
    EXPECT_EQ(finished["result"], "Upgrade Finish");
    EXPECT_EQ(finished["exitStatus"], 0);
    ASSERT_EQ(run.Records.size(), 1u);
    EXPECT_EQ(finished["framesSent"], run.Records[0]["FramesSent"]);
    EXPECT_EQ(finished["framesResent"], run.Records[0]["FramesResent"]);
    EXPECT_EQ(finished["recordId"], run.Records[0]["RecordId"]);
    EXPECT_EQ(run.Events.front()["recordId"], finished["recordId"]);
}

TEST(LabEventsTest, AllDiscoversBothSkipsTheMisfitAndJoinsEachFinishToItsRecord)
{
    const LabRun run = RunOnLab({"--all"});
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS);
    EXPECT_EQ(KindsPerDevice(run.Events),
              (std::map<std::string, std::vector<std::string>>{
                  {"QV000007", {"discovered", "started", "skipped"}},
                  {"QV1A2B3C", {"discovered", "started", "progress", "finished"}}}));
    std::map<std::string, std::string> ids;
    for (const Json& event : run.Events) {
        if (event["event"] == "started") {
            ids[event["device"]] = event["recordId"];
        }
        if (event["event"] == "skipped") {
            EXPECT_EQ(event["result"], "Hardware Type Mismatch !");
            EXPECT_EQ(event["boardCode"], "001122334466");
        }
    }
    ASSERT_EQ(run.Records.size(), 2u);
    for (const Json& record : run.Records) {
        EXPECT_EQ(record["RecordId"], ids[record["DeviceName"]]) << record["DeviceName"];
    }
    EXPECT_NE(ids["QV000007"], ids["QV1A2B3C"]);
}

// A station on the lab for a second and a half, a fourth device plugged in after half a
// second: each device that fits is discovered, started and finished once, the misfit is
// discovered and skipped once, and every finish joins its record line.
TEST(LabEventsTest, AStationFlashesEachDeviceOnceAsItArrivesAndSkipsTheMisfitOnce)
{
    const LabRun run =
        RunOnLab({"--probe-interval", "0.25", "--stop-after", "1.5", "--lab-plug", "QV000101@0.5"},
                 "station");
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS);
    const std::vector<std::string> flashed = {"discovered", "started", "progress", "finished"};
    EXPECT_EQ(KindsPerDevice(run.Events), (std::map<std::string, std::vector<std::string>>{
                                              {"021122334455", flashed},
                                              {"QV000007", {"discovered", "skipped"}},
                                              {"QV000101", flashed},
                                              {"QV1A2B3C", flashed}}));
    ASSERT_EQ(run.Records.size(), 3u) << "a record per attempt; a skip is no attempt";
    for (const Json& event : run.Events) {
        if (event["event"] == "finished") {
            EXPECT_EQ(event["result"], "Upgrade Finish");
            const bool recorded = std::any_of(run.Records.begin(), run.Records.end(),
                                              [&](const Json& record) {
                return record["RecordId"] == event["recordId"] &&
                       record["DeviceName"] == event["device"];
            });
            EXPECT_TRUE(recorded) << event.dump();
        }
    }
}

// The README's table of event kinds: each row names the kind in backquotes, then its own
// fields, each a backquoted name followed by its type in brackets ("`recordId` (string)").
std::map<std::string, std::set<std::string>> ReadmeSchema()
{
    const std::string readme = ReadmeText();
    const std::size_t section = readme.find("### Events for scripts");
    std::map<std::string, std::set<std::string>> schema;
    if (section == std::string::npos) {
        return schema;
    }
    std::istringstream in(readme.substr(section, readme.find("\n## ", section) - section));
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("| `") || line.starts_with("| `event`")) {
            continue;
        }
        const std::size_t kindEnd = line.find('`', 3);
        std::set<std::string>& fields = schema[line.substr(3, kindEnd - 3)];
        fields = {"schema", "time", "device", "event"};
        for (std::size_t open = line.find('`', kindEnd + 1); open != std::string::npos;) {
            const std::size_t close = line.find('`', open + 1);
            if (close == std::string::npos) {
                break;
            }
            if (line.compare(close + 1, 2, " (") == 0) {
                fields.insert(line.substr(open + 1, close - open - 1));
            }
            open = line.find('`', close + 1);
        }
    }
    return schema;
}

TEST(LabEventsTest, TheReadmeNamesEveryFieldOfEveryEventKindAndNoOther)
{
    const std::map<std::string, std::set<std::string>> schema = ReadmeSchema();
    ASSERT_EQ(schema.size(), 5u) << "the README's events table";
    std::set<std::string> kindsSeen;
    for (const Json& event : RunOnLab({"--all"}).Events) {
        const std::string kind = event["event"];
        kindsSeen.insert(kind);
        std::set<std::string> fields;
        for (const auto& [key, value] : event.items()) {
            fields.insert(key);
        }
        ASSERT_TRUE(schema.contains(kind)) << kind;
        EXPECT_EQ(fields, schema.at(kind)) << kind;
    }
    EXPECT_EQ(kindsSeen.size(), schema.size());
}

}  // namespace
}  // namespace tarvik::cli
