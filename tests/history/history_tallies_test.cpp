// The chart's tallies as SQLite makes them in the file: each device's first attempt by hour,
// the attempts by ending, the newest image, and a reader that leaves the file as it was.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <sqlite3.h>
#include <unistd.h>

#include "history/history_store.h"
#include "history/history_tallies.h"

namespace tarvik {

void PrintTo(const HourYield& hour, std::ostream* out)
{
    *out << "{" << hour.HourMs << ", " << hour.Devices << ", " << hour.PassedFirstTime << "}";
}

namespace {

constexpr std::int64_t HOUR = 3'600'000;
constexpr std::int64_t T0 = 1'765'000'000'000 / HOUR * HOUR;  // the start of an hour
const std::string IMAGE_A(64, 'a');
const std::string IMAGE_B(64, 'b');

class HistoryTalliesTest : public ::testing::Test {
protected:
    HistoryTalliesTest()
        : path(::testing::TempDir() + "tallies_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite")
    {
        Remove();
    }
    ~HistoryTalliesTest() override { Remove(); }

    void Remove()
    {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::remove((path + suffix).c_str());
        }
    }

    // Writes the attempts, then opens the file as a reader does.
    std::unique_ptr<HistoryStore> Written(const std::vector<HistoryRecord>& records)
    {
        std::string error;
        {
            auto writer = HistoryStore::Open(path, error);
            EXPECT_TRUE(writer) << error;
            for (const HistoryRecord& record : records) {
                EXPECT_TRUE(writer->Append(record, error)) << error;
            }
        }
        auto reader = HistoryStore::Open(path, error, HistoryAccess::Read);
        EXPECT_TRUE(reader) << error;
        return reader;
    }

    ImageTallies Tally(HistoryStore& store, TallyScope scope)
    {
        std::string error;
        const std::optional<ImageTallies> tallies = TallyImage(store, scope, error);
        EXPECT_TRUE(tallies) << error;
        return tallies.value_or(ImageTallies{});
    }

    std::string path;
};

HistoryRecord Attempt(const std::string& device, std::int64_t startMs, int status,
                      const std::string& sha = IMAGE_A,
                      std::optional<std::string> bay = std::nullopt,
                      const std::string& station = "line3")
{
    static int serial = 0;  // test data only: unique record ids within the process
    HistoryRecord record;
    record.RecordId = "r" + std::to_string(++serial);
    record.StartMs = startMs;
    record.EndMs = startMs + 1000;
    record.Station = station;
    record.DeviceName = device;
    record.FileName = "/images/fw-" + sha.substr(0, 1) + ".bin";
    record.Sha256 = sha;
    record.ExitStatus = status;
    record.Result = status == 0 ? "Upgrade Finish" : "failed with " + std::to_string(status);
    record.Bay = std::move(bay);
    return record;
}

// Only a device's earliest attempt with the image counts, in the hour it started; a retry
// that passed later, another image's attempts and a device of the same name in another bay
// are told apart.
TEST_F(HistoryTalliesTest, FirstAttemptsAreCountedPerDeviceAndImageInTheHourTheyStarted)
{
    auto store = Written({
        // Out of order on purpose: the retry is written before the first attempt.
        Attempt("QV000001", T0 + HOUR + 10, 0),  // QV000001's retry passed: not a first pass
        Attempt("QV000001", T0 + 5, 16),
        Attempt("QV000002", T0 + HOUR - 1, 0),  // the last millisecond of the first hour
        Attempt("QV000003", T0 + HOUR, 0),      // the first of the next
        Attempt("QV000003", T0 + 2 * HOUR, 16),
        // The same name in two bays: two devices, the first passed, the second failed.
        Attempt("QV000004", T0 + 3 * HOUR, 0, IMAGE_A, "bay1"),
        Attempt("QV000004", T0 + 3 * HOUR + 1, 13, IMAGE_A, "bay2"),
        // Another image: QV000001 passed first there, which does not count for image A.
        Attempt("QV000001", T0, 0, IMAGE_B),
        Attempt("QV000005", T0, 0, IMAGE_B),
    });
    ASSERT_TRUE(store);
    ImageTallies a = Tally(*store, {IMAGE_A, {}, {}, {}});
    EXPECT_EQ(a.Hours,
              (std::vector<HourYield>{{T0, 2, 1}, {T0 + HOUR, 1, 1}, {T0 + 3 * HOUR, 2, 1}}));
    EXPECT_EQ(a.FileName, "/images/fw-a.bin");
    ImageTallies b = Tally(*store, {IMAGE_B, {}, {}, {}});
    EXPECT_EQ(b.Hours, (std::vector<HourYield>{{T0, 2, 2}}));

    // Within a window, a device's first attempt is its first in the window.
    ImageTallies later = Tally(*store, {IMAGE_A, T0 + HOUR, T0 + 3 * HOUR, {}});
    EXPECT_EQ(later.Hours, (std::vector<HourYield>{{T0 + HOUR, 2, 2}}));

    // Two attempts in the same millisecond: the one written first is the first.
    Remove();
    store = Written({Attempt("QV000006", T0, 16), Attempt("QV000006", T0, 0)});
    EXPECT_EQ(Tally(*store, {IMAGE_A, {}, {}, {}}).Hours, (std::vector<HourYield>{{T0, 1, 0}}));
}

TEST_F(HistoryTalliesTest, EndingsCountEveryAttemptWithTheNewestResultOfEachStatus)
{
    HistoryRecord older = Attempt("QV000002", T0 + 100, 16);
    older.Result = "Upgrade Process Error !";
    HistoryRecord newer = Attempt("QV000003", T0 + 200, 16);
    newer.Result = "Upgrade Process Error ! (resend)";
    auto store = Written({
        Attempt("QV000001", T0, 16),
        Attempt("QV000001", T0 + HOUR, 0),
        newer,
        older,
        Attempt("QV000004", T0 + 300, 0, IMAGE_A, std::nullopt, "line4"),
        Attempt("QV000005", T0 + 300, 13, IMAGE_B),
    });
    ASSERT_TRUE(store);
    const ImageTallies all = Tally(*store, {IMAGE_A, {}, {}, {}});
    ASSERT_EQ(all.Endings.size(), 2u);
    EXPECT_EQ(all.Endings[0].ExitStatus, 0);
    EXPECT_EQ(all.Endings[0].Attempts, 2u);
    EXPECT_EQ(all.Endings[1].ExitStatus, 16);
    EXPECT_EQ(all.Endings[1].Attempts, 3u);
    EXPECT_EQ(all.Endings[1].Result, "Upgrade Process Error ! (resend)");

    // One station's only.
    const ImageTallies line4 = Tally(*store, {IMAGE_A, {}, {}, "line4"});
    ASSERT_EQ(line4.Endings.size(), 1u);
    EXPECT_EQ(line4.Endings[0].Attempts, 1u);
    EXPECT_EQ(line4.Hours, (std::vector<HourYield>{{T0, 1, 1}}));
}

TEST_F(HistoryTalliesTest, TheNewestImageIsTheNewestAttemptsThatHasOne)
{
    HistoryRecord unread = Attempt("QV000003", T0 + 3 * HOUR, 5);
    unread.Sha256.reset();  // the image could not be read: no digest
    auto store = Written({
        Attempt("QV000001", T0 + 2 * HOUR, 0, IMAGE_B, std::nullopt, "line4"),
        Attempt("QV000001", T0 + HOUR, 0, IMAGE_A),
        Attempt("QV000002", T0, 0, IMAGE_B),
        unread,
    });
    ASSERT_TRUE(store);
    std::string error;
    std::optional<NewestImage> newest = FindNewestImage(*store, "", error);
    ASSERT_TRUE(newest) << error;
    EXPECT_EQ(newest->Sha256, IMAGE_B);
    newest = FindNewestImage(*store, "line3", error);
    ASSERT_TRUE(newest) << error;
    EXPECT_EQ(newest->Sha256, IMAGE_A);
    EXPECT_EQ(newest->FileName, "/images/fw-a.bin");
    EXPECT_FALSE(FindNewestImage(*store, "line9", error));
    EXPECT_EQ(error, "");
}

TEST_F(HistoryTalliesTest, AnEmptyHistoryAndAnUnknownImageTallyNothing)
{
    auto store = Written({});
    ASSERT_TRUE(store);
    std::string error;
    EXPECT_FALSE(FindNewestImage(*store, "", error));
    EXPECT_EQ(error, "");
    const ImageTallies none = Tally(*store, {IMAGE_A, {}, {}, {}});
    EXPECT_TRUE(none.Hours.empty());
    EXPECT_TRUE(none.Endings.empty());
    EXPECT_EQ(none.FileName, "");
}

// A file of the first layout (no bay column) read as it is: tallied, and left at its layout.
TEST_F(HistoryTalliesTest, AFileOfAnEarlierLayoutIsTalliedWithoutBeingChanged)
{
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
        SqliteConnection database(raw);
        ASSERT_EQ(sqlite3_exec(raw, R"(
            CREATE TABLE attempts (
                record_id TEXT PRIMARY KEY NOT NULL, start_ms INTEGER NOT NULL,
                end_ms INTEGER NOT NULL, station TEXT NOT NULL, operator TEXT NOT NULL,
                program_version TEXT NOT NULL, interface TEXT NOT NULL, device TEXT NOT NULL,
                descriptor_before TEXT, file_name TEXT NOT NULL, file_size INTEGER, sha256 TEXT,
                pace_ms INTEGER NOT NULL, frames_sent INTEGER NOT NULL,
                frames_resent INTEGER NOT NULL, result TEXT NOT NULL, exit_status INTEGER NOT NULL);
            INSERT INTO attempts VALUES ('old-1', 1000, 1600, 'line1', 'bob', '1.3.1', 'eth0',
                'QV000009', NULL, 'fw.bin', 4096, 'abcd', 20, 24, 0, 'Communication Fail', 3);
            INSERT INTO attempts VALUES ('old-2', 5000, 5600, 'line1', 'bob', '1.3.1', 'eth0',
                'QV000009', NULL, 'fw.bin', 4096, 'abcd', 20, 24, 0, 'Upgrade Finish', 0);
            PRAGMA user_version = 1;)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    std::string error;
    auto store = HistoryStore::Open(path, error, HistoryAccess::Read);
    ASSERT_TRUE(store) << error;
    const ImageTallies tallies = Tally(*store, {"abcd", {}, {}, {}});
    EXPECT_EQ(tallies.Hours, (std::vector<HourYield>{{0, 1, 0}}));
    EXPECT_EQ(tallies.Endings.size(), 2u);
    store.reset();
    auto reopened = HistoryStore::Open(path, error, HistoryAccess::Read);
    ASSERT_TRUE(reopened) << error;
    EXPECT_EQ(reopened->Layout(), 1);
}

}  // namespace
}  // namespace tarvik
