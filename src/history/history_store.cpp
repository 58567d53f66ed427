#include "history/history_store.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <sqlite3.h>

#include "history/history_columns.h"
#include "platform/files/path_text.h"
#include "platform/host/user_identity.h"

namespace tarvik {

void SqliteCloser::operator()(sqlite3* database) const
{
    sqlite3_close_v2(database);
}

void SqliteFinalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

namespace {

// What a layout adds besides its columns: the push queue's flag came with layout 2. Records of
// layout 1 were never pushed: they go with the next push. Layout 3 adds the image's signature,
// layout 4 the device's bay.
constexpr const char* LAYOUT_EXTRAS[HISTORY_SCHEMA_VERSION + 1] = {
    "",
    "CREATE INDEX attempts_by_start ON attempts (start_ms);",
    "ALTER TABLE attempts ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0;"
    "CREATE INDEX attempts_unpushed ON attempts (pushed) WHERE pushed = 0;",
    "",
    "",
};

// The columns a SELECT names, in the table's order; those a file of an earlier layout lacks
// read as NULL.
std::string SelectedColumns(int layout)
{
    std::string list;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        list += list.empty() ? "" : ", ";
        list += column.SinceLayout <= layout ? column.Name : "NULL";
    }
    return list;
}

std::string InsertStatement()
{
    std::string names;
    std::string places;
    int index = 0;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        names += index == 0 ? "" : ", ";
        places += index == 0 ? "?" : ", ?";
        places += std::to_string(++index);
        names += column.Name;
    }
    return "INSERT INTO attempts (" + names + ") VALUES (" + places + ")";
}

// The statements that take a file from layout `from` to the latest: a new file (0) gets the
// first layout's table, then each later layout's columns and extras in turn.
std::string LayoutSteps(int from)
{
    std::string sql;
    if (from < 1) {
        sql = "CREATE TABLE attempts (";
        bool first = true;
        for (const HistoryColumn& column : HISTORY_COLUMNS) {
            if (column.SinceLayout == 1) {
                sql += std::string(first ? "" : ", ") + column.Name + " " + column.SqliteType;
                first = false;
            }
        }
        sql += ");";
        sql += LAYOUT_EXTRAS[1];
    }
    for (int layout = std::max(from + 1, 2); layout <= HISTORY_SCHEMA_VERSION; ++layout) {
        for (const HistoryColumn& column : HISTORY_COLUMNS) {
            if (column.SinceLayout == layout) {
                sql += std::string("ALTER TABLE attempts ADD COLUMN ") + column.Name + " " +
                       column.SqliteType + ";";
            }
        }
        sql += LAYOUT_EXTRAS[layout];
    }
    return sql;
}

std::string LastError(sqlite3* database)
{
    return sqlite3_errmsg(database);
}

bool Execute(sqlite3* database, const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(database, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message != nullptr ? message : LastError(database);
        sqlite3_free(message);
        return false;
    }
    return true;
}

SqliteStatement Prepare(sqlite3* database, const std::string& sql, std::string& error)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, sql.c_str(), static_cast<int>(sql.size()), &statement,
                           nullptr) != SQLITE_OK) {
        error = LastError(database);
        return nullptr;
    }
    return SqliteStatement(statement);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void BindValue(sqlite3_stmt* statement, int index, const ColumnValue& value)
{
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        sqlite3_bind_int64(statement, index, *number);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        BindText(statement, index, *text);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

// A column as its table row says; a text as the file holds it, every byte (the JSON and the
// push make it UTF-8 where they need to).
ColumnValue ReadValue(sqlite3_stmt* statement, int index, const HistoryColumn& column)
{
    if (sqlite3_column_type(statement, index) == SQLITE_NULL) {
        return {};
    }
    if (!column.Text) {
        return static_cast<std::int64_t>(sqlite3_column_int64(statement, index));
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return text != nullptr
               ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index)))
               : std::string();
}

HistoryRecord ReadRecord(sqlite3_stmt* statement)
{
    HistoryRecord record;
    int index = 0;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        column.Set(record, ReadValue(statement, index++, column));
    }
    return record;
}

// The file's layout, from PRAGMA user_version; -1 with the reason when it cannot be read.
int ReadLayout(sqlite3* database, std::string& error)
{
    SqliteStatement version = Prepare(database, "PRAGMA user_version", error);
    if (!version || sqlite3_step(version.get()) != SQLITE_ROW) {
        error = error.empty() ? LastError(database) : error;
        return -1;
    }
    return sqlite3_column_int(version.get(), 0);
}

// Whether the file holds the attempts table of that layout (0: whether it holds no table at
// all, as a new file does).
bool HoldsLayout(sqlite3* database, int layout, std::string& error)
{
    if (layout == 0) {
        SqliteStatement any = Prepare(database, "SELECT 1 FROM sqlite_master LIMIT 1", error);
        return any && sqlite3_step(any.get()) == SQLITE_DONE;
    }
    SqliteStatement columns =
        Prepare(database, "SELECT name FROM pragma_table_info('attempts')", error);
    std::size_t found = 0;
    std::size_t expected = 0;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        expected += column.SinceLayout <= layout ? 1 : 0;
    }
    while (columns && sqlite3_step(columns.get()) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
        for (const HistoryColumn& column : HISTORY_COLUMNS) {
            if (name != nullptr && column.SinceLayout <= layout &&
                std::string_view(name) == column.Name) {
                ++found;
            }
        }
    }
    return found == expected;
}

SqliteConnection Connect(const std::string& name, int flags, std::string& error)
{
    sqlite3* opened = nullptr;
    const int result = sqlite3_open_v2(name.c_str(), &opened, flags, nullptr);
    SqliteConnection database(opened);
    if (result != SQLITE_OK) {
        error = opened != nullptr ? LastError(opened) : sqlite3_errstr(result);
        return nullptr;
    }
    sqlite3_busy_timeout(database.get(), HISTORY_BUSY_TIMEOUT_MS);
    sqlite3_extended_result_codes(database.get(), 1);
    return database;
}

// The file as a URI that tells SQLite it will not change while it is read, so that it makes
// no files beside it.
std::string ImmutableUri(const std::string& path)
{
    std::string uri = "file:";
    for (const char c : path) {
        switch (c) {
        case '%':
            uri += "%25";
            break;
        case '?':
            uri += "%3f";
            break;
        case '#':
            uri += "%23";
            break;
        default:
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

// Rolls back unless committed: a failed step leaves the file as it was.
class Transaction {
public:
    Transaction(sqlite3* database, const char* begin, std::string& error)
        : database_(database), open_(Execute(database, begin, error))
    {
    }
    ~Transaction()
    {
        if (open_) {
            std::string ignored;
            Execute(database_, "ROLLBACK", ignored);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Open() const { return open_; }
    bool Commit(std::string& error)
    {
        if (!Execute(database_, "COMMIT", error)) {
            return false;
        }
        open_ = false;
        return true;
    }

private:
    sqlite3* database_;
    bool open_;
};

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path, std::string& error,
                                                 HistoryAccess access)
{
    const bool writer = access == HistoryAccess::Write;
    const int flags = (writer ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOMUTEX;
    SqliteConnection database = Connect(path, flags, error);
    if (!database) {
        return nullptr;
    }
    std::unique_ptr<HistoryStore> store(new HistoryStore(std::move(database), path));
    bool checked = store->Check(error);
    // A history in write-ahead mode whose folder its reader may not write (a station's, read
    // by a supervisor): the log's index cannot be made beside it, so no writer is at work
    // there (one would have made it), and the file is read as it lies.
    const int refusal = store->checkRefusal_;
    if (!checked && !writer && (refusal == SQLITE_READONLY || refusal == SQLITE_CANTOPEN)) {
        database = Connect(ImmutableUri(path), flags | SQLITE_OPEN_URI, error);
        if (!database) {
            return nullptr;
        }
        store.reset(new HistoryStore(std::move(database), path));
        error.clear();
        checked = store->Check(error);
    }
    if (!checked || (writer && !store->Upgrade(error))) {
        return nullptr;
    }
    if (!writer) {
        if (store->layout_ == 0) {
            error = "not a Tarvik history (it holds no attempts table)";
            return nullptr;
        }
        return store;
    }
    // The write-ahead log lets readers and one writer work at once; a commit then needs no
    // sync of its own (NORMAL): a power cut may lose the last records, never the file. Only a
    // file known to be this program's history is switched.
    std::string ignored;
    Execute(store->database_.get(), "PRAGMA journal_mode=WAL", ignored);
    Execute(store->database_.get(), "PRAGMA synchronous=NORMAL", ignored);
    store->insert_ = Prepare(store->database_.get(), InsertStatement(), error);
    if (!store->insert_) {
        return nullptr;
    }
    return store;
}

HistoryStore::HistoryStore(SqliteConnection database, std::string path)
    : database_(std::move(database)), path_(std::move(path))
{
}

HistoryStore::~HistoryStore()
{
    // Statements go before the connection they belong to.
    insert_.reset();
}

bool HistoryStore::Check(std::string& error)
{
    checkRefusal_ = 0;
    // The version and the tables read in one snapshot: a writer creating a new file at the same
    // time is seen before or after, never half-way (version 0 with its tables).
    Transaction snapshot(database_.get(), "BEGIN", error);
    const bool checked = snapshot.Open() && CheckSnapshot(error);
    if (!checked) {
        checkRefusal_ = sqlite3_extended_errcode(database_.get()) & 0xFF;
    }
    return checked;
}

bool HistoryStore::CheckSnapshot(std::string& error)
{
    const int found = ReadLayout(database_.get(), error);
    if (found < 0) {
        if ((sqlite3_extended_errcode(database_.get()) & 0xFF) == SQLITE_NOTADB) {
            error = "not a Tarvik history (" + error + ")";
        }
        return false;
    }
    if (found > HISTORY_SCHEMA_VERSION) {
        error = "written by a later release (layout " + std::to_string(found) +
                ", this one knows " + std::to_string(HISTORY_SCHEMA_VERSION) + ")";
        return false;
    }
    if (!HoldsLayout(database_.get(), found, error)) {
        error = found == 0 ? "not a Tarvik history (a SQLite database of something else)"
                           : "not a Tarvik history (layout " + std::to_string(found) +
                                 " without its attempts table)";
        return false;
    }
    layout_ = found;
    return true;
}

bool HistoryStore::Upgrade(std::string& error)
{
    if (layout_ == HISTORY_SCHEMA_VERSION) {
        return true;
    }
    sqlite3* database = database_.get();
    // One program at a time reads the version and writes the layout, so two that open a new
    // file at once do not both create it.
    Transaction transaction(database, "BEGIN IMMEDIATE", error);
    if (!transaction.Open()) {
        return false;
    }
    const int found = ReadLayout(database, error);
    if (found < 0 || !HoldsLayout(database, found, error)) {
        error = error.empty() ? "the history changed while it was opened" : error;
        return false;
    }
    if (found < HISTORY_SCHEMA_VERSION) {
        const std::string steps = LayoutSteps(found) + "PRAGMA user_version = " +
                                  std::to_string(HISTORY_SCHEMA_VERSION) + ";";
        if (!Execute(database, steps.c_str(), error)) {
            return false;
        }
    }
    layout_ = HISTORY_SCHEMA_VERSION;
    return transaction.Commit(error);
}

bool HistoryStore::Append(const HistoryRecord& record, std::string& error)
{
    sqlite3_stmt* statement = insert_.get();
    if (statement == nullptr) {
        error = "the history is open for reading only";
        return false;
    }
    sqlite3_reset(statement);
    int index = 0;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        BindValue(statement, ++index, column.Get(record));
    }
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (result != SQLITE_DONE) {
        error = LastError(database_.get());
        return false;
    }
    return true;
}

std::vector<HistoryRecord> HistoryStore::Select(const std::string& tail,
                                                const std::vector<SqlValue>& values,
                                                std::string& error, std::int64_t* lastRowId)
{
    std::vector<HistoryRecord> records;
    SqliteStatement statement =
        Prepare(database_.get(),
                "SELECT " + SelectedColumns(layout_) + ", rowid FROM attempts " + tail, error);
    if (!statement) {
        return records;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        BindValue(statement.get(), static_cast<int>(i) + 1, values[i]);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        records.push_back(ReadRecord(statement.get()));
        if (lastRowId != nullptr) {
            *lastRowId =
                sqlite3_column_int64(statement.get(), static_cast<int>(HISTORY_COLUMNS.size()));
        }
    }
    if (result != SQLITE_DONE) {
        error = LastError(database_.get());
    }
    return records;
}

std::vector<HistoryRecord> HistoryStore::Find(const HistoryFilter& filter, std::string& error)
{
    std::string where;
    std::vector<SqlValue> values;
    const auto add = [&](const char* clause) {
        where += where.empty() ? "WHERE " : " AND ";
        where += clause;
    };
    if (!filter.DeviceName.empty()) {
        add("device = ?");
        values.emplace_back(filter.DeviceName);
    }
    if (!filter.Sha256.empty()) {
        add("sha256 = ?");
        values.emplace_back(filter.Sha256);
    }
    if (filter.SinceMs) {
        add("start_ms >= ?");
        values.emplace_back(*filter.SinceMs);
    }
    if (filter.UntilMs) {
        add("start_ms < ?");
        values.emplace_back(*filter.UntilMs);
    }
    if (filter.FailedOnly) {
        add("exit_status <> 0");
    }
    if (!filter.Station.empty()) {
        add("station = ?");
        values.emplace_back(filter.Station);
    }
    return Select(where + " ORDER BY start_ms DESC, rowid DESC", values, error);
}

std::vector<HistoryRecord> HistoryStore::Unpushed(std::size_t limit, std::string& error,
                                                  std::int64_t afterRowId, std::int64_t* lastRowId)
{
    return Select("WHERE pushed = 0 AND rowid > ? ORDER BY rowid LIMIT ?",
                  {afterRowId, static_cast<std::int64_t>(limit)}, error, lastRowId);
}

std::uint64_t HistoryStore::UnpushedCount(std::string& error)
{
    SqliteStatement statement =
        Prepare(database_.get(), "SELECT count(*) FROM attempts WHERE pushed = 0", error);
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) {
        error = error.empty() ? LastError(database_.get()) : error;
        return 0;
    }
    return static_cast<std::uint64_t>(sqlite3_column_int64(statement.get(), 0));
}

bool HistoryStore::MarkPushed(const std::vector<std::string>& recordIds, std::string& error)
{
    Transaction transaction(database_.get(), "BEGIN IMMEDIATE", error);
    if (!transaction.Open()) {
        return false;
    }
    SqliteStatement mark =
        Prepare(database_.get(), "UPDATE attempts SET pushed = 1 WHERE record_id = ?1", error);
    if (!mark) {
        return false;
    }
    for (const std::string& id : recordIds) {
        sqlite3_reset(mark.get());
        BindText(mark.get(), 1, id);
        if (sqlite3_step(mark.get()) != SQLITE_DONE) {
            error = LastError(database_.get());
            return false;
        }
    }
    mark.reset();
    return transaction.Commit(error);
}

std::string DefaultHistoryPath()
{
    const std::string folder = UserStateFolder();
    return folder.empty() ? folder : TextOf(PathOf(folder) / "history.sqlite");
}

bool MakeHistoryFolder(const std::string& path, std::string& error)
{
    const std::filesystem::path folder = PathOf(path).parent_path();
    if (folder.empty()) {
        return true;
    }
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (failed) {
        error = "cannot create " + TextOf(folder) + ": " + failed.message();
        return false;
    }
    return true;
}

}  // namespace tarvik
