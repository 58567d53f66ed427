#pragma once
// The station's history: every upgrade attempt, one row each, in a SQLite database file. Several
// programs append to one file at once (write-ahead log, and a wait of up to a few seconds for
// another writer's lock): every record goes in whole or not at all. The file carries its layout's
// version (PRAGMA user_version) and is brought up to this program's layout when a writer opens
// it. A reader changes nothing: no table, no layout, no journal mode, so that a supervisor
// may list a station's file that only the station may write.
//
// Layouts: 1 kept the attempts alone; 2 adds the descriptor the device gave after its reset
// and whether the record went to the shared database (pushed).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "history/history_columns.h"
#include "history/history_record.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tarvik {

inline constexpr int HISTORY_SCHEMA_VERSION = 4;

// How long a write waits for another program's lock before it gives up.
inline constexpr int HISTORY_BUSY_TIMEOUT_MS = 5000;

struct SqliteCloser {
    void operator()(sqlite3* database) const;
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

enum class HistoryAccess {
    Read,   // an existing history, as it is
    Write,  // created when missing, brought up to this layout, write-ahead log
};

class HistoryStore {
public:
    // Opens the file; a writer creates it (not its folder) and brings its layout up to date.
    // Null with the reason in error when it cannot be opened or read (or, for a writer,
    // written), is not a history (a SQLite file of something else), or was written by a later
    // layout than this program knows.
    static std::unique_ptr<HistoryStore> Open(const std::string& path, std::string& error,
                                              HistoryAccess access = HistoryAccess::Write);

    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;
    ~HistoryStore();

    const std::string& Path() const { return path_; }

    // The file's layout.
    int Layout() const { return layout_; }

    // The open file, for queries of their own (the tallies); the store keeps it.
    sqlite3* Connection() const { return database_.get(); }

    // One record, in one transaction; false with the reason when it did not go in (always, for
    // a store opened to read).
    bool Append(const HistoryRecord& record, std::string& error);

    // The records the filter admits, newest first (by start time).
    std::vector<HistoryRecord> Find(const HistoryFilter& filter, std::string& error);

    // Up to limit records not yet pushed, oldest first, from after the record afterRowId (the
    // file's own row number, for reading on while earlier records are being pushed; 0 for the
    // first); lastRowId, when given, becomes the last one's. And how many there are.
    std::vector<HistoryRecord> Unpushed(std::size_t limit, std::string& error,
                                        std::int64_t afterRowId = 0,
                                        std::int64_t* lastRowId = nullptr);
    std::uint64_t UnpushedCount(std::string& error);
    // Marks the records pushed, all or none.
    bool MarkPushed(const std::vector<std::string>& recordIds, std::string& error);

private:
    HistoryStore(SqliteConnection database, std::string path);
    bool Check(std::string& error);
    bool CheckSnapshot(std::string& error);
    bool Upgrade(std::string& error);
    using SqlValue = ColumnValue;
    std::vector<HistoryRecord> Select(const std::string& tail, const std::vector<SqlValue>& values,
                                      std::string& error, std::int64_t* lastRowId = nullptr);

    SqliteConnection database_;
    SqliteStatement insert_;
    std::string path_;
    int layout_ = 0;
    int checkRefusal_ = 0;  // the SQLite code that refused Check its reading, for Open
};

// history.sqlite in the user's state folder ($XDG_STATE_HOME/tarvik, else
// ~/.local/state/tarvik; %LOCALAPPDATA%\Tarvik on Windows); empty when the environment names
// no such folder.
std::string DefaultHistoryPath();

// Creates the folders above the file; false with the reason when they cannot be made.
bool MakeHistoryFolder(const std::string& path, std::string& error);

}  // namespace tarvik
