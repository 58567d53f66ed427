// The receive bookkeeping every packet driver shares: posted reads and held frames, and the ring
// of slots a reader keeps posted.

#include "platform/capture/posted_reads.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/kernel/sim_kernel.h"

namespace tarvik {
namespace {

std::vector<std::uint8_t> FrameOf(std::size_t length, std::uint8_t fill)
{
    return std::vector<std::uint8_t>(length, fill);
}

// A read slot of the test's own, with its event.
struct TestRead {
    explicit TestRead(Kernel& kernel) : slot(std::make_unique<ReadSlot>())
    {
        slot->Request.Event = kernel.CreateEvent();
        slot->CountWord = 0xDEADBEEF;
        slot->FrameLength = 0xDEADBEEF;
    }
    PostedReads::Read Read() { return {slot.get(), &slot->CountWord, &slot->Request}; }
    std::uint8_t First() const { return slot->FrameData[0]; }

    std::unique_ptr<ReadSlot> slot;
};

class PostedReadsTest : public ::testing::Test {
protected:
    bool Signalled(const TestRead& read)
    {
        const EventHandle event[] = {read.slot->Request.Event};
        return kernel.WaitForAny(event, 0) == WAIT_OBJECT_0;
    }

    SimKernel kernel;
    PostedReads reads;
};

TEST_F(PostedReadsTest, ReadsAndHeldFramesCompleteOldestFirst)
{
    struct Case {
        const char* name;
        bool postFirst;  // the reads come before the frames, or after them
    };
    for (const Case& c : {Case{"posted reads", true}, Case{"held frames", false}}) {
        SCOPED_TRACE(c.name);
        PostedReads queue;
        std::vector<TestRead> slots;
        for (int i = 0; i < 3; ++i) {
            slots.emplace_back(kernel);
        }
        const auto post = [&] {
            ReadCompletions completed(kernel);
            for (TestRead& slot : slots) {
                queue.Post(slot.Read(), completed);
            }
        };
        // The last is longer than a slot holds: it is cut to the slot.
        const std::size_t lengths[] = {60, 61, READ_SLOT_FRAME_BYTES + 100};
        const std::uint32_t landed[] = {60, 61, READ_SLOT_FRAME_BYTES};
        const auto deliver = [&] {
            ReadCompletions completed(kernel);
            for (std::uint8_t i = 0; i < 3; ++i) {
                EXPECT_TRUE(queue.Deliver(FrameOf(lengths[i], 0xA0 + i), completed));
            }
        };
        if (c.postFirst) {
            post();
            deliver();
        } else {
            deliver();
            post();
        }
        for (std::size_t i = 0; i < slots.size(); ++i) {
            EXPECT_EQ(slots[i].First(), 0xA0 + i);
            EXPECT_EQ(slots[i].slot->FrameLength, landed[i]);
            EXPECT_EQ(slots[i].slot->CountWord, landed[i]) << "the count is always written";
            EXPECT_TRUE(Signalled(slots[i]));
        }
        EXPECT_EQ(queue.Posted(), 0u);
        EXPECT_EQ(queue.Held(), 0u);
    }
}

TEST_F(PostedReadsTest, BeyondTheHoldLimitTheNewestFramesAreDropped)
{
    ReadCompletions completed(kernel);
    for (std::size_t i = 0; i < HELD_FRAME_LIMIT; ++i) {
        ASSERT_TRUE(reads.Deliver(FrameOf(60, 1), completed));
    }
    EXPECT_FALSE(reads.Deliver(FrameOf(60, 2), completed));
    EXPECT_EQ(reads.Held(), HELD_FRAME_LIMIT);

    PostedReads small(2);
    TestRead slot(kernel);
    small.Deliver(FrameOf(60, 1), completed);
    small.Deliver(FrameOf(60, 2), completed);
    EXPECT_FALSE(small.Deliver(FrameOf(60, 3), completed));
    small.Post(slot.Read(), completed);
    EXPECT_EQ(slot.First(), 1) << "the oldest frame is kept, the newest dropped";
}

TEST_F(PostedReadsTest, AClosedQueueWritesNoSlotAgain)
{
    TestRead posted(kernel);
    TestRead later(kernel);
    {
        ReadCompletions completed(kernel);
        reads.Post(posted.Read(), completed);
        reads.Close();
        EXPECT_FALSE(reads.Deliver(FrameOf(60, 1), completed));
        reads.Post(later.Read(), completed);
        EXPECT_FALSE(reads.Deliver(FrameOf(60, 2), completed));
    }
    EXPECT_EQ(posted.slot->FrameLength, 0xDEADBEEF);
    EXPECT_EQ(later.slot->FrameLength, 0xDEADBEEF);
    EXPECT_FALSE(Signalled(posted));
    EXPECT_FALSE(Signalled(later));
    EXPECT_EQ(reads.Held(), 0u);
}

TEST_F(PostedReadsTest, EventsAreSignalledOnlyWhenTheCompletionsGo)
{
    // More reads than the completions keep without the heap: every one is signalled.
    std::vector<TestRead> slots;
    for (int i = 0; i < 40; ++i) {
        slots.emplace_back(kernel);
    }
    {
        ReadCompletions completed(kernel);
        for (TestRead& slot : slots) {
            reads.Post(slot.Read(), completed);
            reads.Deliver(FrameOf(60, 7), completed);
        }
        EXPECT_EQ(completed.Size(), slots.size());
        // Still under the driver's lock here: nobody may be woken yet.
        EXPECT_FALSE(Signalled(slots.front()));
        EXPECT_FALSE(Signalled(slots.back()));
    }
    for (const TestRead& slot : slots) {
        EXPECT_TRUE(Signalled(slot));
    }
}

// Completes the reads posted on it when the test lands a frame.
class QueueDriver final : public PacketDriver {
public:
    explicit QueueDriver(Kernel& kernel) : kernel_(kernel) {}

    std::int32_t OpenAdapter(const char*) override { return 1; }
    void CloseAdapter(std::int32_t) override {}
    std::uint32_t PacketRead(std::int32_t, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t) override
    {
        ReadCompletions completed(kernel_);
        reads.Post({slot, count, request}, completed);
        return DRIVER_OK;
    }
    std::uint32_t PacketSend(std::int32_t, const std::uint8_t*, std::uint32_t, std::uint32_t*,
                             Overlapped*, std::uint32_t) override
    {
        return DRIVER_FAILED;
    }
    std::uint32_t MakeNdisRequest(std::int32_t, RequestRecord*, Overlapped*, std::uint32_t) override
    {
        return DRIVER_FAILED;
    }

    void Land(std::uint8_t fill)
    {
        ReadCompletions completed(kernel_);
        reads.Deliver(FrameOf(60, fill), completed);
    }

    PostedReads reads;

private:
    Kernel& kernel_;
};

class ReadSlotRingTest : public ::testing::Test {
protected:
    void Start(std::size_t size)
    {
        ASSERT_TRUE(ring.Allocate(size));
        for (std::size_t i = 0; i < size; ++i) {
            ring.Post(1, i);
        }
    }

    std::vector<std::uint8_t> Take(std::uint32_t timeoutMs, std::size_t limit)
    {
        std::vector<std::uint8_t> firsts;
        ring.TakeInOrder(1, timeoutMs, limit,
                         [&](std::span<const std::uint8_t> frame) { firsts.push_back(frame[0]); });
        return firsts;
    }

    SimKernel kernel;
    QueueDriver driver{kernel};
    ReadSlotRing ring{kernel, driver};
};

TEST_F(ReadSlotRingTest, FramesAreTakenInPostingOrderAroundTheRingAndEachSlotIsPostedAgain)
{
    Start(3);
    for (std::uint8_t fill = 1; fill <= 5; ++fill) {
        driver.Land(fill);
    }
    // Three slots held three frames; the other two wait in the driver for the slots posted
    // again, and land in them in order as the ring comes round.
    EXPECT_EQ(Take(0, 2), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(Take(0, 10), (std::vector<std::uint8_t>{3, 4, 5}));
    EXPECT_EQ(driver.reads.Posted(), 3u) << "every slot is posted again";
}

TEST_F(ReadSlotRingTest, ATakeWaitsOnceForTheFirstFrameOnly)
{
    Start(4);
    kernel.Schedule(30, [this] { driver.Land(9); });
    EXPECT_EQ(Take(50, 10), (std::vector<std::uint8_t>{9}));
    EXPECT_EQ(kernel.Now(), 30u) << "nothing more had landed: no second wait";
    EXPECT_TRUE(Take(50, 10).empty());
    EXPECT_EQ(kernel.Now(), 80u);
}

TEST_F(ReadSlotRingTest, ASlotWithoutAnEventLeavesNoEventOpen)
{
    kernel.FailNextCreateEvents(1, 5);
    EXPECT_FALSE(ring.Allocate(8));
    EXPECT_FALSE(ring.Allocated());
    EXPECT_EQ(kernel.OpenEvents(), 0u);
    ASSERT_TRUE(ring.Allocate(8));
    ring.Release();
    EXPECT_EQ(kernel.OpenEvents(), 0u);
}

}  // namespace
}  // namespace tarvik
