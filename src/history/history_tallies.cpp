#include "history/history_tallies.h"

#include <sqlite3.h>

#include "history/history_columns.h"
#include "history/history_store.h"

namespace tarvik {
namespace {

constexpr std::int64_t HOUR_MS = 3'600'000;

SqliteStatement Prepare(sqlite3* database, const std::string& sql, std::string& error)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, sql.c_str(), static_cast<int>(sql.size()), &statement,
                           nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(database);
        return nullptr;
    }
    return SqliteStatement(statement);
}

std::string TextAt(sqlite3_stmt* statement, int index)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return text != nullptr
               ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index)))
               : std::string();
}

// A column of the file's layout, or NULL where the file is older than the column.
std::string ColumnOr(const HistoryStore& store, std::string_view name)
{
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (name == column.Name) {
            return column.SinceLayout <= store.Layout() ? column.Name : "NULL";
        }
    }
    return "NULL";
}

// The scope's attempts as a common table `scoped`, its values bound as ?1 to ?4 (an absent
// bound or station is NULL, which admits all).
std::string ScopedAttempts(const HistoryStore& store)
{
    return "WITH scoped AS (SELECT rowid AS id, coalesce(" + ColumnOr(store, "bay") +
           ", '') AS bay, device, start_ms, exit_status, result, file_name FROM attempts "
           "WHERE sha256 = ?1 AND (?2 IS NULL OR start_ms >= ?2) AND "
           "(?3 IS NULL OR start_ms < ?3) AND (?4 IS NULL OR station = ?4)) ";
}

void BindScope(sqlite3_stmt* statement, const TallyScope& scope)
{
    sqlite3_bind_text(statement, 1, scope.Sha256.data(), static_cast<int>(scope.Sha256.size()),
                      SQLITE_TRANSIENT);
    if (scope.SinceMs) {
        sqlite3_bind_int64(statement, 2, *scope.SinceMs);
    }
    if (scope.UntilMs) {
        sqlite3_bind_int64(statement, 3, *scope.UntilMs);
    }
    if (!scope.Station.empty()) {
        sqlite3_bind_text(statement, 4, scope.Station.data(),
                          static_cast<int>(scope.Station.size()), SQLITE_TRANSIENT);
    }
}

// Steps through every row, handing each to read; false with the reason when a step failed.
template <typename Read>
bool EachRow(sqlite3* database, sqlite3_stmt* statement, std::string& error, Read read)
{
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        read(statement);
    }
    if (result != SQLITE_DONE) {
        error = sqlite3_errmsg(database);
        return false;
    }
    return true;
}

}  // namespace

std::optional<ImageTallies> TallyImage(HistoryStore& store, const TallyScope& scope,
                                       std::string& error)
{
    sqlite3* database = store.Connection();
    const std::string scoped = ScopedAttempts(store);
    // The hour is floored for times before 1970 too (SQLite's % keeps the dividend's sign).
    const std::string hour = "(start_ms - ((start_ms % " + std::to_string(HOUR_MS) + ") + " +
                             std::to_string(HOUR_MS) + ") % " + std::to_string(HOUR_MS) + ")";
    SqliteStatement hours = Prepare(
        database,
        scoped +
            ", firsts AS (SELECT start_ms, exit_status, row_number() OVER (PARTITION BY bay, "
            "device ORDER BY start_ms, id) AS nth FROM scoped) SELECT " +
            hour +
            " AS hour, count(*), sum(exit_status = 0) FROM firsts WHERE nth = 1 GROUP BY hour "
            "ORDER BY hour",
        error);
    // Each status's count, and the result of the newest attempt that ended with it.
    SqliteStatement endings = Prepare(
        database,
        scoped + "SELECT exit_status, n, result FROM (SELECT exit_status, result, count(*) OVER "
                 "(PARTITION BY exit_status) AS n, row_number() OVER (PARTITION BY exit_status "
                 "ORDER BY start_ms DESC, id DESC) AS nth FROM scoped) WHERE nth = 1 ORDER BY "
                 "exit_status",
        error);
    SqliteStatement name =
        Prepare(database,
                scoped + "SELECT file_name FROM scoped ORDER BY start_ms DESC, id DESC LIMIT 1",
                error);
    if (!hours || !endings || !name) {
        return std::nullopt;
    }
    ImageTallies tallies;
    BindScope(hours.get(), scope);
    BindScope(endings.get(), scope);
    BindScope(name.get(), scope);
    const bool read = EachRow(
                          database, hours.get(), error,
                          [&](sqlite3_stmt* row) {
        tallies.Hours.push_back({sqlite3_column_int64(row, 0),
                                 static_cast<std::uint64_t>(sqlite3_column_int64(row, 1)),
                                 static_cast<std::uint64_t>(sqlite3_column_int64(row, 2))});
                          }) &&
        EachRow(
            database, endings.get(), error,
            [&](sqlite3_stmt* row) {
        tallies.Endings.push_back({sqlite3_column_int64(row, 0),
                                   static_cast<std::uint64_t>(sqlite3_column_int64(row, 1)),
                                   TextAt(row, 2)});
            }) &&
        EachRow(database, name.get(), error,
                [&](sqlite3_stmt* row) { tallies.FileName = TextAt(row, 0); });
    if (!read) {
        return std::nullopt;
    }
    return tallies;
}

std::optional<NewestImage> FindNewestImage(HistoryStore& store, const std::string& station,
                                           std::string& error)
{
    sqlite3* database = store.Connection();
    SqliteStatement newest =
        Prepare(database,
                "SELECT sha256, file_name FROM attempts WHERE sha256 IS NOT NULL AND "
                "(?1 IS NULL OR station = ?1) ORDER BY start_ms DESC, rowid DESC LIMIT 1",
                error);
    if (!newest) {
        return std::nullopt;
    }
    if (!station.empty()) {
        sqlite3_bind_text(newest.get(), 1, station.data(), static_cast<int>(station.size()),
                          SQLITE_TRANSIENT);
    }
    std::optional<NewestImage> image;
    if (!EachRow(database, newest.get(), error, [&](sqlite3_stmt* row) {
            image = NewestImage{TextAt(row, 0), TextAt(row, 1)};
        })) {
        return std::nullopt;
    }
    return image;
}

}  // namespace tarvik
