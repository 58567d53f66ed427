// Text that is not UTF-8 and files that are not what they seem: names in Latin-1 through a whole
// upgrade and every later reading of its history, stored values no parser reads, other
// programs' SQLite files, a history listed without being changed, extreme stored numbers, and
// names that would break a table's rows.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <sqlite3.h>

#include "cli/exit_status.h"
#include "cli/history_report.h"
#include "cli/json_output.h"
#include "cli/upgrade_record.h"
#include "history/history_store.h"
#include "history/lab_cli.h"
#include "platform/files/file_system.h"
#include "platform/formats/utf8_text.h"

namespace tarvik::cli {
namespace {

TEST(Utf8TextTest, ValidTextStaysAndEveryOtherByteIsEscaped)
{
    struct Row {
        std::string In;
        std::string Escaped;
    };
    for (const Row& row : {
             Row{"fw.bin", "fw.bin"},
             Row{"fw-\xC3\xA9t\xC3\xA9.bin", "fw-\xC3\xA9t\xC3\xA9.bin"},  // é in UTF-8
             Row{"\xF0\x9F\x94\xA5", "\xF0\x9F\x94\xA5"},                  // four bytes
             Row{"fw-\xE9t\xE9.bin", "fw-\\xE9t\\xE9.bin"},                // é in Latin-1
             Row{"\xC0\xAF", "\\xC0\\xAF"},                                // overlong '/'
             Row{"\xED\xA0\x80", "\\xED\\xA0\\x80"},                       // a surrogate
             Row{"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},              // above U+10FFFF
             Row{"a\xE2\x82", "a\\xE2\\x82"},                              // cut short
             Row{"\x80x", "\\x80x"},                                       // a stray continuation
             Row{std::string("a\0b", 3), std::string("a\0b", 3)},
         }) {
        EXPECT_EQ(Utf8Escaped(row.In), row.Escaped) << row.In;
        EXPECT_TRUE(IsValidUtf8(Utf8Escaped(row.In))) << row.In;
        EXPECT_EQ(IsValidUtf8(row.In), row.In == row.Escaped) << row.In;
    }
    EXPECT_EQ(PrintableText("line\n3\x1B[2J\t\x7F\xC3\xA9\xE9"),
              "line\\x0A3\\x1B[2J\\x09\\x7F\xC3\xA9\\xE9");
}

HistoryRecord HostileRecord(const std::string& text)
{
    HistoryRecord record;
    record.RecordId = text;
    record.Station = text;
    record.Operator = text;
    record.ProgramVersion = text;
    record.Interface = text;
    record.DeviceName = text;
    record.DescriptorBefore = text;
    record.DescriptorAfter = text;
    record.FileName = text;
    record.Sha256 = text;
    record.Result = text;
    return record;
}

// No JSON writer ends the program over what a text holds; a line always parses.
TEST(HistoryJsonTest, EveryLineParsesWhateverTheTextsHold)
{
    for (const std::string& text :
         {std::string("fw-\xE9t\xE9.bin"), std::string("\xFF\xFE\n\"\\"), std::string("{"),
          std::string("{\"a\":\"\xE9\"}"), std::string()}) {
        const HistoryRecord record = HostileRecord(text);
        for (const Json& value :
             {RecordJson(record), HistoryJson(record), StatsJson(ComputeStats({record}).at(0)),
              ErrorJson(text), NamesJson({text}),
              DescriptorJson(ImageDescriptor{}, "FileName", text)}) {
            const std::string line = JsonLine(value);
            EXPECT_FALSE(Json::parse(line, nullptr, false).is_discarded()) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        }
    }
    // The last guard: a string that never went through JsonText is written, not thrown.
    EXPECT_EQ(JsonLine(Json("\xE9")), "\"\xEF\xBF\xBD\"");
}

// A stored descriptor that is not JSON is null in the line and said on stderr.
TEST(HistoryJsonTest, AStoredDescriptorThatIsNotJsonIsNullAndNamed)
{
    HistoryRecord record = HostileRecord("x");
    record.DescriptorBefore = R"({"BoardCode":"00112233)";
    record.DescriptorAfter = R"({"BoardCode":"001122334455"})";
    EXPECT_TRUE(RecordJson(record)["Descriptor"].is_null());
    EXPECT_EQ(HistoryJson(record)["DescriptorAfter"]["BoardCode"], "001122334455");
    EXPECT_EQ(UnreadableFields(record), std::vector<std::string>{"Descriptor"});
    record.DescriptorBefore.reset();
    EXPECT_TRUE(UnreadableFields(record).empty()) << "none is no damage";
}

// The table's cells hold one line each; times too far apart to subtract show no elapsed time.
TEST(HistoryTableTest, ControlCharactersAreEscapedAndExtremeTimesShowNoElapsedTime)
{
    HistoryRecord record = HostileRecord("x");
    record.Station = "line\n3";
    record.Operator = "al\x1B[31mice";
    record.FileName = "C:\\images\\fw-\xE9.bin";  // a Windows station's path
    record.Result = "Upgrade Finish\r";
    record.StartMs = std::numeric_limits<std::int64_t>::min();
    record.EndMs = std::numeric_limits<std::int64_t>::max();
    const std::string table = HistoryTable({record});
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2) << table;
    EXPECT_NE(table.find("line\\x0A3"), std::string::npos) << table;
    EXPECT_NE(table.find("al\\x1B[31mice"), std::string::npos) << table;
    EXPECT_NE(table.find("fw-\\xE9.bin"), std::string::npos) << table;
    EXPECT_NE(table.find("0000-01-01 00:00:00"), std::string::npos) << table;
    EXPECT_NE(table.find("      -  "), std::string::npos) << "elapsed: " << table;
    EXPECT_TRUE(HistoryJson(record)["ElapsedMs"].is_null());
    EXPECT_EQ(RecordJson(record)["End"], "9999-12-31T23:59:59.999Z");

    record.StartMs = -9'000'000'000'000'000'000;
    record.EndMs = 9'000'000'000'000'000'000;
    record.ExitStatus = 0;
    const std::vector<HistoryStats> stats = ComputeStats({record, record});
    EXPECT_FALSE(stats.at(0).MedianMs) << "no time to take a median of";
}

// --- whole runs of the command line ---

class HostileHistoryTest : public ::testing::Test {
protected:
    HostileHistoryTest() : folder(Folder())
    {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        history = folder + "/history.sqlite";
    }
    ~HostileHistoryTest() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Runs SQL on a file as another program would; the first column of the last row, if any.
    static std::string Sql(const std::string& path, const std::string& sql)
    {
        sqlite3* raw = nullptr;
        sqlite3_open(path.c_str(), &raw);
        SqliteConnection database(raw);
        std::string value;
        const auto keep = [](void* into, int, char** values, char**) {
            *static_cast<std::string*>(into) = values[0] != nullptr ? values[0] : "";
            return 0;
        };
        char* message = nullptr;
        if (sqlite3_exec(raw, sql.c_str(), keep, &value, &message) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << (message != nullptr ? message : "");
        }
        sqlite3_free(message);
        return value;
    }

    static std::string Bytes(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }

    static void ExpectJsonLines(const std::string& out, std::size_t count)
    {
        std::istringstream lines(out);
        std::size_t found = 0;
        for (std::string line; std::getline(lines, line); ++found) {
            EXPECT_FALSE(Json::parse(line, nullptr, false).is_discarded()) << line;
        }
        EXPECT_EQ(found, count) << out;
    }

    std::string folder;
    std::string history;
};

// An image whose name is Latin-1, an operator typed in Latin-1: the upgrade's status is the
// upgrade's, its --record line and --json result parse, and so does every later reading of the
// history that keeps it.
TEST_F(HostileHistoryTest, ALatin1FileNameAndOperatorEndInAnUpgradeAndReadableRecords)
{
    // Written as the program names files: on Windows, whose names are UTF-16, the Latin-1
    // bytes become U+FFFD there, and the program finds the file by the same name.
    const std::string image = folder + "/fw-\xE9t\xE9.bin";
    const std::string bytes = Bytes(TARVIK_SAMPLE_IMAGE);
    ASSERT_TRUE(WriteNewFile(
        image, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, false));
    const std::string record = folder + "/record.jsonl";
    const CliRun run =
        RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "--json", "upgrade",
                    image.c_str(), "QV1A2B3C", "--history", history.c_str(), "--operator",
                    "J\xFCrgen", "--record", record.c_str()});
    ASSERT_EQ(run.Status, EXIT_SUCCESS_STATUS) << run.Err;
    ExpectJsonLines(run.Out, 1);
    const Json line = Json::parse(Bytes(record));
    EXPECT_EQ(line["FileName"], folder + "/fw-\\xE9t\\xE9.bin") << "the original bytes, escaped";
    EXPECT_EQ(line["Result"], "Upgrade Finish");

    for (const std::vector<const char*>& command :
         {std::vector<const char*>{"history", "--history", history.c_str(), "export"},
          {"--json", "history", "--history", history.c_str()},
          {"--json", "history", "--history", history.c_str(), "stats"}}) {
        const CliRun read = RunCliWith(command);
        EXPECT_EQ(read.Status, EXIT_SUCCESS_STATUS) << read.Err;
        ExpectJsonLines(read.Out, 1);
    }
    const Json listed =
        Json::parse(RunCliWith({"--json", "history", "--history", history.c_str()}).Out);
    EXPECT_EQ(listed["Operator"], "J\\xFCrgen");
    const CliRun table = RunCliWith({"history", "--history", history.c_str()});
    EXPECT_NE(table.Out.find("fw-\\xE9t\\xE9.bin"), std::string::npos) << table.Out;
}

// A history written by an older release, or damaged, holds what today's writer would not put
// there: raw Latin-1, a descriptor cut short, an exit status of 2^32. Each line still parses,
// the damage is named on stderr, and a status outside the table is a failure.
TEST_F(HostileHistoryTest, StoredTextsAndNumbersOfAnyKindAreListedAsWhatTheyAre)
{
    {
        std::string error;
        auto store = HistoryStore::Open(history, error);
        ASSERT_TRUE(store) << error;
    }
    Sql(history, "INSERT INTO attempts (record_id, start_ms, end_ms, station, operator, "
                 "program_version, interface, device, descriptor_before, file_name, pace_ms, "
                 "frames_sent, frames_resent, result, exit_status) VALUES ('r1', 0, 1000, "
                 "'line3', CAST(x'4AFC7267656E' AS TEXT), '1.0', 'eth0', 'QV000001', "
                 "'{\"BoardCode\":\"0011', CAST(x'66772DE92E62696E' AS TEXT), 20, 1, 0, "
                 "'Upgrade Finish', 4294967296)");
    for (const std::vector<const char*>& command :
         {std::vector<const char*>{"history", "--history", history.c_str(), "export"},
          {"--json", "history", "--history", history.c_str()}}) {
        const CliRun read = RunCliWith(command);
        EXPECT_EQ(read.Status, EXIT_SUCCESS_STATUS) << read.Err;
        ExpectJsonLines(read.Out, 1);
        const Json line = Json::parse(read.Out);
        EXPECT_TRUE(line["Descriptor"].is_null());
        EXPECT_EQ(line["FileName"], "fw-\\xE9.bin");
        EXPECT_EQ(line["ExitStatus"], 4294967296);
        EXPECT_NE(read.Err.find("the Descriptor of record r1 is not JSON"), std::string::npos)
            << read.Err;
    }
    const CliRun failed = RunCliWith({"history", "--history", history.c_str(), "--failed"});
    EXPECT_NE(failed.Out.find("4294967296"), std::string::npos) << failed.Out;
    const Json stats =
        Json::parse(RunCliWith({"--json", "history", "--history", history.c_str(), "stats"}).Out);
    EXPECT_EQ(stats["Failed"], 1) << "2^32 is no success";
}

// Reading is reading: someone else's database, a history of a later release and one of the
// first layout are each left byte for byte as they were, and no log file appears beside them.
TEST_F(HostileHistoryTest, ReadingAHistoryChangesNothingAndRefusesWhatIsNotOne)
{
    const std::string other = folder + "/other.db";
    Sql(other, "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('mine')");
    const std::string later = folder + "/later.sqlite";
    Sql(later, "CREATE TABLE attempts (record_id TEXT); PRAGMA user_version = " +
                   std::to_string(HISTORY_SCHEMA_VERSION + 1));
    const std::string first = folder + "/first.sqlite";
    Sql(first, "CREATE TABLE attempts (record_id TEXT PRIMARY KEY NOT NULL, start_ms INTEGER "
               "NOT NULL, end_ms INTEGER NOT NULL, station TEXT NOT NULL, operator TEXT NOT "
               "NULL, program_version TEXT NOT NULL, interface TEXT NOT NULL, device TEXT NOT "
               "NULL, descriptor_before TEXT, file_name TEXT NOT NULL, file_size INTEGER, sha256 "
               "TEXT, pace_ms INTEGER NOT NULL, frames_sent INTEGER NOT NULL, frames_resent "
               "INTEGER NOT NULL, result TEXT NOT NULL, exit_status INTEGER NOT NULL); "
               "INSERT INTO attempts VALUES ('old-1', 0, 1000, 'line1', 'bob', '1.0', 'eth0', "
               "'QV000001', NULL, 'fw.bin', NULL, NULL, 20, 1, 0, 'Upgrade Finish', 0); "
               "PRAGMA user_version = 1");
    const std::string garbage = folder + "/garbage.sqlite";
    std::ofstream(garbage) << std::string(4096, 'x');

    struct Case {
        std::string Path;
        const char* Says;  // in the refusal; none when the file is listed
    };
    for (const Case& file :
         {Case{other, "not a Tarvik history"}, Case{later, "written by a later release"},
          Case{garbage, "not a Tarvik history"}, Case{first, nullptr}}) {
        const std::string before = Bytes(file.Path);
        for (const char* action : {"list", "export", "stats"}) {
            std::vector<const char*> command{"history", "--history", file.Path.c_str()};
            if (std::string(action) != "list") {
                command.push_back(action);
            }
            const CliRun run = RunCliWith(command);
            if (file.Says == nullptr) {
                EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS) << run.Err;
                EXPECT_NE(run.Out.find(std::string(action) == "export" ? "old-1" : "line1"),
                          std::string::npos)
                    << run.Out;
            } else {
                EXPECT_EQ(run.Status, EXIT_USAGE) << file.Path;
                EXPECT_NE(run.Err.find(file.Says), std::string::npos) << run.Err;
                EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
            }
        }
        EXPECT_EQ(Bytes(file.Path), before) << file.Path;
        EXPECT_FALSE(std::filesystem::exists(file.Path + "-wal")) << file.Path;
    }
    // A writer refuses what is not its history as well.
    std::string error;
    EXPECT_FALSE(HistoryStore::Open(other, error));
    EXPECT_NE(error.find("not a Tarvik history"), std::string::npos) << error;
    EXPECT_EQ(Sql(other, "SELECT count(*) FROM sqlite_master"), "1");
}

// A supervisor may read a station's history that only the station may write.
TEST_F(HostileHistoryTest, AHistoryItsReaderMayNotWriteIsListed)
{
    ASSERT_EQ(RunCliWith({"--lab", "--pace", "0", "--progress", "plain", "upgrade",
                          TARVIK_SAMPLE_IMAGE, "QV1A2B3C", "--history", history.c_str()})
                  .Status,
              EXIT_SUCCESS_STATUS);
    // The station's file, in the station's folder: neither is the reader's to write.
    namespace fs = std::filesystem;
    const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(history, readOnly);
    fs::permissions(folder, readOnly | fs::perms::owner_exec | fs::perms::group_exec |
                                fs::perms::others_exec);
    const auto writable = [&] {
        fs::permissions(folder, fs::perms::owner_all);
        fs::permissions(history, fs::perms::owner_read | fs::perms::owner_write);
    };
    if (std::ofstream(history, std::ios::app)) {
        writable();
        GTEST_SKIP() << "this user writes any file";
    }
    const CliRun run = RunCliWith({"history", "--history", history.c_str()});
    const CliRun exported = RunCliWith({"history", "--history", history.c_str(), "export"});
    writable();
    EXPECT_EQ(run.Status, EXIT_SUCCESS_STATUS) << run.Err;
    EXPECT_NE(run.Out.find("QV1A2B3C"), std::string::npos) << run.Out;
    EXPECT_EQ(exported.Status, EXIT_SUCCESS_STATUS) << exported.Err;
}

}  // namespace
}  // namespace tarvik::cli
