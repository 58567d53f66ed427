#include "history/postgres_push.h"

#include <cstdlib>
#include <memory>
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

// A batch goes in by COPY, the server's fastest way in, to a table of the session's own; from
// there the records new to the shared table join it, those it holds already are left out.
constexpr const char* STAGE =
    "CREATE TEMPORARY TABLE IF NOT EXISTS tarvik_incoming (LIKE tarvik_attempts) "
    "ON COMMIT DELETE ROWS";
constexpr const char* COPY_IN = "COPY tarvik_incoming FROM STDIN";
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

// One batch, one transaction; true only when the server committed it.
bool SendBatch(PGconn* connection, const std::vector<HistoryRecord>& records, std::string& error)
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
    if (!Run(connection, STAGE, PGRES_COMMAND_OK, error) ||
        !Run(connection, COPY_IN, PGRES_COPY_IN, error)) {
        return abandon();
    }
    std::string rows;
    rows.reserve(records.size() * 512);
    for (const HistoryRecord& record : records) {
        AddRow(rows, record);
    }
    if (PQputCopyData(connection, rows.data(), static_cast<int>(rows.size())) != 1 ||
        PQputCopyEnd(connection, nullptr) != 1) {
        error = ErrorOf(connection);
        return abandon();
    }
    bool copied = true;
    while (PGresult* raw = PQgetResult(connection)) {
        const Result result(raw);
        if (PQresultStatus(raw) != PGRES_COMMAND_OK) {
            error = Trimmed(PQresultErrorMessage(raw));
            copied = false;
        }
    }
    if (!copied || !Run(connection, MERGE, PGRES_COMMAND_OK, error)) {
        return abandon();
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
    for (;;) {
        std::vector<HistoryRecord> batch = store.Unpushed(batchRecords, error);
        if (!error.empty() || batch.empty()) {
            break;
        }
        if (!SendBatch(connection.get(), batch, error)) {
            break;
        }
        std::vector<std::string> ids;
        ids.reserve(batch.size());
        for (const HistoryRecord& record : batch) {
            ids.push_back(record.RecordId);
        }
        // Should this fail, the server holds the batch already and the next push's copies of
        // it are left out there: nothing is lost or stored twice.
        if (!store.MarkPushed(ids, error)) {
            break;
        }
        outcome.Pushed += batch.size();
    }
    outcome.Error = error;
    return remaining();
}

}  // namespace tarvik
