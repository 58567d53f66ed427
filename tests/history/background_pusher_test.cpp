// The pusher behind a station: woken by each record, it pushes on its own thread, retries a
// failed push after a pause that doubles, never holds up the caller, and stops when destroyed.
// Ordered by state (a push counted, a latch released), never by sleeping.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "history/background_pusher.h"
#include "platform/host/machine.h"

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
    bool operator()()
    {
        std::unique_lock lock(mutex_);
        ++calls_;
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
};

TEST(BackgroundPusherTest, PushesAtTheStartAndOnEachWakeThenRests)
{
    const std::unique_ptr<Kernel> real = OpenRealTimeKernel();
    Kernel& kernel = *real;
    SteeredPush push;
    {
        BackgroundPusher pusher(kernel, [&] { return push(); });
        push.WaitForCalls(1);  // what an earlier run left queued
        pusher.Wake();
        push.WaitForCalls(2);
        pusher.Wake();
        push.WaitForCalls(3);
        EXPECT_EQ(pusher.FailuresInARow(), 0u);
    }
    EXPECT_EQ(push.Calls(), 3) << "with everything pushed it waits for a wake, not a timer";
}

TEST(BackgroundPusherTest, AFailedPushIsTriedAgainWithoutAWake)
{
    const std::unique_ptr<Kernel> real = OpenRealTimeKernel();
    Kernel& kernel = *real;
    SteeredPush push;
    push.Set(false, false);
    BackgroundPusher pusher(
        kernel, [&] { return push(); }, PushBackOff{1, 4});
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
    auto pusher = std::make_unique<BackgroundPusher>(kernel, [&] { return push(); });
    push.WaitForCalls(1);
    for (int i = 0; i < 100; ++i) {
        pusher->Wake();
    }
    std::thread stopper([&] { pusher.reset(); });
    push.Set(true, false);
    stopper.join();
    EXPECT_LE(push.Calls(), 2) << "the wakes of one busy push make one more push at most";
}

}  // namespace
}  // namespace tarvik
