// The factory view's rule for a station's state, at the edges of its two spans; the reading
// itself is tested against a real server (postgres_factory_test.sh).

#include <gtest/gtest.h>

#include "history/factory_view.h"

namespace tarvik {
namespace {

constexpr std::int64_t MINUTE = 60000;
constexpr std::int64_t NOW = 1765000000000;

TEST(StationStateTest, LiveUntilQuietAfterThenQuietUntilOfflineAfter)
{
    const FactoryViewOptions options{NOW, 5, 60, 7};
    struct Row {
        std::int64_t SilentMs;
        StationState State;
    };
    for (const Row& row :
         {Row{0, StationState::Live}, Row{5 * MINUTE - 1, StationState::Live},
          Row{5 * MINUTE, StationState::Quiet}, Row{60 * MINUTE - 1, StationState::Quiet},
          Row{60 * MINUTE, StationState::Offline}, Row{NOW, StationState::Offline}}) {
        EXPECT_EQ(StateOfStation(options, NOW - row.SilentMs, std::nullopt), row.State)
            << row.SilentMs;
    }
}

TEST(StationStateTest, AStationThatSaidItStoppedIsOfflineHoweverRecently)
{
    const FactoryViewOptions options{NOW, 5, 60, 7};
    EXPECT_EQ(StateOfStation(options, NOW, NOW), StationState::Offline);
    EXPECT_EQ(StateOfStation(options, NOW + MINUTE, NOW + MINUTE), StationState::Offline);
}

TEST(StationStateTest, AClockAheadOfTheReadersCountsAsNowNotAsLongAgo)
{
    const FactoryViewOptions options{NOW, 5, 60, 7};
    EXPECT_EQ(StateOfStation(options, NOW + 24 * 60 * MINUTE, std::nullopt), StationState::Live);
    // Far ahead or far back, where a subtraction would overflow.
    EXPECT_EQ(StateOfStation(options, INT64_MIN, std::nullopt), StationState::Offline);
    EXPECT_EQ(StateOfStation(options, INT64_MAX, std::nullopt), StationState::Live);
    const FactoryViewOptions early{INT64_MIN + 1, 5, 60, 7};
    EXPECT_EQ(StateOfStation(early, INT64_MAX, std::nullopt), StationState::Live);
}

TEST(StationStateTest, AnOfflineSpanShorterThanTheQuietOneLeavesNoQuiet)
{
    const FactoryViewOptions options{NOW, 30, 10, 7};
    EXPECT_EQ(StateOfStation(options, NOW - 9 * MINUTE, std::nullopt), StationState::Live);
    EXPECT_EQ(StateOfStation(options, NOW - 10 * MINUTE, std::nullopt), StationState::Offline);
}

TEST(StationStateTest, NamesAndTheYieldOfNoDevices)
{
    EXPECT_STREQ(StationStateName(StationState::Live), "live");
    EXPECT_STREQ(StationStateName(StationState::Quiet), "quiet");
    EXPECT_STREQ(StationStateName(StationState::Offline), "offline");
    EXPECT_EQ(FirstPassYield{}.Yield(), 0.0);
    EXPECT_EQ((FirstPassYield{4, 3}.Yield()), 0.75);
}

}  // namespace
}  // namespace tarvik
