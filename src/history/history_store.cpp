#include "history/history_store.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <sqlite3.h>

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

// The columns in the order every SELECT and the INSERT name them.
constexpr const char* COLUMNS =
    "record_id, start_ms, end_ms, station, operator, program_version, interface, device, "
    "descriptor_before, descriptor_after, file_name, file_size, sha256, pace_ms, frames_sent, "
    "frames_resent, result, exit_status";

// Layout 1, as the first release wrote it; Upgrade() takes a file from here to the latest.
constexpr const char* SCHEMA_1 = R"(
CREATE TABLE attempts (
    record_id TEXT PRIMARY KEY NOT NULL,
    start_ms INTEGER NOT NULL,
    end_ms INTEGER NOT NULL,
    station TEXT NOT NULL,
    operator TEXT NOT NULL,
    program_version TEXT NOT NULL,
    interface TEXT NOT NULL,
    device TEXT NOT NULL,
    descriptor_before TEXT,
    file_name TEXT NOT NULL,
    file_size INTEGER,
    sha256 TEXT,
    pace_ms INTEGER NOT NULL,
    frames_sent INTEGER NOT NULL,
    frames_resent INTEGER NOT NULL,
    result TEXT NOT NULL,
    exit_status INTEGER NOT NULL
);
CREATE INDEX attempts_by_start ON attempts (start_ms);
)";

// From 1 to 2. Records of layout 1 were never pushed: they go with the next push.
constexpr const char* SCHEMA_1_TO_2 = R"(
ALTER TABLE attempts ADD COLUMN descriptor_after TEXT;
ALTER TABLE attempts ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0;
CREATE INDEX attempts_unpushed ON attempts (pushed) WHERE pushed = 0;
)";

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

void BindOptionalText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text)
{
    if (text) {
        BindText(statement, index, *text);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::optional<std::string> ColumnOptionalText(sqlite3_stmt* statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return ColumnText(statement, column);
}

HistoryRecord ReadRecord(sqlite3_stmt* statement)
{
    HistoryRecord record;
    record.RecordId = ColumnText(statement, 0);
    record.StartMs = sqlite3_column_int64(statement, 1);
    record.EndMs = sqlite3_column_int64(statement, 2);
    record.Station = ColumnText(statement, 3);
    record.Operator = ColumnText(statement, 4);
    record.ProgramVersion = ColumnText(statement, 5);
    record.Interface = ColumnText(statement, 6);
    record.DeviceName = ColumnText(statement, 7);
    record.DescriptorBefore = ColumnOptionalText(statement, 8);
    record.DescriptorAfter = ColumnOptionalText(statement, 9);
    record.FileName = ColumnText(statement, 10);
    if (sqlite3_column_type(statement, 11) != SQLITE_NULL) {
        record.FileSize = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 11));
    }
    record.Sha256 = ColumnOptionalText(statement, 12);
    record.PaceMs = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 13));
    record.FramesSent = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 14));
    record.FramesResent = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 15));
    record.Result = ColumnText(statement, 16);
    record.ExitStatus = sqlite3_column_int(statement, 17);
    return record;
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

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path, std::string& error)
{
    sqlite3* opened = nullptr;
    const int result =
        sqlite3_open_v2(path.c_str(), &opened,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteConnection database(opened);
    if (result != SQLITE_OK) {
        error = opened != nullptr ? LastError(opened) : sqlite3_errstr(result);
        return nullptr;
    }
    sqlite3_busy_timeout(database.get(), HISTORY_BUSY_TIMEOUT_MS);
    sqlite3_extended_result_codes(database.get(), 1);
    // The write-ahead log lets readers and one writer work at once; a commit then needs no
    // sync of its own (NORMAL): a power cut may lose the last records, never the file.
    std::string ignored;
    Execute(database.get(), "PRAGMA journal_mode=WAL", ignored);
    Execute(database.get(), "PRAGMA synchronous=NORMAL", ignored);
    std::unique_ptr<HistoryStore> store(new HistoryStore(std::move(database), path));
    if (!store->Upgrade(error)) {
        return nullptr;
    }
    store->insert_ = Prepare(store->database_.get(),
                             std::string("INSERT INTO attempts (") + COLUMNS +
                                 ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                                 "?13, ?14, ?15, ?16, ?17, ?18)",
                             error);
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

bool HistoryStore::Upgrade(std::string& error)
{
    sqlite3* database = database_.get();
    // One program at a time reads the version and writes the layout, so two that open a new
    // file at once do not both create it.
    Transaction transaction(database, "BEGIN IMMEDIATE", error);
    if (!transaction.Open()) {
        return false;
    }
    SqliteStatement version = Prepare(database, "PRAGMA user_version", error);
    if (!version || sqlite3_step(version.get()) != SQLITE_ROW) {
        error = error.empty() ? LastError(database) : error;
        return false;
    }
    const int found = sqlite3_column_int(version.get(), 0);
    version.reset();
    if (found > HISTORY_SCHEMA_VERSION) {
        error = "written by a later release (layout " + std::to_string(found) +
                ", this one knows " + std::to_string(HISTORY_SCHEMA_VERSION) + ")";
        return false;
    }
    if (found == HISTORY_SCHEMA_VERSION) {
        return transaction.Commit(error);
    }
    if (found < 1 && !Execute(database, SCHEMA_1, error)) {
        return false;
    }
    if (found < 2 && !Execute(database, SCHEMA_1_TO_2, error)) {
        return false;
    }
    const std::string setVersion = "PRAGMA user_version = " +
                                   std::to_string(HISTORY_SCHEMA_VERSION);
    return Execute(database, setVersion.c_str(), error) && transaction.Commit(error);
}

bool HistoryStore::Append(const HistoryRecord& record, std::string& error)
{
    sqlite3_stmt* statement = insert_.get();
    sqlite3_reset(statement);
    BindText(statement, 1, record.RecordId);
    sqlite3_bind_int64(statement, 2, record.StartMs);
    sqlite3_bind_int64(statement, 3, record.EndMs);
    BindText(statement, 4, record.Station);
    BindText(statement, 5, record.Operator);
    BindText(statement, 6, record.ProgramVersion);
    BindText(statement, 7, record.Interface);
    BindText(statement, 8, record.DeviceName);
    BindOptionalText(statement, 9, record.DescriptorBefore);
    BindOptionalText(statement, 10, record.DescriptorAfter);
    BindText(statement, 11, record.FileName);
    if (record.FileSize) {
        sqlite3_bind_int64(statement, 12, static_cast<sqlite3_int64>(*record.FileSize));
    } else {
        sqlite3_bind_null(statement, 12);
    }
    BindOptionalText(statement, 13, record.Sha256);
    sqlite3_bind_int64(statement, 14, record.PaceMs);
    sqlite3_bind_int64(statement, 15, static_cast<sqlite3_int64>(record.FramesSent));
    sqlite3_bind_int64(statement, 16, static_cast<sqlite3_int64>(record.FramesResent));
    BindText(statement, 17, record.Result);
    sqlite3_bind_int(statement, 18, record.ExitStatus);
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
    SqliteStatement statement = Prepare(
        database_.get(), std::string("SELECT ") + COLUMNS + ", rowid FROM attempts " + tail, error);
    if (!statement) {
        return records;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        if (const auto* number = std::get_if<std::int64_t>(&values[i])) {
            sqlite3_bind_int64(statement.get(), index, *number);
        } else {
            BindText(statement.get(), index, std::get<std::string>(values[i]));
        }
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        records.push_back(ReadRecord(statement.get()));
        if (lastRowId != nullptr) {
            *lastRowId = sqlite3_column_int64(statement.get(), 18);
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
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        return std::string(state) + "/tarvik/history.sqlite";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.local/state/tarvik/history.sqlite";
    }
    return {};
}

bool MakeHistoryFolder(const std::string& path, std::string& error)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) {
        return true;
    }
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (failed) {
        error = "cannot create " + folder.string() + ": " + failed.message();
        return false;
    }
    return true;
}

}  // namespace tarvik
