// The chart's tallies as SQLite makes them in the file: each device's first attempt by hour,
// the attempts by ending, the newest image, and a file of an earlier layout read as it is.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
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
using Hours = std::vector<HourYield>;

HistoryRecord Attempt(const std::string& device, std::int64_t startMs, int status,
                      const std::string& sha = IMAGE_A, std::optional<std::string> bay = {},
                      const std::string& station = "line3")
{
    static int serial = 0;  // unique record ids within the test program
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

class HistoryTalliesTest : public ::testing::Test {
protected:
    ~HistoryTalliesTest() override { Remove(); }

    void Remove()
    {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::remove((path + suffix).c_str());
        }
    }

    // A new file holding the attempts (and the SQL run after them), opened as a reader does.
    std::unique_ptr<HistoryStore> Written(const std::vector<HistoryRecord>& records,
                                          const char* sql = nullptr)
    {
        Remove();
        std::string error;
        {
            auto writer = HistoryStore::Open(path, error);
            EXPECT_TRUE(writer) << error;
            for (const HistoryRecord& record : records) {
                EXPECT_TRUE(writer->Append(record, error)) << error;
            }
            if (sql != nullptr) {
                EXPECT_EQ(sqlite3_exec(writer->Connection(), sql, nullptr, nullptr, nullptr),
                          SQLITE_OK);
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

    const std::string path = ::testing::TempDir() + "tallies_" + std::to_string(::getpid()) +
                             ".sqlite";
};

// Only a device's earliest attempt with the image counts, in the hour it started; a retry that
// passed, another image's attempts and the same name in another bay are told apart.
TEST_F(HistoryTalliesTest, FirstAttemptsAreCountedPerDeviceAndImageInTheHourTheyStarted)
{
    auto store = Written({
        Attempt("QV000001", T0 + HOUR + 10, 0),  // a retry that passed, written first
        Attempt("QV000001", T0 + 5, 16),
        Attempt("QV000002", T0 + HOUR - 1, 0),  // the first hour's last millisecond
        Attempt("QV000003", T0 + HOUR, 0),      // the next one's first
        Attempt("QV000003", T0 + 2 * HOUR, 16),
        Attempt("QV000004", T0 + 3 * HOUR, 0, IMAGE_A, "bay1"),
        Attempt("QV000004", T0 + 3 * HOUR + 1, 13, IMAGE_A, "bay2"),
        Attempt("QV000001", T0, 0, IMAGE_B),  // passed first with another image
        Attempt("QV000005", T0, 0, IMAGE_B),
    });
    ASSERT_TRUE(store);
    ImageTallies a = Tally(*store, {IMAGE_A, {}, {}, {}});
    EXPECT_EQ(a.Hours, (Hours{{T0, 2, 1}, {T0 + HOUR, 1, 1}, {T0 + 3 * HOUR, 2, 1}}));
    EXPECT_EQ(a.FileName, "/images/fw-a.bin");
    EXPECT_EQ(Tally(*store, {IMAGE_B, {}, {}, {}}).Hours, (Hours{{T0, 2, 2}}));
    // Within a window, a device's first attempt is its first in the window.
    EXPECT_EQ(Tally(*store, {IMAGE_A, T0 + HOUR, T0 + 3 * HOUR, {}}).Hours,
              (Hours{{T0 + HOUR, 2, 2}}));

    // Two attempts in the same millisecond: the one written first is the first. (The reader is
    // closed first: Windows removes no file that is open.)
    store.reset();
    store = Written({Attempt("QV000006", T0, 16), Attempt("QV000006", T0, 0)});
    EXPECT_EQ(Tally(*store, {IMAGE_A, {}, {}, {}}).Hours, (Hours{{T0, 1, 0}}));
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
        Attempt("QV000004", T0 + 300, 0, IMAGE_A, {}, "line4"),
        Attempt("QV000005", T0 + 300, 13, IMAGE_B),
    });
    ASSERT_TRUE(store);
    const ImageTallies all = Tally(*store, {IMAGE_A, {}, {}, {}});
    ASSERT_EQ(all.Endings.size(), 2u);
    EXPECT_EQ(std::tuple(all.Endings[0].ExitStatus, all.Endings[0].Attempts), std::tuple(0, 2u));
    EXPECT_EQ(std::tuple(all.Endings[1].ExitStatus, all.Endings[1].Attempts, all.Endings[1].Result),
              std::tuple(16, 3u, std::string("Upgrade Process Error ! (resend)")));
    // One station's only.
    const ImageTallies line4 = Tally(*store, {IMAGE_A, {}, {}, "line4"});
    ASSERT_EQ(line4.Endings.size(), 1u);
    EXPECT_EQ(line4.Endings[0].Attempts, 1u);
    EXPECT_EQ(line4.Hours, (Hours{{T0, 1, 1}}));
}

TEST_F(HistoryTalliesTest, TheNewestImageIsTheNewestAttemptsThatHasOneAndNoneInAnEmptyFile)
{
    std::string error;
    auto store = Written({});
    ASSERT_TRUE(store);
    EXPECT_FALSE(FindNewestImage(*store, "", error));
    EXPECT_EQ(error, "");
    const ImageTallies none = Tally(*store, {IMAGE_A, {}, {}, {}});
    EXPECT_TRUE(none.Hours.empty() && none.Endings.empty() && none.FileName.empty());

    HistoryRecord unread = Attempt("QV000003", T0 + 3 * HOUR, 5);
    unread.Sha256.reset();  // an image that could not be read has no digest
    store.reset();
    store = Written({
        Attempt("QV000001", T0 + 2 * HOUR, 0, IMAGE_B, {}, "line4"),
        Attempt("QV000001", T0 + HOUR, 0, IMAGE_A),
        Attempt("QV000002", T0, 0, IMAGE_B),
        unread,
    });
    ASSERT_TRUE(store);
    EXPECT_EQ(FindNewestImage(*store, "", error).value_or(NewestImage{}).Sha256, IMAGE_B);
    const std::optional<NewestImage> line3 = FindNewestImage(*store, "line3", error);
    ASSERT_TRUE(line3) << error;
    EXPECT_EQ(std::tie(line3->Sha256, line3->FileName), std::tie(IMAGE_A, "/images/fw-a.bin"));
    EXPECT_FALSE(FindNewestImage(*store, "line9", error));
    EXPECT_EQ(error, "");
}

// A file of layout 3 has no bay: its devices are their names alone, and the reader leaves the
// file at its layout.
TEST_F(HistoryTalliesTest, AFileWithoutBaysIsTalliedAndLeftAtItsLayout)
{
    auto store = Written({Attempt("QV000009", T0, 3), Attempt("QV000009", T0 + 1, 0)},
                         "ALTER TABLE attempts DROP COLUMN bay; PRAGMA user_version = 3;");
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Layout(), 3);
    const ImageTallies tallies = Tally(*store, {IMAGE_A, {}, {}, {}});
    EXPECT_EQ(tallies.Hours, (Hours{{T0, 1, 0}}));
    EXPECT_EQ(tallies.Endings.size(), 2u);
    store.reset();
    std::string error;
    EXPECT_EQ(HistoryStore::Open(path, error, HistoryAccess::Read)->Layout(), 3);
}

}  // namespace
}  // namespace tarvik
