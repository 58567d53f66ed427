#include "history/postgres_push.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <libpq-fe.h>

#include "history/history_columns.h"
#include "platform/formats/utf8_text.h"

namespace tarvik {
namespace {

struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;
using Result = std::unique_ptr<PGresult, ResultClearer>;

// The table's layout on the server, apart from the station files' own: the first release's
// table (which had no layout table) is layout 1. A later layout may add columns at the end,
// and says in oldest_writer which layout a station must write for its rows to be whole there;
// a station never writes into a layout that does not take its rows.
constexpr int PUSH_LAYOUT = 1;
constexpr const char* CREATE_LAYOUT =
    "CREATE TABLE IF NOT EXISTS tarvik_layout (version integer NOT NULL, "
    "oldest_writer integer NOT NULL)";
constexpr const char* READ_LAYOUT = "SELECT max(version), max(oldest_writer) FROM tarvik_layout";
// Two stations that find no table at once would both create it: the second waits here.
constexpr const char* LAYOUT_LOCK = "SELECT pg_advisory_xact_lock(7302917)";
constexpr const char* SERVER_COLUMNS =
    "SELECT column_name FROM information_schema.columns WHERE table_name = 'tarvik_attempts' "
    "AND table_schema = current_schema()";

std::string ColumnNames()
{
    std::string names;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (!column.Pushed) {
            continue;
        }
        names += names.empty() ? "" : ", ";
        names += column.Name;
    }
    return names;
}

std::string CreateTable()
{
    std::string sql = "CREATE TABLE IF NOT EXISTS tarvik_attempts (";
    bool first = true;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (!column.Pushed) {
            continue;
        }
        sql += std::string(first ? "" : ", ") + column.Name + " " + column.PostgresType;
        first = false;
    }
    return sql + ")";
}

// COPY is the server's fastest way in, naming its columns so that a table of a later layout
// takes them where they belong. A batch with records the table holds already goes to a table
// of the session's own first; from there the new ones join the shared table.
std::string CopyInto(const char* table)
{
    return std::string("COPY ") + table + " (" + ColumnNames() + ") FROM STDIN";
}
constexpr const char* STAGE =
    "CREATE TEMPORARY TABLE IF NOT EXISTS tarvik_incoming (LIKE tarvik_attempts) "
    "ON COMMIT DELETE ROWS";
std::string Merge()
{
    const std::string names = ColumnNames();
    return "INSERT INTO tarvik_attempts (" + names + ") SELECT " + names +
           " FROM tarvik_incoming ON CONFLICT (record_id) DO NOTHING";
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
void AddRow(std::string& rows, const HistoryRecord& record)
{
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (!column.Pushed) {
            continue;
        }
        const ColumnValue value = column.Get(record);
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

// One batch, one transaction; true only when the server committed it. Most batches hold only
// records new to the table: they go straight in by COPY, as fast as the server takes rows. One
// that the table's key refuses (the table holds some of its records: a push whose commit was
// not acknowledged, a history restored from a copy) goes again through a table of the
// session's own, from which only the new records join.
bool SendBatch(PGconn* connection, const std::string& rows, std::string& error)
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
    if (!CopyRows(connection, CopyInto("tarvik_attempts").c_str(), rows, error, state)) {
        constexpr std::string_view UNIQUE_VIOLATION = "23505";
        if (state != UNIQUE_VIOLATION ||
            !Run(connection, "ROLLBACK TO SAVEPOINT batch", PGRES_COMMAND_OK, error) ||
            !Run(connection, STAGE, PGRES_COMMAND_OK, error) ||
            !CopyRows(connection, CopyInto("tarvik_incoming").c_str(), rows, error, state) ||
            !Run(connection, Merge().c_str(), PGRES_COMMAND_OK, error)) {
            return abandon();
        }
        error.clear();
    }
    return Run(connection, "COMMIT", PGRES_COMMAND_OK, error);
}

Connection Connect(const std::string& url, std::string& error)
{
    // The URL's own settings come after the default timeout and so take its place.
    const std::string timeout = std::to_string(PUSH_CONNECT_TIMEOUT_S);
    std::vector<const char*> keys;
    std::vector<const char*> values;
    if (std::getenv("PGCONNECT_TIMEOUT") == nullptr) {
        keys.push_back("connect_timeout");
        values.push_back(timeout.c_str());
    }
    keys.push_back("dbname");
    values.push_back(url.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    Connection connection(PQconnectdbParams(keys.data(), values.data(), 1));
    if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
        error = connection ? ErrorOf(connection.get()) : "out of memory";
        return nullptr;
    }
    // The server's notices ("relation already exists, skipping") are no news to the user.
    PQsetNoticeProcessor(
        connection.get(), [](void*, const char*) {}, nullptr);
    if (PQsetClientEncoding(connection.get(), "UTF8") != 0) {
        error = ErrorOf(connection.get());
        return nullptr;
    }
    return connection;
}

// The server's table and its layout (the first release's table, which has none, is layout 1),
// or the reason this station's records do not fit them: a layout that needs a later station,
// or a table that lacks a column they fill.
bool CheckLayout(PGconn* connection, bool& recorded, std::string& error)
{
    const Result layout(PQexec(connection, READ_LAYOUT));
    const Result columns(PQexec(connection, SERVER_COLUMNS));
    for (PGresult* result : {layout.get(), columns.get()}) {
        if (result == nullptr || PQresultStatus(result) != PGRES_TUPLES_OK) {
            error = result != nullptr ? Trimmed(PQresultErrorMessage(result)) : ErrorOf(connection);
            return false;
        }
    }
    recorded = PQntuples(layout.get()) == 1 && PQgetisnull(layout.get(), 0, 0) == 0;
    const int version = recorded ? std::atoi(PQgetvalue(layout.get(), 0, 0)) : 1;
    const int oldestWriter = recorded ? std::atoi(PQgetvalue(layout.get(), 0, 1)) : 1;
    const std::string station = "; this station writes layout " + std::to_string(PUSH_LAYOUT);
    if (oldestWriter > PUSH_LAYOUT) {
        error = "the shared table is of layout " + std::to_string(version) +
                ", which takes records from stations of layout " + std::to_string(oldestWriter) +
                " on" + station + ": upgrade the station";
        return false;
    }
    std::set<std::string> found;
    for (int row = 0; row < PQntuples(columns.get()); ++row) {
        found.insert(PQgetvalue(columns.get(), row, 0));
    }
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (!column.Pushed) {
            continue;
        }
        if (found.count(column.Name) == 0) {
            error = "the shared table (layout " + std::to_string(version) + ") has no column " +
                    column.Name + station;
            return false;
        }
    }
    return true;
}

// Makes the table and its layout when missing, in one transaction, and refuses a layout this
// station's records do not fit before a row is sent; a refusal leaves the server as it was.
bool PrepareTable(PGconn* connection, std::string& error)
{
    if (!Run(connection, "BEGIN", PGRES_COMMAND_OK, error)) {
        return false;
    }
    const std::string create = CreateTable();
    const std::string setLayout = "INSERT INTO tarvik_layout VALUES (" +
                                  std::to_string(PUSH_LAYOUT) + ", " + std::to_string(PUSH_LAYOUT) +
                                  ")";
    bool recorded = false;
    if (!Run(connection, LAYOUT_LOCK, PGRES_TUPLES_OK, error) ||
        !Run(connection, create.c_str(), PGRES_COMMAND_OK, error) ||
        !Run(connection, CREATE_LAYOUT, PGRES_COMMAND_OK, error) ||
        !CheckLayout(connection, recorded, error) ||
        (!recorded && !Run(connection, setLayout.c_str(), PGRES_COMMAND_OK, error)) ||
        !Run(connection, "COMMIT", PGRES_COMMAND_OK, error)) {
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
        std::string Rows;  // in COPY's text form
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
        while (store) {
            const std::vector<HistoryRecord> records =
                store->Unpushed(batchRecords, error, last, &last);
            if (!error.empty() || records.empty()) {
                break;
            }
            Batch batch;
            batch.Rows.reserve(records.size() * 640);
            batch.Ids.reserve(records.size());
            for (const HistoryRecord& record : records) {
                AddRow(batch.Rows, record);
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

}  // namespace

PushOutcome PushHistory(HistoryStore& store, const std::string& url, std::size_t batchRecords)
{
    PushOutcome outcome;
    const auto remaining = [&] {
        std::string ignored;
        outcome.Remaining = store.UnpushedCount(ignored);
        return outcome;
    };
    std::string error;
    Connection connection = Connect(url, error);
    if (!connection || !PrepareTable(connection.get(), error)) {
        outcome.Error = error;
        return remaining();
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
    outcome.Error = error;
    return remaining();
}

}  // namespace tarvik
