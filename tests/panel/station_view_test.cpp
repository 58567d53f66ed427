// The station's panel kept from the station's events: which tile each device takes, what a
// tile says at each step, the counts and the failures with their cause.

#include <gtest/gtest.h>

#include <string>

#include "panel/station_view.h"

namespace tarvik::panel {
namespace {

class FixedClock final : public UtcClock {
public:
    std::int64_t MillisecondsSinceEpoch() override { return Now; }
    std::int64_t Now = 1'800'000'000'000;
};

Json Event(const std::string& kind, const std::string& device, const std::string& bay = {})
{
    Json event{{"schema", 1}, {"device", device}, {"event", kind}};
    if (!bay.empty()) {
        event["bay"] = bay;
    }
    return event;
}

Json Finished(const std::string& device, int status, const std::string& result,
              const std::string& bay = {})
{
    Json event = Event("finished", device, bay);
    event["result"] = result;
    event["exitStatus"] = status;
    event["elapsedMs"] = 5200;
    event["boardCode"] = "001122334455";
    return event;
}

Json Progress(const std::string& device, const std::string& phase, int done, int total)
{
    Json event = Event("progress", device);
    event["phase"] = phase;
    event["bytesDone"] = done;
    event["bytesTotal"] = total;
    return event;
}

const Json& TileOf(const Json& state, const std::string& slot)
{
    for (const Json& tile : state["tiles"]) {
        if (tile["slot"] == slot) {
            return tile;
        }
    }
    static const Json none;
    ADD_FAILURE() << "no tile " << slot;
    return none;
}

TEST(StationViewTest, OneSegmentDevicesTakeFreeSlotsAndKeepThemUntilAnotherNeedsOne)
{
    FixedClock clock;
    StationView view({"line-3", "fw.bin", "verified", "ABCD", {}, 2}, clock);
    EXPECT_EQ(TileOf(view.State(), "1")["state"], "waiting");

    view.Apply(Event("discovered", "QV000001"));  // a slot is taken when the run starts
    EXPECT_EQ(TileOf(view.State(), "1")["device"], "");
    view.Apply(Event("started", "QV000001"));
    view.Apply(Event("started", "QV000002"));
    clock.Now += 1500;
    view.Apply(Progress("QV000002", "write", 3000, 12000));
    Json state = view.State();
    EXPECT_EQ(TileOf(state, "1")["device"], "QV000001");
    EXPECT_EQ(TileOf(state, "2")["state"], "running");
    EXPECT_EQ(TileOf(state, "2")["phase"], "write");
    EXPECT_EQ(TileOf(state, "2")["percent"], 25);
    EXPECT_EQ(TileOf(state, "2")["elapsedMs"], 1500);
    EXPECT_EQ(state["counts"]["inProgress"], 2);

    // A third run while both slots run gets a slot of its own; once slot 1's device passed,
    // the next device takes slot 1 (the one that changed least recently).
    view.Apply(Event("started", "QV000003"));
    EXPECT_EQ(view.State()["tiles"].size(), 3U);
    clock.Now += 10;
    view.Apply(Finished("QV000001", 0, "Upgrade Finish"));
    clock.Now += 10;
    view.Apply(Finished("QV000003", 0, "Upgrade Finish"));
    view.Apply(Event("started", "QV000004"));
    state = view.State();
    EXPECT_EQ(TileOf(state, "1")["device"], "QV000004");
    EXPECT_EQ(TileOf(state, "3")["state"], "passed");
    EXPECT_EQ(TileOf(state, "3")["elapsedMs"], 5200);

    // A device plugged in again takes back the slot that shows it.
    view.Apply(Event("started", "QV000003"));
    EXPECT_EQ(TileOf(view.State(), "3")["state"], "running");
}

TEST(StationViewTest, BaysHaveATileEachAndAStrayEventDoesNotTakeOverARunningOne)
{
    FixedClock clock;
    StationView view({"st", "fw.bin", "not checked", "", {"left", "right"}, 8}, clock);
    Json state = view.State();
    ASSERT_EQ(state["tiles"].size(), 2U);
    EXPECT_TRUE(state["bays"].get<bool>());

    view.Apply(Event("discovered", "QV000001", "left"));
    EXPECT_EQ(TileOf(view.State(), "left")["state"], "found");
    view.Apply(Event("started", "QV000001", "left"));
    // Another device of the same bay found or skipped meanwhile leaves the run on the tile.
    view.Apply(Event("discovered", "QV000009", "left"));
    Json skipped = Event("skipped", "QV000009", "left");
    skipped["result"] = "Hardware Type Mismatch !";
    view.Apply(skipped);
    state = view.State();
    EXPECT_EQ(TileOf(state, "left")["device"], "QV000001");
    EXPECT_EQ(TileOf(state, "left")["state"], "running");
    EXPECT_EQ(state["counts"]["skipped"], 1);

    // The same address in the other bay is another device.
    view.Apply(Event("started", "QV000001", "right"));
    view.Apply(Finished("QV000001", 0, "Upgrade Finish", "right"));
    state = view.State();
    EXPECT_EQ(TileOf(state, "right")["state"], "passed");
    EXPECT_EQ(TileOf(state, "left")["state"], "running");

    // A bay the station did not list at the start still gets a tile.
    view.Apply(Event("started", "QV000005", "spare"));
    EXPECT_EQ(TileOf(view.State(), "spare")["state"], "running");
}

TEST(StationViewTest, AFailureCarriesTheCataloguesCauseAndRemedyAndTheLastTenAreListed)
{
    FixedClock clock;
    StationView view({"st", "fw.bin", "not checked", "", {}, 1}, clock);
    for (int i = 0; i < 12; ++i) {
        const std::string device = "QV0000" + std::to_string(10 + i);
        view.Apply(Event("started", device));
        clock.Now += 1000;
        view.Apply(Finished(device, 12, "Upgrade Process Error !"));
    }
    view.Apply(Event("started", "QV000099"));
    view.Apply(Finished("QV000099", 0, "Upgrade Finish"));
    const Json state = view.State();
    EXPECT_EQ(state["counts"]["failed"], 12);
    EXPECT_EQ(state["counts"]["passed"], 1);
    // The first minute counts as a whole one: one device passed, not thousands an hour.
    EXPECT_EQ(state["counts"]["perHour"], 60);
    ASSERT_EQ(state["failures"].size(), PANEL_LAST_FAILURES);
    EXPECT_EQ(state["failures"][0]["device"], "QV000021");  // newest first
    const Json entry = CatalogueEntry(12);
    EXPECT_FALSE(entry["cause"].get<std::string>().empty());
    EXPECT_EQ(state["failures"][0]["cause"], entry["cause"]);
    EXPECT_EQ(state["failures"][0]["remedy"], entry["remedy"]);
    EXPECT_EQ(CatalogueEntry(987654)["cause"], "");
}

TEST(StationViewTest, ChangesAreSignalledAndEventsOfNoUseOrOfTheWrongShapeChangeNothing)
{
    FixedClock clock;
    StationView view({"st", "fw.bin", "not checked", "", {}, 1}, clock);
    int signals = 0;
    view.OnChange([&signals] { ++signals; });
    const std::uint64_t before = view.Version();
    view.Apply(Json::array());
    view.Apply(Json{{"event", "started"}, {"device", 17}});     // a number where a name goes
    view.Apply(Progress("QV000001", "write", 1, 2));             // of no run on the panel
    view.Apply(Json{{"event", "rebooted"}, {"device", "QV1"}});  // a kind it does not know
    view.Apply(Event("started", "QV000002"));
    view.Apply(Progress("QV000002", "write", -5, 0));
    EXPECT_EQ(signals, 3);  // the nameless start, the start, the progress
    EXPECT_EQ(view.Version(), before + 3);
    const Json state = view.State();
    EXPECT_EQ(TileOf(state, "2")["device"], "QV000002");
    EXPECT_EQ(TileOf(state, "2")["bytesDone"], 0);
    EXPECT_EQ(TileOf(state, "2")["percent"], 0);
    view.OnChange(nullptr);
    view.Apply(Finished("QV000002", 0, "Upgrade Finish"));
    EXPECT_EQ(signals, 3);
}

}  // namespace
}  // namespace tarvik::panel
