#include "panel/station_view.h"

#include <algorithm>
#include <limits>

#include "commands/failure_catalogue.h"

namespace tarvik::panel {
namespace {

std::string Text(const Json& event, const char* key)
{
    const auto found = event.find(key);
    return found != event.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::int64_t Number(const Json& event, const char* key)
{
    const auto found = event.find(key);
    return found != event.end() && found->is_number() ? found->get<std::int64_t>() : 0;
}

const char* StateName(int state)
{
    static constexpr const char* NAMES[] = {"waiting", "found",  "running",
                                            "passed",  "failed", "skipped"};
    return NAMES[state];
}

}  // namespace

Json CatalogueEntry(std::int64_t exitStatus)
{
    const std::vector<ExplainedStatus> rows = ExplainTopic(std::to_string(exitStatus));
    if (rows.empty() || exitStatus < std::numeric_limits<int>::min() ||
        exitStatus > std::numeric_limits<int>::max()) {
        return Json{{"cause", ""}, {"remedy", ""}};
    }
    return Json{{"cause", std::string(rows.front().Causes)},
                {"remedy", std::string(rows.front().Remedy)}};
}

StationView::StationView(StationViewSetup setup, UtcClock& clock, ChartMaker charts)
    : setup_(std::move(setup)),
      clock_(clock),
      charts_(std::move(charts)),
      startMs_(clock.MillisecondsSinceEpoch())
{
    if (setup_.Bays.empty()) {
        for (std::size_t i = 0; i < std::max<std::size_t>(setup_.Slots, 1); ++i) {
            tiles_.push_back(Tile{std::to_string(i + 1)});
        }
    } else {
        for (const std::string& bay : setup_.Bays) {
            tiles_.push_back(Tile{bay});
        }
    }
}

void StationView::OnChange(std::function<void()> changed)
{
    std::lock_guard lock(lock_);
    changed_ = std::move(changed);
}

StationView::Tile& StationView::TileFor(const std::string& device, const std::string& bay,
                                        bool takeOne)
{
    if (!setup_.Bays.empty() || !bay.empty()) {
        const auto found = std::find_if(tiles_.begin(), tiles_.end(),
                                        [&bay](const Tile& tile) { return tile.Slot == bay; });
        if (found != tiles_.end()) {
            return *found;
        }
        tiles_.push_back(Tile{bay});
        return tiles_.back();
    }
    // A slot keeps its device until another needs it: the device's own slot if it shows it,
    // else one never used, else the one that changed least recently and is not running.
    const auto own = std::find_if(tiles_.begin(), tiles_.end(),
                                  [&device](const Tile& tile) { return tile.Device == device; });
    if (own != tiles_.end() || !takeOne) {
        return own != tiles_.end() ? *own : tiles_.front();
    }
    Tile* best = nullptr;
    for (Tile& tile : tiles_) {
        if (tile.State == TileState::Running) {
            continue;
        }
        if (best == nullptr || (!tile.Used && best->Used) ||
            (tile.Used == best->Used && tile.ChangedMs < best->ChangedMs)) {
            best = &tile;
        }
    }
    if (best == nullptr) {  // more runs than slots: a slot of its own
        tiles_.push_back(Tile{std::to_string(tiles_.size() + 1)});
        best = &tiles_.back();
    }
    return *best;
}

void StationView::Apply(const Json& event)
{
    if (!event.is_object()) {
        return;
    }
    const std::string kind = Text(event, "event");
    const std::string device = Text(event, "device");
    const std::string bay = Text(event, "bay");
    const std::int64_t now = clock_.MillisecondsSinceEpoch();
    std::function<void()> changed;
    {
        std::lock_guard lock(lock_);
        const bool takes = kind == "started" || kind == "skipped" || kind == "discovered";
        const bool known = !setup_.Bays.empty() || !bay.empty() ||
                           std::any_of(tiles_.begin(), tiles_.end(),
                                       [&device](const Tile& t) { return t.Device == device; });
        if (!takes && !known) {
            return;
        }
        if (kind == "discovered" && setup_.Bays.empty() && bay.empty()) {
            return;  // one segment: a slot is taken when the device's run starts
        }
        Tile& tile = TileFor(device, bay, takes);
        if (kind == "discovered") {
            if (tile.State == TileState::Running) {
                return;
            }
            tile = Tile{tile.Slot, device, TileState::Found};
        } else if (kind == "started") {
            tile = Tile{tile.Slot, device, TileState::Running};
            tile.Phase = "erase";
            tile.StartedMs = now;
        } else if (kind == "progress") {
            if (tile.Device != device || tile.State != TileState::Running) {
                return;
            }
            tile.Phase = Text(event, "phase");
            tile.BytesDone = static_cast<std::uint64_t>(std::max<std::int64_t>(Number(event, "bytesDone"), 0));
            tile.BytesTotal = static_cast<std::uint64_t>(std::max<std::int64_t>(Number(event, "bytesTotal"), 0));
        } else if (kind == "finished" || kind == "skipped") {
            const bool skipped = kind == "skipped";
            const std::int64_t status = Number(event, "exitStatus");
            if (skipped) {
                ++skipped_;
                if (tile.State == TileState::Running && tile.Device != device) {
                    return;  // a bay's tile stays with the run under way
                }
            } else if (status == 0) {
                ++passed_;
            } else {
                ++failed_;
                failures_.push_front(Failure{now, device, bay, Text(event, "result"), status});
                if (failures_.size() > PANEL_LAST_FAILURES) {
                    failures_.pop_back();
                }
            }
            if (!skipped && tile.Device != device && tile.State == TileState::Running) {
                return;  // the tile went on to another run
            }
            const std::int64_t started = tile.Device == device ? tile.StartedMs : now;
            tile.Device = device;
            tile.State = skipped ? TileState::Skipped
                         : status == 0 ? TileState::Passed
                                       : TileState::Failed;
            tile.Result = Text(event, "result");
            tile.ExitStatus = status;
            tile.StartedMs = started;
            tile.ElapsedMs = skipped ? 0 : Number(event, "elapsedMs");
            if (tile.State == TileState::Passed) {
                tile.Phase = "done";
                tile.BytesDone = tile.BytesTotal;
            }
        } else {
            return;
        }
        if (const std::string board = Text(event, "boardCode"); !board.empty()) {
            tile.BoardCode = board;
        }
        tile.ChangedMs = now;
        tile.Used = true;
        ++version_;
        changed = changed_;
    }
    if (changed) {
        changed();
    }
}

std::uint64_t StationView::Version()
{
    std::lock_guard lock(lock_);
    return version_;
}

Json StationView::TileJson(const Tile& tile, std::int64_t now) const
{
    Json json{{"slot", tile.Slot},
              {"device", tile.Device},
              {"state", StateName(static_cast<int>(tile.State))},
              {"phase", tile.Phase},
              {"bytesDone", tile.BytesDone},
              {"bytesTotal", tile.BytesTotal},
              {"percent", tile.BytesTotal == 0 ? 0 : tile.BytesDone * 100 / tile.BytesTotal},
              {"boardCode", tile.BoardCode},
              {"elapsedMs", tile.State == TileState::Running ? now - tile.StartedMs
                                                             : tile.ElapsedMs}};
    if (tile.State == TileState::Passed || tile.State == TileState::Failed ||
        tile.State == TileState::Skipped) {
        json["result"] = tile.Result;
        json["exitStatus"] = tile.ExitStatus;
    }
    if (tile.State == TileState::Failed) {
        json.update(CatalogueEntry(tile.ExitStatus));
    }
    return json;
}

std::optional<std::string> StationView::Chart(std::string_view name, std::string_view language)
{
    return charts_ ? charts_(name, language) : std::nullopt;
}

Json StationView::State()
{
    const std::int64_t now = clock_.MillisecondsSinceEpoch();
    // A copy under the lock, the JSON made outside it: the runs that write events wait for a
    // copy of a few tiles at most, never for the page's text.
    std::vector<Tile> tiles;
    std::deque<Failure> failures;
    std::uint64_t version = 0;
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    std::uint64_t skipped = 0;
    {
        std::lock_guard lock(lock_);
        tiles = tiles_;
        failures = failures_;
        version = version_;
        passed = passed_;
        failed = failed_;
        skipped = skipped_;
    }
    Json tileJson = Json::array();
    std::uint64_t running = 0;
    for (const Tile& tile : tiles) {
        tileJson.push_back(TileJson(tile, now));
        running += tile.State == TileState::Running ? 1 : 0;
    }
    Json failureJson = Json::array();
    for (const Failure& failure : failures) {
        Json entry{{"timeMs", failure.TimeMs},
                   {"device", failure.Device},
                   {"bay", failure.Bay},
                   {"result", failure.Result},
                   {"exitStatus", failure.ExitStatus}};
        entry.update(CatalogueEntry(failure.ExitStatus));
        failureJson.push_back(std::move(entry));
    }
    // Devices an hour since the station started; the first minute counts as a whole one, so
    // that the first device does not read as thousands an hour.
    const std::int64_t elapsed = std::max<std::int64_t>(now - startMs_, 60'000);
    const double perHour = static_cast<double>(passed) * 3'600'000.0 / static_cast<double>(elapsed);
    return Json{{"kind", "station"},
                {"version", version},
                {"startedMs", startMs_},
                {"nowMs", now},
                {"station", setup_.Station},
                {"image", setup_.Image},
                {"signature", setup_.Signature},
                {"signerKeyId", setup_.SignerKeyId},
                {"bays", !setup_.Bays.empty()},
                {"charts", static_cast<bool>(charts_)},
                {"counts",
                 {{"passed", passed},
                  {"failed", failed},
                  {"skipped", skipped},
                  {"inProgress", running},
                  {"perHour", static_cast<std::int64_t>(perHour + 0.5)}}},
                {"tiles", std::move(tileJson)},
                {"failures", std::move(failureJson)}};
}

}  // namespace tarvik::panel
