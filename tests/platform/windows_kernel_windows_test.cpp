#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/windows_kernel.h"

namespace tarvik {
namespace {

// The kernel on Win32 objects, in real time: ordering and wake-ups are checked, a duration
// only as a lower bound, and threads are ordered by events, never by sleeping.
class WindowsKernelTest : public ::testing::Test {
protected:
    std::vector<EventHandle> Events(std::size_t count)
    {
        std::vector<EventHandle> events(count);
        for (EventHandle& event : events) {
            event = kernel.CreateEvent();
            EXPECT_NE(event, NO_EVENT);
        }
        return events;
    }
    // Waits for one event for as long as a test may run.
    std::uint32_t Await(EventHandle event)
    {
        return kernel.WaitForAny(std::span(&event, 1), 60000);
    }

    WindowsKernel kernel;
};

TEST_F(WindowsKernelTest, TheLowestSignalledEventWinsAndOnlyItIsReset)
{
    const std::vector<EventHandle> events = Events(MAXIMUM_WAIT_OBJECTS);
    kernel.SetEvent(events[63]);
    kernel.SetEvent(events[5]);
    kernel.SetEvent(events[2]);
    EXPECT_EQ(kernel.WaitForAny(events, 0), 2u);
    EXPECT_EQ(kernel.WaitForAny(events, 0), 5u);
    EXPECT_EQ(kernel.WaitForAny(events, 0), 63u);
    EXPECT_EQ(kernel.WaitForAny(events, 0), WAIT_TIMEOUT);
}

// Auto-reset: one wait takes a signal, however often it was set; a reset takes it back.
TEST_F(WindowsKernelTest, ASignalServesOneWaitAndResetClearsIt)
{
    const std::vector<EventHandle> events = Events(1);
    EXPECT_TRUE(kernel.SetEvent(events[0]));
    EXPECT_TRUE(kernel.SetEvent(events[0]));
    EXPECT_EQ(kernel.WaitForAny(events, 0), 0u);
    EXPECT_EQ(kernel.WaitForAny(events, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(kernel.SetEvent(events[0]));
    EXPECT_TRUE(kernel.ResetEvent(events[0]));
    EXPECT_EQ(kernel.WaitForAny(events, 0), WAIT_TIMEOUT);
}

// Windows counts these in timer interrupts (1 ms apart while the kernel exists), so they may
// end up to one before the clock read beside them says.
TEST_F(WindowsKernelTest, ATimedOutWaitAndASleepLastTheirWholeTime)
{
    constexpr auto TICK = std::chrono::milliseconds(1);
    const std::vector<EventHandle> events = Events(2);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kernel.WaitForAny(events, 30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30) - TICK);
    start = std::chrono::steady_clock::now();
    kernel.Sleep(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20) - TICK);
}

TEST_F(WindowsKernelTest, BadTablesAndHandlesFailAtOnce)
{
    const std::vector<EventHandle> open = Events(MAXIMUM_WAIT_OBJECTS + 1);
    const EventHandle closed = kernel.CreateEvent();
    ASSERT_TRUE(kernel.CloseHandle(closed));
    kernel.SetEvent(open[0]);  // a bad table fails even with an event signalled in it
    const std::array<EventHandle, 2> withNoEvent{open[0], NO_EVENT};
    const std::array<EventHandle, 2> withClosed{open[0], closed};
    const struct {
        const char* Name;
        std::span<const EventHandle> Table;
    } rows[] = {
        {"empty", {}},
        {"no event", withNoEvent},
        {"closed", withClosed},
        {"more than 64", open},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(kernel.WaitForAny(row.Table, 60000), WAIT_FAILED);
    }
    EXPECT_EQ(kernel.WaitForAny(std::span(open).first(1), 0), 0u) << "the signal is still there";
    for (const EventHandle unknown : {closed, NO_EVENT, EventHandle{0xBAD}}) {
        SCOPED_TRACE(unknown);
        EXPECT_FALSE(kernel.SetEvent(unknown));
        EXPECT_FALSE(kernel.ResetEvent(unknown));
        EXPECT_FALSE(kernel.CloseHandle(unknown));
        EXPECT_EQ(kernel.SystemHandle(unknown), nullptr);
    }
    EXPECT_NE(kernel.SystemHandle(open[0]), nullptr);
}

TEST_F(WindowsKernelTest, SetFromAnotherThreadWakesTheWait)
{
    const std::vector<EventHandle> events = Events(2);
    std::thread setter([&] { kernel.SetEvent(events[1]); });
    EXPECT_EQ(kernel.WaitForAny(events, 60000), 1u);
    setter.join();
}

TEST_F(WindowsKernelTest, ScheduledActionsRunInDueOrderOnTheTimerThread)
{
    std::mutex mutex;
    std::vector<int> ran;
    std::thread::id timerThread;
    const EventHandle done = kernel.CreateEvent();
    const auto record = [&](int n) {
        std::lock_guard lock(mutex);
        ran.push_back(n);
        timerThread = std::this_thread::get_id();
    };
    kernel.Schedule(20, [&] {
        record(3);
        kernel.SetEvent(done);
    });
    kernel.Schedule(1, [&] { record(1); });
    kernel.Schedule(1, [&] { record(2); });
    ASSERT_EQ(Await(done), 0u);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_NE(timerThread, std::this_thread::get_id());
}

// At its end the kernel drops the actions still pending and ends the drains still watched.
// The drain tells another kernel's events whether it ran before or after that end.
TEST(WindowsKernelLifetimeTest, AtTheEndPendingActionsNeverRunAndDrainsEnd)
{
    WindowsKernel witness;
    const EventHandle drained = witness.CreateEvent();
    const EventHandle drainedAfterTheEnd = witness.CreateEvent();
    std::atomic<bool> ran{false};
    std::atomic<bool> ended{false};
    {
        WindowsKernel kernel;
        kernel.Schedule(600000, [&] { ran = true; });
        kernel.Watch(-1, [&] {
            witness.SetEvent(ended ? drainedAfterTheEnd : drained);
            return true;
        });
        ASSERT_EQ(witness.WaitForAny(std::span(&drained, 1), 60000), 0u);
    }
    ended = true;
    EXPECT_FALSE(ran);
    EXPECT_EQ(witness.WaitForAny(std::span(&drainedAfterTheEnd, 1), 50), WAIT_TIMEOUT);
}

// The WallClockMicroseconds origin is 1970, as the C library's clock's.
TEST_F(WindowsKernelTest, TheWallClockCountsFrom1970)
{
    const std::int64_t seconds =
        static_cast<std::int64_t>(kernel.WallClockMicroseconds() / 1000000);
    EXPECT_NEAR(static_cast<double>(seconds), static_cast<double>(std::time(nullptr)), 5.0);
}

// A watched source is read by its drain on a thread of its own, over and over, until the drain
// gives up: it is not called again.
TEST_F(WindowsKernelTest, ADrainRunsOnItsOwnThreadUntilItGivesUp)
{
    const EventHandle gaveUp = kernel.CreateEvent();
    const EventHandle calledAgain = kernel.CreateEvent();
    std::atomic<int> drains{0};
    std::thread::id reader;
    const auto id = kernel.Watch(-1, [&] {
        reader = std::this_thread::get_id();
        const int drain = ++drains;
        if (drain < 3) {
            return true;
        }
        kernel.SetEvent(drain == 3 ? gaveUp : calledAgain);
        return false;
    });
    ASSERT_NE(id, 0u);
    ASSERT_EQ(Await(gaveUp), 0u);
    EXPECT_EQ(kernel.WaitForAny(std::span(&calledAgain, 1), 50), WAIT_TIMEOUT);
    kernel.Unwatch(id);
    EXPECT_EQ(drains.load(), 3);
    EXPECT_NE(reader, std::this_thread::get_id());
}

// Unwatch returns only once the drain under way has ended (its source may be destroyed then),
// and the drain is not called again. The drain looks, for a while, for the sign that Unwatch
// has returned: it must never see it.
TEST_F(WindowsKernelTest, UnwatchReturnsOnceTheDrainUnderWayHasEnded)
{
    const EventHandle inDrain = kernel.CreateEvent();
    const EventHandle unwatched = kernel.CreateEvent();
    const EventHandle drainEnded = kernel.CreateEvent();
    std::atomic<int> drains{0};
    std::atomic<bool> sawUnwatched{false};
    const auto id = kernel.Watch(-1, [&] {
        ++drains;
        kernel.SetEvent(inDrain);
        if (kernel.WaitForAny(std::span(&unwatched, 1), 200) == 0u) {
            sawUnwatched = true;
        }
        kernel.SetEvent(drainEnded);
        return true;
    });
    ASSERT_EQ(Await(inDrain), 0u);
    kernel.Unwatch(id);
    const int drained = drains.load();
    kernel.SetEvent(unwatched);
    ASSERT_EQ(Await(drainEnded), 0u);
    EXPECT_FALSE(sawUnwatched);
    EXPECT_EQ(kernel.WaitForAny(std::span(&inDrain, 1), 20), WAIT_TIMEOUT);
    EXPECT_EQ(drains.load(), drained);
    kernel.Unwatch(id);  // a second time: nothing left to do
}

}  // namespace
}  // namespace tarvik
