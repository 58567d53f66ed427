#pragma once
// What a station's panel shows, kept from the station's own events (the objects --events
// writes, handed over as they are written): a tile per bay, or per job slot when the station
// serves one segment; the counts; the last failures with the catalogue's cause and remedy.
// Updating it is a few assignments under a lock, so the runs that write events never wait on
// the panel; everything else (the JSON, the HTTP) happens on the panel's own threads.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "panel/panel_server.h"
#include "platform/files/append_file.h"

namespace tarvik::panel {

// How many failures the panel lists, newest first.
inline constexpr std::size_t PANEL_LAST_FAILURES = 10;

struct StationViewSetup {
    std::string Station;            // the station's name
    std::string Image;              // the image's file name
    std::string Signature;          // its signature's state ("verified", "not checked", ...)
    std::string SignerKeyId;        // empty when none was read
    std::vector<std::string> Bays;  // a tile each; empty for a tile per job slot
    std::size_t Slots = 1;
};

// Draws a chart ("yield", "endings") of the station's image from its history, in a language.
using ChartMaker =
    std::function<std::optional<std::string>(std::string_view name, std::string_view language)>;

class StationView final : public PanelSource {
public:
    // charts: null when the station keeps no history.
    StationView(StationViewSetup setup, UtcClock& clock, ChartMaker charts = nullptr);

    // One event as --events writes it. Thread-safe; calls the change callback afterwards.
    void Apply(const Json& event);

    // Everything the page shows, as of now.
    Json State() override;
    // Grows by one with every change.
    std::uint64_t Version() override;
    // Called after every change, on the thread that made it: must only signal.
    void OnChange(std::function<void()> changed) override;
    std::optional<std::string> Chart(std::string_view name, std::string_view language) override;

private:
    enum class TileState { Waiting, Found, Running, Passed, Failed, Skipped };
    struct Tile {
        std::string Slot = {};  // the bay's name, or the slot's number
        std::string Device = {};
        TileState State = TileState::Waiting;
        std::string Phase = {};
        std::uint64_t BytesDone = 0;
        std::uint64_t BytesTotal = 0;
        std::string Result = {};
        std::int64_t ExitStatus = 0;
        std::string BoardCode = {};
        std::int64_t StartedMs = 0;
        std::int64_t ElapsedMs = 0;  // when it ended
        std::int64_t ChangedMs = 0;
        bool Used = false;
    };
    struct Failure {
        std::int64_t TimeMs = 0;
        std::string Device = {};
        std::string Bay = {};
        std::string Result = {};
        std::int64_t ExitStatus = 0;
    };

    Tile& TileFor(const std::string& device, const std::string& bay, bool takeOne);
    Json TileJson(const Tile& tile, std::int64_t now) const;

    const StationViewSetup setup_;
    UtcClock& clock_;
    const ChartMaker charts_;
    const std::int64_t startMs_;
    std::function<void()> changed_;
    std::mutex lock_;
    std::vector<Tile> tiles_;
    std::deque<Failure> failures_;
    std::uint64_t passed_ = 0;
    std::uint64_t failed_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t version_ = 1;
};

// The catalogue's entry for an exit status, for a failure's tile: {"cause", "remedy"}, both
// empty for a status the catalogue does not know.
Json CatalogueEntry(std::int64_t exitStatus);

}  // namespace tarvik::panel
