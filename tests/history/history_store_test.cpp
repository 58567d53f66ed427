// The history's file: its layout made and brought up from the first one, records whole under
// writers in two processes at once, the filters, and what is left to push.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include <sqlite3.h>
#include <unistd.h>

#include "history/history_store.h"
#include "platform/files/path_text.h"
#include "platform/host/machine.h"

namespace tarvik {
namespace {

class HistoryStoreTest : public ::testing::Test {
protected:
    HistoryStoreTest()
        : path(::testing::TempDir() + "history_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite")
    {
        Remove();
    }
    ~HistoryStoreTest() override { Remove(); }

    void Remove()
    {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::remove((path + suffix).c_str());
        }
    }

    std::unique_ptr<HistoryStore> Open()
    {
        std::string error;
        auto store = HistoryStore::Open(path, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    // Runs SQL on the file directly, as another program would.
    int Sql(const std::string& sql, int* number = nullptr)
    {
        sqlite3* raw = nullptr;
        sqlite3_open(path.c_str(), &raw);
        SqliteConnection database(raw);
        sqlite3_stmt* statement = nullptr;
        const char* rest = sql.c_str();
        int result = SQLITE_OK;
        while (*rest != '\0' &&
               (result = sqlite3_prepare_v2(raw, rest, -1, &statement, &rest)) == SQLITE_OK &&
               statement != nullptr) {
            SqliteStatement owned(statement);
            result = sqlite3_step(statement);
            if (result == SQLITE_ROW && number != nullptr) {
                *number = sqlite3_column_int(statement, 0);
            }
        }
        return result;
    }

    std::string path;
};

HistoryRecord Record(const std::string& id, std::int64_t startMs, int status = 0,
                     const std::string& device = "QV000001", const std::string& station = "line3")
{
    HistoryRecord record;
    record.RecordId = id;
    record.StartMs = startMs;
    record.EndMs = startMs + 600;
    record.Station = station;
    record.Operator = "alice";
    record.ProgramVersion = "1.3.2";
    record.Interface = "eth1";
    record.DeviceName = device;
    record.DescriptorBefore = R"({"BoardCode":"001122334455"})";
    record.FileName = "/images/fw.bin";
    record.FileSize = 65536;
    record.Sha256 = std::string(64, 'a');
    record.PaceMs = 20;
    record.FramesSent = 259;
    record.FramesResent = 2;
    record.Result = status == 0 ? "Upgrade Finish" : "Communication Fail";
    record.ExitStatus = status;
    return record;
}

TEST_F(HistoryStoreTest, ANewFileGetsTheLatestLayoutAndARecordReadsBackWhole)
{
    auto store = Open();
    int version = 0;
    Sql("PRAGMA user_version", &version);
    EXPECT_EQ(version, HISTORY_SCHEMA_VERSION);
    int wal = 0;
    Sql("SELECT journal_mode = 'wal' FROM pragma_journal_mode", &wal);
    EXPECT_EQ(wal, 1) << "two programs append at once only in WAL mode";

    HistoryRecord written = Record("id-1", 1'700'000'000'000);
    written.DescriptorAfter = R"({"BoardCode":"001122334455","FwVersion":"0103"})";
    written.FileSize.reset();
    std::string error;
    ASSERT_TRUE(store->Append(written, error)) << error;
    const auto found = store->Find({}, error);
    ASSERT_EQ(found.size(), 1u);
    const HistoryRecord& read = found[0];
    EXPECT_EQ(read.RecordId, "id-1");
    EXPECT_EQ(read.StartMs, written.StartMs);
    EXPECT_EQ(read.EndMs, written.EndMs);
    EXPECT_EQ(read.Station, "line3");
    EXPECT_EQ(read.Operator, "alice");
    EXPECT_EQ(read.ProgramVersion, "1.3.2");
    EXPECT_EQ(read.DescriptorBefore, written.DescriptorBefore);
    EXPECT_EQ(read.DescriptorAfter, written.DescriptorAfter);
    EXPECT_FALSE(read.FileSize) << "a null stays null";
    EXPECT_EQ(read.Sha256, written.Sha256);
    EXPECT_EQ(read.FramesResent, 2u);
    EXPECT_EQ(read.Result, "Upgrade Finish");
    // The same attempt twice is refused: the id is the record's identity everywhere.
    EXPECT_FALSE(store->Append(written, error));
}

// A file of the first layout, made by hand as the first release made it: opened, it gains the
// columns of the latest, keeps its records, and queues them for the next push.
TEST_F(HistoryStoreTest, AFileOfTheFirstLayoutIsBroughtUpToDateWithItsRecords)
{
    ASSERT_EQ(Sql(R"(
        CREATE TABLE attempts (
            record_id TEXT PRIMARY KEY NOT NULL, start_ms INTEGER NOT NULL,
            end_ms INTEGER NOT NULL, station TEXT NOT NULL, operator TEXT NOT NULL,
            program_version TEXT NOT NULL, interface TEXT NOT NULL, device TEXT NOT NULL,
            descriptor_before TEXT, file_name TEXT NOT NULL, file_size INTEGER, sha256 TEXT,
            pace_ms INTEGER NOT NULL, frames_sent INTEGER NOT NULL,
            frames_resent INTEGER NOT NULL, result TEXT NOT NULL, exit_status INTEGER NOT NULL);
        CREATE INDEX attempts_by_start ON attempts (start_ms);
        INSERT INTO attempts VALUES ('old-1', 1000, 1600, 'line1', 'bob', '1.3.1', 'eth0',
            'QV000009', NULL, 'fw.bin', 4096, 'abcd', 20, 24, 0, 'Upgrade Finish', 0);
        PRAGMA user_version = 1;)"),
              SQLITE_DONE);
    auto store = Open();
    ASSERT_TRUE(store);
    int version = 0;
    Sql("PRAGMA user_version", &version);
    EXPECT_EQ(version, HISTORY_SCHEMA_VERSION);
    std::string error;
    const auto records = store->Find({}, error);
    ASSERT_EQ(records.size(), 1u) << error;
    EXPECT_EQ(records[0].RecordId, "old-1");
    EXPECT_EQ(records[0].Operator, "bob");
    EXPECT_FALSE(records[0].DescriptorAfter);
    EXPECT_EQ(store->UnpushedCount(error), 1u);
    HistoryRecord after = Record("new-1", 2000);
    after.DescriptorAfter = "{}";
    EXPECT_TRUE(store->Append(after, error)) << error;
    // Opened again, it is left as it is.
    store.reset();
    store = Open();
    EXPECT_EQ(store->Find({}, error).size(), 2u);
}

TEST_F(HistoryStoreTest, AFileOfALaterLayoutIsRefusedUntouched)
{
    ASSERT_EQ(Sql("CREATE TABLE attempts (x); PRAGMA user_version = 99;"), SQLITE_DONE);
    std::string error;
    EXPECT_FALSE(HistoryStore::Open(path, error));
    EXPECT_NE(error.find("later release"), std::string::npos) << error;
    int version = 0;
    Sql("PRAGMA user_version", &version);
    EXPECT_EQ(version, 99);
}

TEST_F(HistoryStoreTest, AnUnwritablePlaceIsAnErrorNotACrash)
{
    std::string error;
    EXPECT_FALSE(HistoryStore::Open("/proc/tarvik/history.sqlite", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(MakeHistoryFolder("/proc/tarvik/history.sqlite", error));
}

// Two processes append to one new file at once, each opening it itself: every record of both
// is there, whole.
TEST_F(HistoryStoreTest, TwoProcessesAppendingAtOnceLoseNoRecordAndSplitNone)
{
    constexpr int RECORDS = 300;
    // The writer is a program of its own beside this one, started through the system's shell
    // by a thread each, so that both run at once.
    const std::filesystem::path self = PathOf(OpenMachine()->Process().ExecutablePath(""));
    const std::string writer = TextOf(self.parent_path() / TARVIK_HISTORY_APPEND);
    int statuses[2] = {-1, -1};
    {
        std::vector<std::jthread> writers;
        for (int child = 0; child < 2; ++child) {
            writers.emplace_back([&, child] {
                // The program's name unquoted: Windows' shell takes a command that begins
                // with a quote as a quoted whole.
                const std::string command = writer + " \"" + path + "\" " +
                                            std::to_string(child) + " " + std::to_string(RECORDS);
                statuses[child] = std::system(command.c_str());
            });
        }
    }
    EXPECT_EQ(statuses[0], 0) << "a write was refused";
    EXPECT_EQ(statuses[1], 0) << "a write was refused";
    auto store = Open();
    std::string error;
    const auto records = store->Find({}, error);
    EXPECT_EQ(records.size(), 2u * RECORDS) << error;
    std::set<std::string> ids;
    for (const HistoryRecord& record : records) {
        ids.insert(record.RecordId);
        const char letter = record.DeviceName == "QV000000" ? 'a' : 'b';
        EXPECT_EQ(record.Result, std::string(5000, letter)) << record.RecordId;
    }
    EXPECT_EQ(ids.size(), 2u * RECORDS);
}

TEST_F(HistoryStoreTest, FiltersTakeOnlyWhatTheyNameNewestFirst)
{
    auto store = Open();
    std::string error;
    HistoryRecord otherImage = Record("e", 5000, 0, "QV000002", "line4");
    otherImage.Sha256 = std::string(64, 'b');
    for (const HistoryRecord& record :
         {Record("a", 1000), Record("b", 2000, 12), Record("c", 3000, 0, "QV000002"),
          Record("d", 4000, 16, "QV000001", "line4"), otherImage}) {
        ASSERT_TRUE(store->Append(record, error)) << error;
    }
    const auto ids = [&](const HistoryFilter& filter) {
        std::string found;
        for (const HistoryRecord& record : store->Find(filter, error)) {
            found += record.RecordId;
        }
        return found;
    };
    struct Row {
        HistoryFilter Filter;
        std::string Ids;
    };
    HistoryFilter sha;
    sha.Sha256 = std::string(64, 'b');
    HistoryFilter since;
    since.SinceMs = 2000;
    HistoryFilter until;
    until.UntilMs = 3000;
    HistoryFilter window;
    window.SinceMs = 2000;
    window.UntilMs = 4001;
    window.FailedOnly = true;
    HistoryFilter device;
    device.DeviceName = "QV000002";
    HistoryFilter station;
    station.Station = "line4";
    HistoryFilter failed;
    failed.FailedOnly = true;
    for (const Row& row :
         {Row{{}, "edcba"}, Row{sha, "e"}, Row{since, "edcb"}, Row{until, "ba"}, Row{window, "db"},
          Row{device, "ec"}, Row{station, "ed"}, Row{failed, "db"}}) {
        EXPECT_EQ(ids(row.Filter), row.Ids);
    }
}

TEST_F(HistoryStoreTest, RecordsLeaveThePushQueueOnlyWhenMarkedOldestFirst)
{
    auto store = Open();
    std::string error;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(store->Append(Record("r" + std::to_string(i), 10 - i), error));
    }
    EXPECT_EQ(store->UnpushedCount(error), 5u);
    const auto first = store->Unpushed(2, error);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].RecordId, "r0") << "in the order they were added";
    EXPECT_EQ(store->Unpushed(2, error)[0].RecordId, "r0") << "nothing marked yet";
    // Reading on while the first batch is still being pushed.
    std::int64_t last = 0;
    store->Unpushed(2, error, 0, &last);
    const auto next = store->Unpushed(2, error, last, &last);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].RecordId, "r2");
    EXPECT_EQ(next[1].RecordId, "r3");
    EXPECT_EQ(store->Unpushed(2, error, last, &last).size(), 1u);
    EXPECT_TRUE(store->Unpushed(2, error, last, &last).empty());
    ASSERT_TRUE(store->MarkPushed({"r0", "r1"}, error)) << error;
    EXPECT_EQ(store->UnpushedCount(error), 3u);
    EXPECT_EQ(store->Unpushed(10, error).front().RecordId, "r2");
}

}  // namespace
}  // namespace tarvik
