#include "history/postgres_push.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <libpq-fe.h>

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

// The history's columns, in its order; the temporary table of a batch has them too.
constexpr const char* CREATE_TABLE = R"(
CREATE TABLE IF NOT EXISTS tarvik_attempts (
    record_id text PRIMARY KEY,
    start_ms bigint NOT NULL,
    end_ms bigint NOT NULL,
    station text NOT NULL,
    operator text NOT NULL,
    program_version text NOT NULL,
    interface text NOT NULL,
    device text NOT NULL,
    descriptor_before text,
    descriptor_after text,
    file_name text NOT NULL,
    file_size bigint,
    sha256 text,
    pace_ms integer NOT NULL,
    frames_sent bigint NOT NULL,
    frames_resent bigint NOT NULL,
    result text NOT NULL,
    exit_status integer NOT NULL
))";

// COPY is the server's fastest way in. A batch with records the table holds already goes to a
// table of the session's own first; from there the new ones join the shared table.
constexpr const char* COPY_IN = "COPY tarvik_attempts FROM STDIN";
constexpr const char* STAGE =
    "CREATE TEMPORARY TABLE IF NOT EXISTS tarvik_incoming (LIKE tarvik_attempts) "
    "ON COMMIT DELETE ROWS";
constexpr const char* COPY_STAGED = "COPY tarvik_incoming FROM STDIN";
constexpr const char* MERGE =
    "INSERT INTO tarvik_attempts SELECT * FROM tarvik_incoming ON CONFLICT (record_id) DO NOTHING";

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

void AddField(std::string& row, const std::optional<std::string>& text)
{
    if (text) {
        AddField(row, *text);
    } else {
        row += "\\N\t";
    }
}

template <typename Number>
void AddNumber(std::string& row, Number number)
{
    row += std::to_string(number);
    row += '\t';
}

void AddRow(std::string& rows, const HistoryRecord& record)
{
    AddField(rows, record.RecordId);
    AddNumber(rows, record.StartMs);
    AddNumber(rows, record.EndMs);
    AddField(rows, record.Station);
    AddField(rows, record.Operator);
    AddField(rows, record.ProgramVersion);
    AddField(rows, record.Interface);
    AddField(rows, record.DeviceName);
    AddField(rows, record.DescriptorBefore);
    AddField(rows, record.DescriptorAfter);
    AddField(rows, record.FileName);
    if (record.FileSize) {
        AddNumber(rows, *record.FileSize);
    } else {
        rows += "\\N\t";
    }
    AddField(rows, record.Sha256);
    AddNumber(rows, record.PaceMs);
    AddNumber(rows, record.FramesSent);
    AddNumber(rows, record.FramesResent);
    AddField(rows, record.Result);
    AddNumber(rows, record.ExitStatus);
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
    if (!CopyRows(connection, COPY_IN, rows, error, state)) {
        constexpr std::string_view UNIQUE_VIOLATION = "23505";
        if (state != UNIQUE_VIOLATION ||
            !Run(connection, "ROLLBACK TO SAVEPOINT batch", PGRES_COMMAND_OK, error) ||
            !Run(connection, STAGE, PGRES_COMMAND_OK, error) ||
            !CopyRows(connection, COPY_STAGED, rows, error, state) ||
            !Run(connection, MERGE, PGRES_COMMAND_OK, error)) {
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
        std::unique_ptr<HistoryStore> store = HistoryStore::Open(path, error);
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
    if (!connection || !Run(connection.get(), CREATE_TABLE, PGRES_COMMAND_OK, error)) {
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
