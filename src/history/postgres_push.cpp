#include "history/postgres_push.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <libpq-fe.h>

#include "history/history_columns.h"
#include "history/postgres_connection.h"
#include "platform/formats/utf8_text.h"

namespace tarvik {
namespace {

using Connection = PgConnection;
using Result = PgResult;

// The tables' layout on the server, apart from the station files' own: the first release's
// table (which had no layout table) is layout 1. Layout 2 adds tarvik_attempt_details beside
// it, which a station of layout 1 does not need to know of; layout 3 adds the bay to the
// details (a station of layout 2 names its columns and leaves it null). A later layout may add
// columns (to the details), and says in oldest_writer which layout a station must write for
// its rows to be whole there; a station never writes into a layout that does not take its
// rows. Layout 4 adds tarvik_stations, the running stations' heartbeats, which no station of
// an earlier layout writes or needs, and an index of the attempts by station and start that
// the factory's reading goes through.
constexpr int PUSH_LAYOUT = 4;
constexpr const char* ATTEMPTS = "tarvik_attempts";
constexpr const char* DETAILS = "tarvik_attempt_details";
constexpr const char* CREATE_LAYOUT =
    "CREATE TABLE tarvik_layout (version integer NOT NULL, oldest_writer integer NOT NULL)";
constexpr const char* CREATE_STATIONS =
    "CREATE TABLE tarvik_stations (station text PRIMARY KEY, program_version text NOT NULL, "
    "file_name text NOT NULL, sha256 text, bays text NOT NULL, first_seen_ms bigint NOT NULL, "
    "last_seen_ms bigint NOT NULL, stopped_ms bigint)";
// The factory's reading finds the stations, each one's latest attempt and its attempts of a
// span of days through it; with the exit status beside, it counts passes and picks out the
// failures without reading the table's rows.
constexpr const char* ATTEMPTS_INDEX = "tarvik_attempts_station_start_ms";
constexpr const char* CREATE_ATTEMPTS_INDEX =
    "CREATE INDEX tarvik_attempts_station_start_ms ON tarvik_attempts (station, start_ms) "
    "INCLUDE (exit_status)";
// A station seen again is no longer stopped; its first sight stays.
constexpr const char* WRITE_HEARTBEAT =
    "INSERT INTO tarvik_stations (station, program_version, file_name, sha256, bays, "
    "first_seen_ms, last_seen_ms, stopped_ms) VALUES ($1, $2, $3, $4, $5, $6, $6, $7) "
    "ON CONFLICT (station) DO UPDATE SET program_version = EXCLUDED.program_version, "
    "file_name = EXCLUDED.file_name, sha256 = EXCLUDED.sha256, bays = EXCLUDED.bays, "
    "last_seen_ms = EXCLUDED.last_seen_ms, stopped_ms = EXCLUDED.stopped_ms";
constexpr const char* READ_LAYOUT = "SELECT max(version), max(oldest_writer) FROM tarvik_layout";
// Two stations that find no table at once would both create it: the second waits here.
constexpr const char* LAYOUT_LOCK = "SELECT pg_advisory_xact_lock(7302917)";
// From the catalogue, not information_schema: that lists only what the role has a privilege
// on, and a table another role made and did not grant would look missing (and its creation
// fail with "already exists" rather than the missing privilege).
constexpr const char* SERVER_TABLES =
    "SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
    "ON n.oid = c.relnamespace WHERE n.nspname = current_schema() "
    "AND c.relname IN ('tarvik_attempts', 'tarvik_attempt_details', 'tarvik_layout', "
    "'tarvik_stations', 'tarvik_attempts_station_start_ms')";
constexpr const char* SERVER_COLUMNS =
    "SELECT c.relname, a.attname FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_class c "
    "ON c.oid = a.attrelid JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = current_schema() AND c.relname IN ('tarvik_attempts', "
    "'tarvik_attempt_details') AND a.attnum > 0 AND NOT a.attisdropped";

const char* TableName(PushTable table)
{
    return table == PushTable::Attempts ? ATTEMPTS : DETAILS;
}

// The columns the push copies to a table: a details row starts with its record's id.
std::vector<const HistoryColumn*> ColumnsOf(PushTable table)
{
    std::vector<const HistoryColumn*> columns;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        const bool key = std::string_view(column.Name) == "record_id";
        if (column.Table == table || key) {
            columns.push_back(&column);
        }
    }
    return columns;
}

std::string ColumnNames(PushTable table)
{
    std::string names;
    for (const HistoryColumn* column : ColumnsOf(table)) {
        names += names.empty() ? "" : ", ";
        names += column->Name;
    }
    return names;
}

std::string CreateTable(PushTable table)
{
    std::string sql = std::string("CREATE TABLE ") + TableName(table) + " (";
    bool first = true;
    for (const HistoryColumn* column : ColumnsOf(table)) {
        const bool key = std::string_view(column->Name) == "record_id";
        sql += std::string(first ? "" : ", ") + column->Name + " " + column->PostgresType;
        if (key && table == PushTable::Details) {
            sql += " REFERENCES tarvik_attempts (record_id) ON DELETE CASCADE";
        }
        first = false;
    }
    return sql + ")";
}

// COPY is the server's fastest way in, naming its columns so that a table of a later layout
// takes them where they belong. A batch with records the tables hold already goes to tables
// of the session's own first; from there the new ones join the shared tables.
std::string CopyInto(PushTable table, bool staged)
{
    return std::string("COPY ") + (staged ? "tarvik_incoming_" : "") + TableName(table) + " (" +
           ColumnNames(table) + ") FROM STDIN";
}
std::string Stage(PushTable table)
{
    return std::string("CREATE TEMPORARY TABLE IF NOT EXISTS tarvik_incoming_") +
           TableName(table) + " (LIKE " + TableName(table) + ") ON COMMIT DELETE ROWS";
}
std::string Merge(PushTable table)
{
    const std::string names = ColumnNames(table);
    return std::string("INSERT INTO ") + TableName(table) + " (" + names + ") SELECT " + names +
           " FROM tarvik_incoming_" + TableName(table) + " ON CONFLICT (record_id) DO NOTHING";
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::string ErrorOf(PGconn* connection)
{
    return Trimmed(PQerrorMessage(connection));
}

bool Run(PGconn* connection, const char* sql, ExecStatusType expected, std::string& error)
{
    const Result result(PQexec(connection, sql));
    if (!result || PQresultStatus(result.get()) != expected) {
        error = result ? Trimmed(PQresultErrorMessage(result.get())) : ErrorOf(connection);
        return false;
    }
    return true;
}

// COPY's text form: fields split by tabs, \N for null, backslash escapes for what would
// split a field or a row.
void AddField(std::string& row, const std::string& text)
{
    if (std::none_of(text.begin(), text.end(),
                     [](char c) { return c == '\\' || c == '\t' || c == '\n' || c == '\r'; })) {
        row += text;
        row += '\t';
        return;
    }
    for (const char c : text) {
        switch (c) {
        case '\\':
            row += "\\\\";
            break;
        case '\t':
            row += "\\t";
            break;
        case '\n':
            row += "\\n";
            break;
        case '\r':
            row += "\\r";
            break;
        default:
            row += c;
        }
    }
    row += '\t';
}

// The server takes UTF-8 only: a text a station's file holds in another encoding goes
// escaped, or the record could never be pushed.
void AddRow(std::string& rows, const std::vector<const HistoryColumn*>& columns,
            const HistoryRecord& record)
{
    for (const HistoryColumn* column : columns) {
        const ColumnValue value = column->Get(record);
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            rows += std::to_string(*number);
            rows += '\t';
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            AddField(rows, Utf8Escaped(*text));
        } else {
            rows += "\\N\t";
        }
    }
    rows.back() = '\n';
}

// Sends the rows to a COPY ... FROM STDIN; true when the server took them all. On failure the
// error and its SQLSTATE.
bool CopyRows(PGconn* connection, const char* copy, const std::string& rows, std::string& error,
              std::string& state)
{
    if (!Run(connection, copy, PGRES_COPY_IN, error)) {
        return false;
    }
    if (PQputCopyData(connection, rows.data(), static_cast<int>(rows.size())) != 1 ||
        PQputCopyEnd(connection, nullptr) != 1) {
        error = ErrorOf(connection);
        return false;
    }
    bool copied = true;
    while (PGresult* raw = PQgetResult(connection)) {
        const Result result(raw);
        if (PQresultStatus(raw) != PGRES_COMMAND_OK) {
            error = Trimmed(PQresultErrorMessage(raw));
            const char* code = PQresultErrorField(raw, PG_DIAG_SQLSTATE);
            state = code != nullptr ? code : "";
            copied = false;
        }
    }
    return copied;
}

// A batch's rows for each table, in COPY's text form.
struct BatchRows {
    std::string Attempts;
    std::string Details;
};

// One batch, one transaction; true only when the server committed it. Most batches hold only
// records new to the tables: they go straight in by COPY, as fast as the server takes rows.
// One that a table's key refuses (the tables hold some of its records: a push whose commit was
// not acknowledged, a history restored from a copy) goes again through tables of the
// session's own, from which only the new records join.
bool SendBatch(PGconn* connection, const BatchRows& rows, std::string& error)
{
    if (!Run(connection, "BEGIN", PGRES_COMMAND_OK, error)) {
        return false;
    }
    // Whatever fails below leaves the transaction to be rolled back (or the connection gone).
    const auto abandon = [&] {
        std::string ignored;
        Run(connection, "ROLLBACK", PGRES_COMMAND_OK, ignored);
        return false;
    };
    std::string state;
    if (!Run(connection, "SAVEPOINT batch", PGRES_COMMAND_OK, error)) {
        return abandon();
    }
    const auto copy = [&](bool staged) {
        return CopyRows(connection, CopyInto(PushTable::Attempts, staged).c_str(), rows.Attempts,
                        error, state) &&
               CopyRows(connection, CopyInto(PushTable::Details, staged).c_str(), rows.Details,
                        error, state);
    };
    if (!copy(false)) {
        constexpr std::string_view UNIQUE_VIOLATION = "23505";
        if (state != UNIQUE_VIOLATION ||
            !Run(connection, "ROLLBACK TO SAVEPOINT batch", PGRES_COMMAND_OK, error) ||
            !Run(connection, Stage(PushTable::Attempts).c_str(), PGRES_COMMAND_OK, error) ||
            !Run(connection, Stage(PushTable::Details).c_str(), PGRES_COMMAND_OK, error) ||
            !copy(true) ||
            !Run(connection, Merge(PushTable::Attempts).c_str(), PGRES_COMMAND_OK, error) ||
            !Run(connection, Merge(PushTable::Details).c_str(), PGRES_COMMAND_OK, error)) {
            return abandon();
        }
        error.clear();
    }
    return Run(connection, "COMMIT", PGRES_COMMAND_OK, error);
}

Connection Connect(const std::string& url, std::string& error)
{
    return ConnectToServer(url, error);
}

bool Query(PGconn* connection, const char* sql, Result& result, std::string& error)
{
    result.reset(PQexec(connection, sql));
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        error = result ? Trimmed(PQresultErrorMessage(result.get())) : ErrorOf(connection);
        return false;
    }
    return true;
}

// Makes the tables and the layout the server lacks, in one transaction, and refuses a layout
// this station's records do not fit before a row is sent: a layout that needs a later station,
// or a first table that lacks a column they fill (the details take a missing column). Only
// what is missing is created, so a role that may only write rows pushes into tables made by
// another. A refusal leaves the server as it was.
bool PrepareTables(PGconn* connection, std::string& error)
{
    if (!Run(connection, "BEGIN", PGRES_COMMAND_OK, error)) {
        return false;
    }
    const auto prepare = [&] {
        Result tables;
        if (!Run(connection, LAYOUT_LOCK, PGRES_TUPLES_OK, error) ||
            !Query(connection, SERVER_TABLES, tables, error)) {
            return false;
        }
        std::set<std::string> present;
        for (int row = 0; row < PQntuples(tables.get()); ++row) {
            present.insert(PQgetvalue(tables.get(), row, 0));
        }
        for (const PushTable table : {PushTable::Attempts, PushTable::Details}) {
            if (present.count(TableName(table)) == 0 &&
                !Run(connection, CreateTable(table).c_str(), PGRES_COMMAND_OK, error)) {
                return false;
            }
        }
        // Checked in the catalogue rather than with IF NOT EXISTS, which still asks for the
        // table's ownership: a role that may only write rows finds them made.
        const std::pair<const char*, const char*> others[] = {
            {"tarvik_layout", CREATE_LAYOUT},
            {STATIONS_TABLE, CREATE_STATIONS},
            {ATTEMPTS_INDEX, CREATE_ATTEMPTS_INDEX}};
        for (const auto& [name, create] : others) {
            if (present.count(name) == 0 && !Run(connection, create, PGRES_COMMAND_OK, error)) {
                return false;
            }
        }
        Result layout;
        Result columns;
        if (!Query(connection, READ_LAYOUT, layout, error) ||
            !Query(connection, SERVER_COLUMNS, columns, error)) {
            return false;
        }
        const bool recorded = PQntuples(layout.get()) == 1 && PQgetisnull(layout.get(), 0, 0) == 0;
        const int version = recorded ? std::atoi(PQgetvalue(layout.get(), 0, 0)) : 1;
        const int oldestWriter = recorded ? std::atoi(PQgetvalue(layout.get(), 0, 1)) : 1;
        const std::string station = "; this station writes layout " + std::to_string(PUSH_LAYOUT);
        if (oldestWriter > PUSH_LAYOUT) {
            error = "the shared table is of layout " + std::to_string(version) +
                    ", which takes records from stations of layout " +
                    std::to_string(oldestWriter) + " on" + station + ": upgrade the station";
            return false;
        }
        std::set<std::pair<std::string, std::string>> found;
        for (int row = 0; row < PQntuples(columns.get()); ++row) {
            found.emplace(PQgetvalue(columns.get(), row, 0), PQgetvalue(columns.get(), row, 1));
        }
        for (const PushTable table : {PushTable::Attempts, PushTable::Details}) {
            for (const HistoryColumn* column : ColumnsOf(table)) {
                if (found.count({TableName(table), column->Name}) != 0) {
                    continue;
                }
                if (table == PushTable::Attempts) {
                    error = "the shared table (layout " + std::to_string(version) +
                            ") has no column " + column->Name + station;
                    return false;
                }
                const std::string add = std::string("ALTER TABLE ") + DETAILS + " ADD COLUMN " +
                                        column->Name + " " + column->PostgresType;
                if (!Run(connection, add.c_str(), PGRES_COMMAND_OK, error)) {
                    return false;
                }
            }
        }
        // A layout older than this station's is brought up to it; who may write stays as it was.
        const std::string setLayout = "INSERT INTO tarvik_layout VALUES (" +
                                      std::to_string(PUSH_LAYOUT) + ", " +
                                      std::to_string(oldestWriter) + ")";
        return (recorded && version >= PUSH_LAYOUT) ||
               Run(connection, setLayout.c_str(), PGRES_COMMAND_OK, error);
    };
    if (!prepare() || !Run(connection, "COMMIT", PGRES_COMMAND_OK, error)) {
        std::string ignored;
        Run(connection, "ROLLBACK", PGRES_COMMAND_OK, ignored);
        return false;
    }
    return true;
}

// Reads the batches ahead on a thread and a connection of its own while the server takes the
// one before, so that reading the history and the server's work overlap. Holds at most two
// batches.
class BatchReader {
public:
    struct Batch {
        BatchRows Rows;
        std::vector<std::string> Ids;
    };

    BatchReader(const std::string& path, std::size_t batchRecords)
        : thread_([this, path, batchRecords] { Read(path, batchRecords); })
    {
    }
    ~BatchReader()
    {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // The next batch; nothing when all are read, or with the reason in error.
    std::optional<Batch> Next(std::string& error)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !batches_.empty() || finished_; });
        if (batches_.empty()) {
            error = error_;
            return std::nullopt;
        }
        Batch batch = std::move(batches_.front());
        batches_.pop_front();
        changed_.notify_all();
        return batch;
    }

private:
    void Read(const std::string& path, std::size_t batchRecords)
    {
        std::string error;
        std::unique_ptr<HistoryStore> store = HistoryStore::Open(path, error, HistoryAccess::Read);
        std::int64_t last = 0;
        const std::vector<const HistoryColumn*> attempts = ColumnsOf(PushTable::Attempts);
        const std::vector<const HistoryColumn*> details = ColumnsOf(PushTable::Details);
        while (store) {
            const std::vector<HistoryRecord> records =
                store->Unpushed(batchRecords, error, last, &last);
            if (!error.empty() || records.empty()) {
                break;
            }
            Batch batch;
            batch.Rows.Attempts.reserve(records.size() * 640);
            batch.Rows.Details.reserve(records.size() * 64);
            batch.Ids.reserve(records.size());
            for (const HistoryRecord& record : records) {
                AddRow(batch.Rows.Attempts, attempts, record);
                AddRow(batch.Rows.Details, details, record);
                batch.Ids.push_back(record.RecordId);
            }
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return batches_.size() < 2 || stopped_; });
            if (stopped_) {
                return;
            }
            batches_.push_back(std::move(batch));
            changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        error_ = error;
        finished_ = true;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> batches_;
    bool finished_ = false;
    bool stopped_ = false;
    std::string error_;
    std::thread thread_;  // last: it starts once the rest is made
};

// Writes the station's row in a transaction of its own (the statement's).
bool WriteHeartbeat(PGconn* connection, const StationHeartbeat& heartbeat, std::string& error)
{
    const std::string seen = std::to_string(heartbeat.NowMs);
    const std::string station = Utf8Escaped(heartbeat.Station);
    const std::string version = Utf8Escaped(heartbeat.ProgramVersion);
    const std::string file = Utf8Escaped(heartbeat.FileName);
    const std::string bays = Utf8Escaped(heartbeat.Bays);
    const char* sha256 = heartbeat.Sha256.empty() ? nullptr : heartbeat.Sha256.c_str();
    const char* stopped = heartbeat.Stopped ? seen.c_str() : nullptr;
    const std::array<const char*, 7> values{station.c_str(), version.c_str(), file.c_str(), sha256,
                                            bays.c_str(),    seen.c_str(),    stopped};
    const Result result(PQexecParams(connection, WRITE_HEARTBEAT, static_cast<int>(values.size()),
                                     nullptr, values.data(), nullptr, nullptr, 0));
    if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        error = result ? Trimmed(PQresultErrorMessage(result.get())) : ErrorOf(connection);
        return false;
    }
    return true;
}

}  // namespace

PushOutcome PushHistory(HistoryStore& store, const std::string& url, std::size_t batchRecords,
                        const StationHeartbeat* heartbeat)
{
    PushOutcome outcome;
    const auto remaining = [&] {
        std::string ignored;
        outcome.Remaining = store.UnpushedCount(ignored);
        return outcome;
    };
    std::string error;
    Connection connection = Connect(url, error);
    if (!connection || !PrepareTables(connection.get(), error)) {
        outcome.Error = error;
        return remaining();
    }
    std::string heartbeatError;
    if (heartbeat != nullptr && !WriteHeartbeat(connection.get(), *heartbeat, heartbeatError)) {
        heartbeatError = "the station's heartbeat: " + heartbeatError;
    }
    {
        BatchReader reader(store.Path(), batchRecords);
        // A batch is marked while the next one goes to the server: marking waits for nothing
        // but the commit of its own batch.
        std::future<bool> marking;
        std::size_t markingRecords = 0;
        std::string markError;
        const auto marked = [&] {
            if (!marking.valid()) {
                return true;
            }
            if (!marking.get()) {
                error = markError;
                return false;
            }
            outcome.Pushed += markingRecords;
            return true;
        };
        while (std::optional<BatchReader::Batch> batch = reader.Next(error)) {
            if (!SendBatch(connection.get(), batch->Rows, error)) {
                break;
            }
            // Should a mark fail, the server holds the batch already and the next push's
            // copies of it are left out there: nothing is lost or stored twice.
            if (!marked()) {
                break;
            }
            markingRecords = batch->Ids.size();
            marking = std::async(std::launch::async,
                                 [&store, &markError, ids = std::move(batch->Ids)] {
                return store.MarkPushed(ids, markError);
            });
        }
        // The last batch's mark is waited for, also when a later send failed; that failure is
        // the one to tell.
        const std::string sendError = error;
        marked();
        if (!sendError.empty()) {
            error = sendError;
        }
    }
    outcome.Error = error.empty() ? heartbeatError : error;
    return remaining();
}

}  // namespace tarvik
