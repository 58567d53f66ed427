#pragma once
// What a running station says of itself with each push to the shared database: who it is, what
// it loads, where, and when it was last heard of. One row per station on the server
// (tarvik_stations), written over by each heartbeat. Plain data, built on every system.

#include <cstdint>
#include <string>

namespace tarvik {

struct StationHeartbeat {
    std::string Station;         // the records' station name: the row's key
    std::string ProgramVersion;  // the loader's release
    std::string FileName;        // the image as the records name it
    std::string Sha256;          // its digest, lower-case hex; empty when it could not be read
    std::string Bays;            // the bays' names, "bay1,bay2"; empty without bays
    std::int64_t NowMs = 0;      // when it is said, UTC milliseconds since the epoch
    bool Stopped = false;        // the station is ending: its last word
};

}  // namespace tarvik
