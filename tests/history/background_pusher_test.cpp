// The pusher behind a station: woken by each record, it pushes on its own thread, retries a
// failed push after a pause that doubles, says the station is alive at least every heartbeat
// interval, never holds up the caller, and stops when destroyed, after a last push that says
// so. Its thread's tests are ordered by state (a push counted, a latch released), never by
// sleeping; its timing is tested on its loop in simulated time.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "history/background_pusher.h"
#include "platform/host/machine.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik {
namespace {

TEST(PushBackOffTest, ThePauseDoublesAfterEachFailureUpToItsCeiling)
{
    const PushBackOff backOff{1000, 60000};
    struct Row {
        std::uint32_t Failures;
        std::uint32_t PauseMs;
    };
    for (const Row& row : {Row{1, 1000}, Row{2, 2000}, Row{3, 4000}, Row{6, 32000}, Row{7, 60000},
                           Row{40, 60000}, Row{0xFFFFFFFF, 60000}}) {
        EXPECT_EQ(PushPauseMs(backOff, row.Failures), row.PauseMs) << row.Failures;
    }
}

// A push function the test steers: it counts its calls, answers as told, and can be held.
class SteeredPush {
public:
    bool operator()(bool stopping)
    {
        std::unique_lock lock(mutex_);
        ++calls_;
        stopping_ = stopping_ || stopping;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        return succeed_;
    }

    void WaitForCalls(int calls)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return calls_ >= calls; });
    }
    int Calls()
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    bool SawStopping()
    {
        std::lock_guard lock(mutex_);
        return stopping_;
    }
    void Set(bool succeed, bool held)
    {
        std::lock_guard lock(mutex_);
        succeed_ = succeed;
        held_ = held;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
    bool succeed_ = true;
    bool held_ = false;
    bool stopping_ = false;
};

TEST(BackgroundPusherTest, PushesAtTheStartAndOnEachWakeThenOnceMoreAsItStops)
{
    const std::unique_ptr<Kernel> real = OpenRealTimeKernel();
    Kernel& kernel = *real;
    SteeredPush push;
    {
        BackgroundPusher pusher(kernel, [&](bool stopping) { return push(stopping); });
        push.WaitForCalls(1);  // what an earlier run left queued
        pusher.Wake();
        push.WaitForCalls(2);
        pusher.Wake();
        push.WaitForCalls(3);
        EXPECT_EQ(pusher.FailuresInARow(), 0u);
        EXPECT_FALSE(push.SawStopping());
    }
    EXPECT_EQ(push.Calls(), 4) << "the heartbeat's minute had not come: the stop's push alone";
    EXPECT_TRUE(push.SawStopping());
}

TEST(BackgroundPusherTest, AFailedPushIsTriedAgainWithoutAWake)
{
    const std::unique_ptr<Kernel> real = OpenRealTimeKernel();
    Kernel& kernel = *real;
    SteeredPush push;
    push.Set(false, false);
    BackgroundPusher pusher(
        kernel, [&](bool stopping) { return push(stopping); }, PushTiming{{1, 4}});
    push.WaitForCalls(5);
    EXPECT_GE(pusher.FailuresInARow(), 4u);
    push.Set(true, false);
    push.WaitForCalls(push.Calls() + 1);
}

// The station's thread wakes the pusher while a push hangs on a dead server: Wake returns at
// once, and the destructor ends the thread after that push.
TEST(BackgroundPusherTest, WakeNeverWaitsForAPushInProgressAndTheStopJoinsTheThread)
{
    const std::unique_ptr<Kernel> real = OpenRealTimeKernel();
    Kernel& kernel = *real;
    SteeredPush push;
    push.Set(true, true);
    auto pusher =
        std::make_unique<BackgroundPusher>(kernel, [&](bool stopping) { return push(stopping); });
    push.WaitForCalls(1);
    for (int i = 0; i < 100; ++i) {
        pusher->Wake();
    }
    std::thread stopper([&] { pusher.reset(); });
    push.Set(true, false);
    stopper.join();
    EXPECT_LE(push.Calls(), 3) << "the wakes of one busy push make one more push at most, "
                                  "then the stop's";
}

// The loop on the test's thread in simulated time: scheduled actions wake and stop it, and the
// pushes it makes are noted with their times.
class PushLoopTest : public ::testing::Test {
protected:
    struct Push {
        std::uint64_t AtMs;
        bool Stopping;
        bool operator==(const Push&) const = default;
        friend void PrintTo(const Push& push, std::ostream* out)
        {
            *out << push.AtMs << (push.Stopping ? " ms, stopping" : " ms");
        }
    };

    void At(std::uint32_t ms, EventHandle event)
    {
        kernel_.Schedule(ms, [this, event] { kernel_.SetEvent(event); });
    }
    std::vector<Push> Run(const PushTiming& timing, bool succeed)
    {
        std::vector<Push> pushes;
        RunPushLoop(
            kernel_, stop_, wake_,
            [&](bool stopping) {
            pushes.push_back({kernel_.Now(), stopping});
            return succeed;
            },
            timing, counters_);
        return pushes;
    }

    SimKernel kernel_;
    const EventHandle stop_ = kernel_.CreateEvent();
    const EventHandle wake_ = kernel_.CreateEvent();
    PushCounters counters_;
};

TEST_F(PushLoopTest, WithNothingToPushItStillPushesEveryHeartbeatCountedFromTheLastPush)
{
    At(90000, wake_);
    At(200000, stop_);
    const std::vector<Push> pushes = Run(PushTiming{{1000, 60000}, 60000}, true);
    // The wake at 90 s starts the interval again: the next heartbeat is at 150 s, not 180 s.
    const std::vector<Push> expected{
        {0, false}, {60000, false}, {90000, false}, {150000, false}, {200000, true}};
    EXPECT_EQ(pushes, expected);
    EXPECT_EQ(counters_.Tries, 5u);
}

TEST_F(PushLoopTest, FailedPushesBackOffButNeverWaitLongerThanTheHeartbeat)
{
    At(20000, stop_);
    const std::vector<Push> pushes = Run(PushTiming{{1000, 60000}, 5000}, false);
    // Pauses of 1, 2 and 4 s; then the doubling passes the heartbeat's 5 s, which holds it.
    const std::vector<Push> expected{{0, false},     {1000, false},  {3000, false}, {7000, false},
                                     {12000, false}, {17000, false}, {20000, true}};
    EXPECT_EQ(pushes, expected);
    EXPECT_EQ(counters_.FailuresInARow, 6u) << "the stop's push is tried once, not counted as one";
}

TEST_F(PushLoopTest, AStopThatComesWithAWakeEndsWithOneLastPush)
{
    kernel_.Schedule(30000, [this] {
        kernel_.SetEvent(wake_);
        kernel_.SetEvent(stop_);
    });
    const std::vector<Push> pushes = Run(PushTiming{}, true);
    const std::vector<Push> expected{{0, false}, {30000, true}};
    EXPECT_EQ(pushes, expected);
}

TEST_F(PushLoopTest, AWaitThatFailsEndsTheLoopWithoutALastPush)
{
    kernel_.Schedule(45000, [this] { kernel_.CloseHandle(wake_); });
    const std::vector<Push> pushes = Run(PushTiming{}, true);
    const std::vector<Push> expected{{0, false}};
    EXPECT_EQ(pushes, expected);
}

}  // namespace
}  // namespace tarvik
