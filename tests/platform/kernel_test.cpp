#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/kernel/real_kernel.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik {
namespace {

class SimKernelTest : public ::testing::Test {
protected:
    SimKernel kernel{0xFFFFFF00u};
};

TEST_F(SimKernelTest, TickCountWrapsWhileNowKeepsCounting)
{
    EXPECT_EQ(kernel.GetTickCount(), 0xFFFFFF00u);
    kernel.Sleep(0x100);
    EXPECT_EQ(kernel.GetTickCount(), 0u);
    kernel.Sleep(5);
    EXPECT_EQ(kernel.GetTickCount(), 5u);
    EXPECT_EQ(kernel.Now(), 0x105u);
    EXPECT_EQ(kernel.SleepCalls(), 2u);
    EXPECT_EQ(kernel.SleptMilliseconds(), 0x105u);
}

TEST_F(SimKernelTest, SleepRunsEachActionAtItsOwnTimeInOrder)
{
    std::vector<std::pair<int, std::uint64_t>> ran;
    kernel.Schedule(30, [&] { ran.emplace_back(3, kernel.Now()); });
    kernel.Schedule(10, [&] { ran.emplace_back(1, kernel.Now()); });
    kernel.Schedule(10, [&] { ran.emplace_back(2, kernel.Now()); });
    kernel.Schedule(50, [&] { ran.emplace_back(4, kernel.Now()); });
    kernel.Sleep(30);
    EXPECT_EQ(ran, (std::vector<std::pair<int, std::uint64_t>>{{1, 10}, {2, 10}, {3, 30}}));
    EXPECT_EQ(kernel.Now(), 30u);
    EXPECT_EQ(kernel.PendingActions(), 1u);
}

TEST_F(SimKernelTest, ActionScheduledByAnActionRunsInTheSameSleepWhenDue)
{
    std::vector<std::uint64_t> ran;
    kernel.Schedule(5, [&] {
        kernel.Schedule(0, [&] { ran.push_back(kernel.Now()); });
        kernel.Schedule(20, [&] { ran.push_back(kernel.Now()); });
    });
    kernel.Sleep(10);
    EXPECT_EQ(ran, (std::vector<std::uint64_t>{5}));
    kernel.Advance(20);
    EXPECT_EQ(ran, (std::vector<std::uint64_t>{5, 25}));
    EXPECT_EQ(kernel.SleepCalls(), 1u);
}

TEST_F(SimKernelTest, WaitReturnsLowestSignalledIndexAndResetsOnlyThatOne)
{
    const std::array<EventHandle, 3> events{kernel.CreateEvent(), kernel.CreateEvent(),
                                            kernel.CreateEvent()};
    kernel.SetEvent(events[2]);
    kernel.SetEvent(events[1]);
    EXPECT_EQ(kernel.WaitForAny(events, 10), 1u);
    EXPECT_EQ(kernel.WaitForAny(events, 10), 2u);
    EXPECT_EQ(kernel.Now(), 0u);
    EXPECT_EQ(kernel.WaitForAny(events, 10), WAIT_TIMEOUT);
    EXPECT_EQ(kernel.Now(), 10u);
}

TEST_F(SimKernelTest, WaitStopsAtTheActionThatSignals)
{
    const std::array<EventHandle, 1> events{kernel.CreateEvent()};
    bool later = false;
    kernel.Schedule(4, [&] { kernel.SetEvent(events[0]); });
    kernel.Schedule(4, [&] { later = true; });
    EXPECT_EQ(kernel.WaitForAny(events, 100), 0u);
    EXPECT_EQ(kernel.Now(), 4u);
    EXPECT_FALSE(later);
}

TEST_F(SimKernelTest, ResetClearsASignal)
{
    const std::array<EventHandle, 1> events{kernel.CreateEvent()};
    kernel.SetEvent(events[0]);
    EXPECT_TRUE(kernel.ResetEvent(events[0]));
    EXPECT_EQ(kernel.WaitForAny(events, 7), WAIT_TIMEOUT);
    EXPECT_EQ(kernel.Now(), 7u);
}

TEST_F(SimKernelTest, BadTablesFailAtOnce)
{
    const EventHandle open = kernel.CreateEvent();
    const EventHandle closed = kernel.CreateEvent();
    kernel.CloseHandle(closed);
    const std::array<EventHandle, 2> withNoEvent{open, NO_EVENT};
    const std::array<EventHandle, 2> withClosed{open, closed};
    std::vector<EventHandle> tooMany(MAXIMUM_WAIT_OBJECTS + 1, open);
    EXPECT_EQ(kernel.WaitForAny({}, 10), WAIT_FAILED);
    EXPECT_EQ(kernel.WaitForAny(withNoEvent, 10), WAIT_FAILED);
    EXPECT_EQ(kernel.WaitForAny(withClosed, 10), WAIT_FAILED);
    EXPECT_EQ(kernel.WaitForAny(tooMany, 10), WAIT_FAILED);
    EXPECT_EQ(kernel.Now(), 0u);
    EXPECT_FALSE(kernel.SetEvent(closed));
    EXPECT_FALSE(kernel.CloseHandle(closed));
}

TEST_F(SimKernelTest, FailureKnobsCountDown)
{
    kernel.FailNextCreateEvents(1);
    EXPECT_EQ(kernel.CreateEvent(), NO_EVENT);
    const EventHandle event = kernel.CreateEvent();
    EXPECT_NE(event, NO_EVENT);
    kernel.FailNextResetEvents(2, 1);
    EXPECT_TRUE(kernel.ResetEvent(event));
    EXPECT_FALSE(kernel.ResetEvent(event));
    EXPECT_FALSE(kernel.ResetEvent(event));
    EXPECT_TRUE(kernel.ResetEvent(event));
    EXPECT_EQ(kernel.OpenEvents(), 1u);
}

// Real time: ordering and wake-ups are checked, and a duration only as a lower bound. Threads
// are ordered by where the kernel says they are, never by sleeping.
class RealKernelTest : public ::testing::Test {
protected:
    // Yields until the kernel's threads are as asked.
    template <typename Predicate>
    void Until(Predicate wanted)
    {
        while (!wanted(kernel.Threads())) {
            std::this_thread::yield();
        }
    }

    RealKernel kernel;
};

// A wait that times out lasts its whole timeout, whether it sleeps on its condition variable
// or in poll() as the thread that reads a source.
TEST_F(RealKernelTest, ATimedOutWaitLastsItsWholeTimeout)
{
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    const RealKernel::WatchId id = kernel.Watch(ends[0], [] { return true; });
    const EventHandle served = kernel.CreateEvent();
    kernel.ServedBy(served, id);
    const struct {
        const char* Name;
        EventHandle Event;
        std::uint32_t Milliseconds;
    } rows[] = {
        {"asleep", kernel.CreateEvent(), 30},
        {"polling", served, 30},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kernel.WaitForAny(std::span(&row.Event, 1), row.Milliseconds), WAIT_TIMEOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(row.Milliseconds));
    }
    kernel.Unwatch(id);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(RealKernelTest, SetFromAnotherThreadWakesTheWait)
{
    const std::array<EventHandle, 2> events{kernel.CreateEvent(), kernel.CreateEvent()};
    std::thread setter([&] { kernel.SetEvent(events[1]); });
    EXPECT_EQ(kernel.WaitForAny(events, 60000), 1u);
    setter.join();
    EXPECT_EQ(kernel.WaitForAny(events, 1), WAIT_TIMEOUT);
}

TEST_F(RealKernelTest, LowestIndexFirstAndBadTablesFail)
{
    const std::array<EventHandle, 3> events{kernel.CreateEvent(), kernel.CreateEvent(),
                                            kernel.CreateEvent()};
    kernel.SetEvent(events[2]);
    kernel.SetEvent(events[0]);
    EXPECT_EQ(kernel.WaitForAny(events, 1), 0u);
    EXPECT_EQ(kernel.WaitForAny(events, 1), 2u);
    const std::array<EventHandle, 2> withNoEvent{events[0], NO_EVENT};
    EXPECT_EQ(kernel.WaitForAny(withNoEvent, 1), WAIT_FAILED);
    EXPECT_EQ(kernel.WaitForAny({}, 1), WAIT_FAILED);
}

TEST_F(RealKernelTest, ScheduledActionsRunInDueOrderOnTheTimerThread)
{
    std::mutex mutex;
    std::vector<int> ran;
    const std::array<EventHandle, 1> done{kernel.CreateEvent()};
    const auto record = [&](int n) {
        std::lock_guard lock(mutex);
        ran.push_back(n);
    };
    kernel.Schedule(3, [&] {
        record(3);
        kernel.SetEvent(done[0]);
    });
    kernel.Schedule(1, [&] { record(1); });
    kernel.Schedule(1, [&] { record(2); });
    ASSERT_EQ(kernel.WaitForAny(done, 60000), 0u);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

// One run per device, each thread waiting for its own events: each wakes for its own, and a
// thread whose handle is closed under it is told so instead of sleeping on. The waits have
// no useful timeout, so a wake-up that goes to the wrong thread hangs the test.
TEST_F(RealKernelTest, EachWaitWakesForItsOwnEventsAndAClosedHandleEndsIt)
{
    constexpr std::size_t THREADS = 16;
    std::vector<EventHandle> own(THREADS);
    for (EventHandle& event : own) {
        event = kernel.CreateEvent();
    }
    const EventHandle shared = kernel.CreateEvent();
    std::vector<std::uint32_t> results(THREADS, 0xDEAD);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < THREADS; ++i) {
        threads.emplace_back([&, i] {
            const std::array<EventHandle, 2> events{shared, own[i]};
            results[i] = kernel.WaitForAny(events, 0xFFFFFFFF);
        });
    }
    for (std::size_t i = THREADS; i-- > 1;) {
        kernel.SetEvent(own[i]);
    }
    kernel.CloseHandle(shared);  // the one still waiting (thread 0) waits on it too
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(results[0], WAIT_FAILED);
    for (std::size_t i = 1; i < THREADS; ++i) {
        EXPECT_TRUE(results[i] == 1u || results[i] == WAIT_FAILED) << "thread " << i;
    }
}

// Lockstep between two threads, as a requester and a device trade frames: every wait ends on
// its own event, whether it spun or blocked, and a spinning wait still times out.
TEST_F(RealKernelTest, LockstepWaitsEndOnTheirEventsAndStillTimeOut)
{
    const std::array<EventHandle, 1> request{kernel.CreateEvent()};
    const std::array<EventHandle, 1> reply{kernel.CreateEvent()};
    constexpr int ROUNDS = 2000;
    std::atomic<int> answered{0};
    std::thread device([&] {
        for (int i = 0; i < ROUNDS; ++i) {
            if (kernel.WaitForAny(request, 60000) != 0u) {
                return;
            }
            answered.fetch_add(1);
            kernel.SetEvent(reply[0]);
        }
    });
    for (int i = 0; i < ROUNDS; ++i) {
        kernel.SetEvent(request[0]);
        ASSERT_EQ(kernel.WaitForAny(reply, 60000), 0u) << "round " << i;
        ASSERT_EQ(answered.load(), i + 1);
    }
    device.join();
    EXPECT_EQ(kernel.WaitForAny(reply, 2), WAIT_TIMEOUT);
    EXPECT_EQ(kernel.WaitForAny(request, 0), WAIT_TIMEOUT);
}

// A descriptor the waiting threads read themselves, as a capture is: a pipe whose every byte
// names the event its drain sets ('a' the first, 'b' the second, 'c' the third, which the pipe
// is not said to serve).
class WatchedPipeTest : public RealKernelTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        id = kernel.Watch(ends[0], [this] { return Drain(); });
        ASSERT_NE(id, 0u);
        kernel.ServedBy(events[0], id);
        kernel.ServedBy(events[1], id);
    }
    void TearDown() override
    {
        kernel.Unwatch(id);
        ::close(ends[0]);
        if (ends[1] >= 0) {
            ::close(ends[1]);
        }
    }
    bool Drain()
    {
        ++drains;
        {
            std::lock_guard lock(readersLock);
            readers.push_back(std::this_thread::get_id());
        }
        char bytes[16];
        const ssize_t got = ::read(ends[0], bytes, sizeof bytes);
        for (ssize_t i = 0; i < got; ++i) {
            kernel.SetEvent(events[static_cast<std::size_t>(bytes[i] - 'a')]);
        }
        return got != 0;  // the writing end closed: nothing more will come
    }
    void Send(char which) { ASSERT_EQ(::write(ends[1], &which, 1), 1); }
    // A drain that holds its turn until the test lets it go, and notes whether Unwatch had
    // returned by then.
    bool SlowDrain(int fd)
    {
        inSlowDrain = true;
        while (!releaseSlowDrain) {
            std::this_thread::yield();
        }
        unwatchedDuringDrain = unwatched.load();
        char byte = 0;
        if (::read(fd, &byte, 1) == 1) {
            kernel.SetEvent(events[2]);
        }
        return true;
    }

    int ends[2] = {-1, -1};
    RealKernel::WatchId id = 0;
    const std::array<EventHandle, 3> events{kernel.CreateEvent(), kernel.CreateEvent(),
                                            kernel.CreateEvent()};
    std::atomic<int> drains{0};
    std::mutex readersLock;
    std::vector<std::thread::id> readers;
    std::atomic<bool> inSlowDrain{false};
    std::atomic<bool> releaseSlowDrain{false};
    std::atomic<bool> unwatched{false};
    std::atomic<bool> unwatchedDuringDrain{false};
};

TEST_F(WatchedPipeTest, TheWaitingThreadsReadWhatArrivesEachWakingForItsOwn)
{
    // Already there before anyone waits: even a wait that does not wait finds it.
    Send('a');
    EXPECT_EQ(kernel.WaitForAny(std::span(&events[0], 1), 0), 0u);

    // Two threads each wait for their own. The first reads the pipe, and once it has its byte
    // and has gone, the other takes over the reading.
    std::uint32_t first = 0xDEAD;
    std::uint32_t second = 0xDEAD;
    std::thread a([&] { first = kernel.WaitForAny(std::span(&events[0], 1), 0xFFFFFFFF); });
    Until([](RealKernel::ThreadCounts threads) { return threads.Polling == 1; });
    std::thread b([&] { second = kernel.WaitForAny(std::span(&events[1], 1), 0xFFFFFFFF); });
    Until([](RealKernel::ThreadCounts threads) { return threads.Waiting == 2; });
    Send('a');
    a.join();
    Send('b');
    b.join();
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 0u);
}

// A thread that waits only for events set by another thread (a run waiting for what the
// thread that hands frames on gives it) never reads the capture: it would only wake that
// other thread to hand the frame back.
TEST_F(WatchedPipeTest, AThreadWaitingForEventsNoSourceServesNeverReads)
{
    const std::array<EventHandle, 1> handedOn{kernel.CreateEvent()};
    std::thread::id bystander;
    std::thread waiting([&] {
        bystander = std::this_thread::get_id();
        EXPECT_EQ(kernel.WaitForAny(handedOn, 0xFFFFFFFF), 0u);
    });
    Until([](RealKernel::ThreadCounts threads) { return threads.Waiting == 1; });
    for (int i = 0; i < 20; ++i) {
        Send('a');
        ASSERT_EQ(kernel.WaitForAny(std::span(&events[0], 1), 0xFFFFFFFF), 0u);
        std::this_thread::yield();  // room for the bystander to take the reading, if it would
    }
    kernel.SetEvent(handedOn[0]);
    waiting.join();
    std::lock_guard lock(readersLock);
    EXPECT_EQ(std::count(readers.begin(), readers.end(), bystander), 0);
}

TEST_F(WatchedPipeTest, UnwatchedWhileAThreadPollsItIsNeverDrainedAgain)
{
    std::uint32_t result = 0xDEAD;
    std::thread waiting([&] { result = kernel.WaitForAny(std::span(&events[1], 1), 0xFFFFFFFF); });
    Send('a');
    ASSERT_EQ(kernel.WaitForAny(std::span(&events[0], 1), 0xFFFFFFFF), 0u);
    kernel.Unwatch(id);
    const int drained = drains.load();
    Send('b');
    EXPECT_EQ(kernel.WaitForAny(std::span(&events[0], 1), 5), WAIT_TIMEOUT);
    EXPECT_EQ(drains.load(), drained);
    kernel.SetEvent(events[1]);  // from another thread, as a timer would
    waiting.join();
    EXPECT_EQ(result, 0u);
}

TEST_F(WatchedPipeTest, ADrainThatGivesUpIsNotCalledAgain)
{
    ::close(ends[1]);  // readable from now on, with nothing ever to read
    ends[1] = -1;
    EXPECT_EQ(kernel.WaitForAny(std::span(&events[0], 1), 20), WAIT_TIMEOUT);
    EXPECT_EQ(drains.load(), 1);
}

// The four ways a sleeping thread is woken when its event is on its way. Each waits for longer
// than a test may run, or fails at its timeout, when its wake-up is lost.

// Unwatch returns only once the drain under way has ended: the source may be destroyed then.
TEST_F(WatchedPipeTest, UnwatchWaitsForTheDrainUnderWayToEnd)
{
    int slow[2] = {-1, -1};
    ASSERT_EQ(::pipe2(slow, O_CLOEXEC | O_NONBLOCK), 0);
    const RealKernel::WatchId slowId =
        kernel.Watch(slow[0], [this, &slow] { return SlowDrain(slow[0]); });
    kernel.ServedBy(events[2], slowId);
    std::uint32_t result = 0xDEAD;
    std::thread waiting([&] { result = kernel.WaitForAny(std::span(&events[2], 1), 0xFFFFFFFF); });
    ASSERT_EQ(::write(slow[1], "c", 1), 1);
    while (!inSlowDrain) {
        std::this_thread::yield();
    }
    std::thread unwatching([&] {
        kernel.Unwatch(slowId);
        unwatched = true;
    });
    Until([&](RealKernel::ThreadCounts threads) { return threads.Unwatching == 1 || unwatched; });
    releaseSlowDrain = true;
    unwatching.join();
    waiting.join();
    EXPECT_FALSE(unwatchedDuringDrain);
    EXPECT_EQ(result, 0u);
    ::close(slow[0]);
    ::close(slow[1]);
}

// The reading thread sleeps in poll(), not on its condition variable: an event that another
// thread sets (a timer, a thread handing frames on) has to end that sleep.
TEST_F(WatchedPipeTest, AnEventSetElsewhereWakesTheThreadThatReads)
{
    std::uint32_t result = 0xDEAD;
    std::thread reading([&] { result = kernel.WaitForAny(std::span(&events[1], 2), 0xFFFFFFFF); });
    Until([](RealKernel::ThreadCounts threads) { return threads.Polling == 1; });
    kernel.SetEvent(events[2]);
    reading.join();
    EXPECT_EQ(result, 1u);
}

// A source watched while a thread sleeps in poll() on the others (an adapter opened while a
// run waits) is read by that thread at once.
TEST_F(WatchedPipeTest, ANewSourceWakesTheThreadThatReads)
{
    std::uint32_t result = 0xDEAD;
    std::thread reading([&] { result = kernel.WaitForAny(std::span(&events[1], 2), 10000); });
    Until([](RealKernel::ThreadCounts threads) { return threads.Polling == 1; });
    int second[2] = {-1, -1};
    ASSERT_EQ(::pipe2(second, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_EQ(::write(second[1], "c", 1), 1);
    const RealKernel::WatchId secondId = kernel.Watch(second[0], [&] {
        char byte = 0;
        if (::read(second[0], &byte, 1) == 1) {
            kernel.SetEvent(events[2]);
        }
        return true;
    });
    kernel.ServedBy(events[2], secondId);
    reading.join();
    EXPECT_EQ(result, 1u);
    kernel.Unwatch(secondId);
    ::close(second[0]);
    ::close(second[1]);
}

// A thread that went to sleep when no source served its event (a read posted after the wait
// began) is handed the reading once one does; no one else would read the frame it waits for.
TEST_F(WatchedPipeTest, ServedByHandsTheReadingToAThreadAlreadyWaiting)
{
    std::uint32_t result = 0xDEAD;
    std::thread waiting([&] { result = kernel.WaitForAny(std::span(&events[2], 1), 10000); });
    Until([](RealKernel::ThreadCounts threads) { return threads.Waiting == 1; });
    Send('c');
    kernel.ServedBy(events[2], id);
    waiting.join();
    EXPECT_EQ(result, 0u);
}

TEST(WaitLatencyPolicyTest, SpinsOnlyAfterAQuickWakeAndOneThreadAtATime)
{
    WaitLatencyPolicy policy;
    EXPECT_FALSE(policy.BeginSpin()) << "nothing known yet: block";
    policy.Observe(true, QUICK_WAKE_MICROSECONDS);
    ASSERT_TRUE(policy.BeginSpin());
    EXPECT_FALSE(policy.BeginSpin()) << "a second thread blocks while one spins";
    policy.SpinEnded();
    EXPECT_TRUE(policy.BeginSpin());
    policy.SpinEnded();

    policy.Observe(true, QUICK_WAKE_MICROSECONDS + 1);  // paced traffic
    EXPECT_FALSE(policy.BeginSpin());
    policy.Observe(true, 40);
    policy.Observe(false, 40);  // a timeout, however short
    EXPECT_FALSE(policy.BeginSpin());
}

}  // namespace
}  // namespace tarvik
