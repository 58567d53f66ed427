#pragma once
// Many stations, one database: the records of a station's history copied into one PostgreSQL
// table (created when missing, the history's columns), beside a small table that holds its
// layout. A station whose records the layout found does not take (a column missing, or a
// layout that needs a later station) pushes nothing and says why. A record pushed twice is stored
// once (its id is the table's key), and a record is marked pushed in the history only after the
// server committed it, so a push cut short by the server or the network is taken up where it
// stopped by the next one.
//
// Credentials come from the URL, libpq's environment (PGPASSWORD, PGSERVICE, ...) and its
// password file (~/.pgpass or PGPASSFILE): the program has no option of its own for them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "history/history_store.h"
#include "history/station_heartbeat.h"

namespace tarvik {

// The shared table's name.
inline constexpr const char* PUSH_TABLE = "tarvik_attempts";
// Records per transaction: large enough that a batch costs little beyond its rows, small
// enough that one cut short costs little to send again.
inline constexpr std::size_t PUSH_BATCH_RECORDS = 5000;

struct PushOutcome {
    std::uint64_t Pushed = 0;     // committed by the server and marked in the history
    std::uint64_t Remaining = 0;  // still queued in the history
    std::string Error;            // empty when everything went
};

// The table of the stations' heartbeats, one row each.
inline constexpr const char* STATIONS_TABLE = "tarvik_stations";

// Pushes every record not yet pushed, batch by batch, each batch one transaction. With a
// heartbeat, the station's row is written first (in a transaction of its own), also when no
// record is queued: a station whose records cannot go is still seen alive. A heartbeat that
// the server refuses (a role without its grant) does not hold the records back; its error is
// said once they went.
PushOutcome PushHistory(HistoryStore& store, const std::string& url,
                        std::size_t batchRecords = PUSH_BATCH_RECORDS,
                        const StationHeartbeat* heartbeat = nullptr);

}  // namespace tarvik
