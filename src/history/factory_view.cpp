#include "history/factory_view.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <set>

#include "history/postgres_connection.h"

namespace tarvik {
namespace {

constexpr std::int64_t MINUTE_MS = 60 * 1000;
constexpr std::int64_t DAY_MS = 24 * 60 * MINUTE_MS;

constexpr const char* SERVER_TABLES =
    "SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
    "ON n.oid = c.relnamespace WHERE n.nspname = current_schema() "
    "AND c.relname IN ('tarvik_attempts', 'tarvik_attempt_details', 'tarvik_stations', "
    "'tarvik_attempts_station_start_ms')";

// The stations' names: with the index, one step down it per station (a few lookups for the
// whole table); without it (a database only stations of earlier layouts pushed to), a scan.
constexpr const char* NAMES_INDEXED =
    "WITH RECURSIVE names(station) AS ("
    "(SELECT station FROM tarvik_attempts ORDER BY station LIMIT 1) UNION ALL "
    "SELECT (SELECT a.station FROM tarvik_attempts a WHERE a.station > n.station "
    "ORDER BY a.station LIMIT 1) FROM names n WHERE n.station IS NOT NULL) ";
constexpr const char* NAMES_SCANNED =
    "WITH RECURSIVE names(station) AS (SELECT DISTINCT station FROM tarvik_attempts) ";

constexpr const char* READ_STATIONS =
    "SELECT station, program_version, file_name, coalesce(sha256, ''), bays, first_seen_ms, "
    "last_seen_ms, stopped_ms FROM tarvik_stations";

constexpr const char* READING_SETTINGS =
    "SET LOCAL work_mem = '64MB'; SET LOCAL jit = off; SET LOCAL parallel_setup_cost = 100";

struct Layout {
    bool Attempts = false;
    bool Details = false;
    bool Stations = false;
    bool Indexed = false;
};

// The attempts that started at or after $1, with the columns named (of `a`) and a further
// condition: station by station down the index (which the server may turn into one scan where
// that costs less), or in one scan without it.
std::string Window(const Layout& layout, const std::string& columns, const std::string& also = {})
{
    const std::string where = " WHERE a.start_ms >= $1::bigint" + also;
    if (layout.Indexed) {
        return "names CROSS JOIN LATERAL (SELECT " + columns + " FROM tarvik_attempts a" + where +
               " AND a.station = names.station) a";
    }
    return "(SELECT " + columns + " FROM tarvik_attempts a" + where + ") a";
}

std::string Names(const Layout& layout)
{
    return layout.Indexed ? NAMES_INDEXED : NAMES_SCANNED;
}

// Each station known by its records: its latest record, and its attempts since $1.
std::string RecordStations(const Layout& layout)
{
    return Names(layout) +
           "SELECT n.station, l.end_ms, l.program_version, l.file_name, coalesce(l.sha256, ''), "
           "t.attempts, t.passed FROM names n CROSS JOIN LATERAL (SELECT a.end_ms, "
           "a.program_version, a.file_name, a.sha256 FROM tarvik_attempts a WHERE a.station = "
           "n.station ORDER BY a.start_ms DESC LIMIT 1) l CROSS JOIN LATERAL (SELECT count(*) AS "
           "attempts, count(*) FILTER (WHERE a.exit_status = 0) AS passed FROM tarvik_attempts a "
           "WHERE a.station = n.station AND a.start_ms >= $1::bigint) t";
}

// One pass over the attempts of the days read and their details (w, kept by the server for its
// two readers). Each device's attempts with an image, its first one's start and whether it
// failed folded into one number (twice the start, plus one for a failure: the least is the
// first, a pass before a failure of the same instant), then the yields by station, image, day
// and bay from them; beside them the failures by cause. The grouping's bits, first column
// highest: 7 by station, 13 by image, 14 by day, 3 by station and bay; 15 marks a cause.
std::string Yields(const Layout& layout)
{
    const std::string columns =
        "a.station, a.device, a.sha256, a.file_name, a.start_ms, a.exit_status, a.result";
    const std::string attempts =
        layout.Details ? Window(layout, "a.record_id, " + columns) +
                             " LEFT JOIN tarvik_attempt_details d ON d.record_id = a.record_id"
                       : Window(layout, columns);
    const std::string bay = layout.Details ? "coalesce(d.bay, '')" : "''";
    return Names(layout) + ", w AS (SELECT a.station, " + bay +
           " AS bay, a.device, coalesce(a.sha256, '') AS sha256, a.file_name, a.start_ms, "
           "a.exit_status, CASE WHEN a.exit_status <> 0 THEN a.result END AS result FROM " +
           attempts +
           "), k AS (SELECT station, bay, device, sha256, max(file_name) AS file_name, "
           "count(*) AS attempts, count(*) FILTER (WHERE exit_status <> 0) AS failures, "
           "min(start_ms * 2 + (exit_status <> 0)::int) AS first FROM w "
           "GROUP BY station, bay, device, sha256) "
           "SELECT GROUPING(station, bay, sha256, day), station, bay, sha256, "
           "to_char(to_timestamp(day * 86400) AT TIME ZONE 'UTC', 'YYYY-MM-DD'), "
           "max(file_name), sum(attempts), sum(failures), count(*), "
           "count(*) FILTER (WHERE first % 2 = 0), NULL::integer, NULL::text, NULL::bigint "
           "FROM (SELECT k.*, first / 2 / 86400000 AS day FROM k) f GROUP BY GROUPING SETS "
           "((station), (sha256), (day), (station, bay)) UNION ALL "
           "SELECT 15, NULL, NULL, NULL, NULL, NULL, count(*), NULL, NULL, NULL, exit_status, "
           "result, max(start_ms) FROM w WHERE exit_status <> 0 GROUP BY exit_status, result";
}

bool Run(PGconn* connection, const char* sql, std::string& error)
{
    const PgResult result(PQexec(connection, sql));
    if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        error = ResultError(connection, result.get());
        return false;
    }
    return true;
}

// A query with one number for $1.
PgResult Query(PGconn* connection, const std::string& sql, std::int64_t first, std::string& error)
{
    const std::string value = std::to_string(first);
    const std::array<const char*, 1> values{value.c_str()};
    const bool parameter = sql.find("$1") != std::string::npos;
    PgResult result(PQexecParams(connection, sql.c_str(), parameter ? 1 : 0, nullptr,
                                 parameter ? values.data() : nullptr, nullptr, nullptr, 0));
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        error = ResultError(connection, result.get());
        return nullptr;
    }
    return result;
}

std::string Text(const PGresult* result, int row, int column)
{
    return PQgetvalue(result, row, column);
}
std::int64_t Number(const PGresult* result, int row, int column)
{
    return std::strtoll(PQgetvalue(result, row, column), nullptr, 10);
}
std::optional<std::int64_t> OptionalNumber(const PGresult* result, int row, int column)
{
    if (PQgetisnull(result, row, column) != 0) {
        return std::nullopt;
    }
    return Number(result, row, column);
}
std::uint64_t Count(const PGresult* result, int row, int column)
{
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, Number(result, row, column)));
}

bool ReadLayout(PGconn* connection, Layout& layout, std::string& error)
{
    const PgResult tables = Query(connection, SERVER_TABLES, 0, error);
    if (!tables) {
        return false;
    }
    std::set<std::string> present;
    for (int row = 0; row < PQntuples(tables.get()); ++row) {
        present.insert(Text(tables.get(), row, 0));
    }
    layout.Attempts = present.count("tarvik_attempts") != 0;
    layout.Details = present.count("tarvik_attempt_details") != 0;
    layout.Stations = present.count("tarvik_stations") != 0;
    layout.Indexed = present.count("tarvik_attempts_station_start_ms") != 0;
    return true;
}

bool ReadStations(PGconn* connection, const Layout& layout, const FactoryViewOptions& options,
                  FactoryView& view, std::string& error)
{
    std::map<std::string, FactoryStation> stations;
    if (layout.Stations) {
        const PgResult rows = Query(connection, READ_STATIONS, 0, error);
        if (!rows) {
            return false;
        }
        for (int row = 0; row < PQntuples(rows.get()); ++row) {
            FactoryStation station;
            station.Station = Text(rows.get(), row, 0);
            station.ProgramVersion = Text(rows.get(), row, 1);
            station.FileName = Text(rows.get(), row, 2);
            station.Sha256 = Text(rows.get(), row, 3);
            station.Bays = Text(rows.get(), row, 4);
            station.Heartbeats = true;
            station.FirstSeenMs = Number(rows.get(), row, 5);
            station.LastSeenMs = Number(rows.get(), row, 6);
            station.StoppedMs = OptionalNumber(rows.get(), row, 7);
            stations[station.Station] = std::move(station);
        }
    }
    if (layout.Attempts) {
        const std::int64_t today = options.NowMs - ((options.NowMs % DAY_MS) + DAY_MS) % DAY_MS;
        const PgResult rows = Query(connection, RecordStations(layout), today, error);
        if (!rows) {
            return false;
        }
        for (int row = 0; row < PQntuples(rows.get()); ++row) {
            const std::string name = Text(rows.get(), row, 0);
            FactoryStation& station = stations[name];
            if (!station.Heartbeats) {
                station.Station = name;
                station.LastSeenMs = Number(rows.get(), row, 1);
                station.ProgramVersion = Text(rows.get(), row, 2);
                station.FileName = Text(rows.get(), row, 3);
                station.Sha256 = Text(rows.get(), row, 4);
            }
            station.AttemptsToday = Count(rows.get(), row, 5);
            station.PassedToday = Count(rows.get(), row, 6);
        }
    }
    for (auto& [name, station] : stations) {
        station.State = StateOfStation(options, station.LastSeenMs, station.StoppedMs);
        view.Stations.push_back(std::move(station));
    }
    return true;
}

FirstPassYield YieldOf(const PGresult* result, int row)
{
    return FirstPassYield{Count(result, row, 8), Count(result, row, 9)};
}

bool ReadYields(PGconn* connection, const Layout& layout, std::int64_t sinceMs, FactoryView& view,
                std::string& error)
{
    const PgResult rows = Query(connection, Yields(layout), sinceMs, error);
    if (!rows) {
        return false;
    }
    constexpr std::int64_t BY_STATION = 7;
    constexpr std::int64_t BY_IMAGE = 13;
    constexpr std::int64_t BY_DAY = 14;
    constexpr std::int64_t BY_BAY = 3;
    constexpr std::int64_t CAUSE = 15;
    std::vector<BayFailures> bays;
    const PGresult* result = rows.get();
    for (int row = 0; row < PQntuples(result); ++row) {
        switch (Number(result, row, 0)) {
        case BY_STATION:
            view.YieldByStation.push_back({Text(result, row, 1), YieldOf(result, row)});
            break;
        case BY_IMAGE:
            view.YieldByImage.push_back({Text(result, row, 3), Text(result, row, 5),
                                         YieldOf(result, row)});
            break;
        case BY_DAY:
            view.YieldByDay.push_back({Text(result, row, 4), YieldOf(result, row)});
            break;
        case BY_BAY:
            bays.push_back({Text(result, row, 1), Text(result, row, 2), Count(result, row, 6),
                            Count(result, row, 7), YieldOf(result, row)});
            break;
        case CAUSE:
            view.Failures.push_back({Number(result, row, 10), Text(result, row, 11),
                                     Count(result, row, 6), Number(result, row, 12)});
            break;
        default:
            break;
        }
    }
    std::sort(view.YieldByStation.begin(), view.YieldByStation.end(),
              [](const StationYield& a, const StationYield& b) { return a.Station < b.Station; });
    std::sort(view.YieldByImage.begin(), view.YieldByImage.end(),
              [](const ImageYield& a, const ImageYield& b) {
        return a.Yield.Devices != b.Yield.Devices ? a.Yield.Devices > b.Yield.Devices
                                                  : a.Sha256 < b.Sha256;
    });
    std::sort(view.YieldByDay.begin(), view.YieldByDay.end(),
              [](const DayYield& a, const DayYield& b) { return a.Day < b.Day; });
    std::sort(view.Failures.begin(), view.Failures.end(),
              [](const FailureCause& a, const FailureCause& b) {
        if (a.Count != b.Count) {
            return a.Count > b.Count;
        }
        return a.ExitStatus != b.ExitStatus ? a.ExitStatus < b.ExitStatus : a.Result < b.Result;
    });
    // A bay that failed nothing is none of the worst.
    bays.erase(std::remove_if(bays.begin(), bays.end(),
                              [](const BayFailures& bay) { return bay.Failures == 0; }),
               bays.end());
    std::sort(bays.begin(), bays.end(), [](const BayFailures& a, const BayFailures& b) {
        if (a.Failures != b.Failures) {
            return a.Failures > b.Failures;
        }
        if (a.Yield.Yield() != b.Yield.Yield()) {
            return a.Yield.Yield() < b.Yield.Yield();
        }
        return a.Station != b.Station ? a.Station < b.Station : a.Bay < b.Bay;
    });
    bays.resize(std::min(bays.size(), FACTORY_WORST_BAYS));
    view.WorstBays = std::move(bays);
    return true;
}

}  // namespace

const char* StationStateName(StationState state)
{
    switch (state) {
    case StationState::Live:
        return "live";
    case StationState::Quiet:
        return "quiet";
    case StationState::Offline:
        break;
    }
    return "offline";
}

StationState StateOfStation(const FactoryViewOptions& options, std::int64_t lastSeenMs,
                            std::optional<std::int64_t> stoppedMs)
{
    if (stoppedMs) {
        return StationState::Offline;
    }
    std::int64_t silent = 0;
    if (lastSeenMs < options.NowMs && __builtin_sub_overflow(options.NowMs, lastSeenMs, &silent)) {
        return StationState::Offline;  // further back than a number holds
    }
    if (silent >= static_cast<std::int64_t>(options.OfflineAfterMinutes) * MINUTE_MS) {
        return StationState::Offline;
    }
    if (silent >= static_cast<std::int64_t>(options.QuietAfterMinutes) * MINUTE_MS) {
        return StationState::Quiet;
    }
    return StationState::Live;
}

std::optional<FactoryView> ReadFactoryView(const std::string& url,
                                           const FactoryViewOptions& options, std::string& error)
{
    const PgConnection connection = ConnectToServer(url, error);
    if (!connection) {
        return std::nullopt;
    }
    PGconn* server = connection.get();
    // One snapshot for every part, and a promise to write nothing. The reading aggregates
    // a few hundred thousand rows in one go: in memory rather than in files, on the server's
    // parallel workers, and without compiling its expressions first (which costs more than it
    // saves on a query run once).
    if (!Run(server, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", error) ||
        !Run(server, READING_SETTINGS, error)) {
        return std::nullopt;
    }
    FactoryView view;
    Layout layout;
    const std::int64_t since = options.NowMs - static_cast<std::int64_t>(options.Days) * DAY_MS;
    const bool read = ReadLayout(server, layout, error) &&
                      ReadStations(server, layout, options, view, error) &&
                      (!layout.Attempts || ReadYields(server, layout, since, view, error));
    std::string ignored;
    Run(server, read ? "COMMIT" : "ROLLBACK", read ? error : ignored);
    if (!read || !error.empty()) {
        return std::nullopt;
    }
    return view;
}

}  // namespace tarvik
