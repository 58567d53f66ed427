// The upgrade transfer frame by frame, its failure paths, and its progress reports.

#include <sys/stat.h>

#include "image/memory_file_system.h"
#include "protocol_fixture.h"

namespace tarvik::testing {
namespace {

class TransferTest : public ProtocolTest {
protected:
    EmulatedTarget& Target() { return lab.FindTarget(TARGET_A)->Device(); }

    void ExpectMemoryHoldsFile(const std::string& path, std::uint16_t codeSegment = 0x1000)
    {
        const auto file = ReadWhole(path);
        EXPECT_EQ(Target().MemoryAt(std::uint32_t{codeSegment} * 16, file.size()), file);
    }
};

TEST_F(TransferTest, ThousandByteImageGoesOutFrameByFrame)
{
    AddTarget(TARGET_A);
    const auto path = MakeImage(1000);
    const auto sequence = static_cast<std::uint16_t>(kernel.GetTickCount() & 0xFFFF);
    RunTransfer(TARGET_A, path);
    EXPECT_EQ(run.Session.State, SESSION_DONE);

    ASSERT_EQ(sent.size(), 6u);
    const std::uint16_t expectedOpcodes[] = {OP_BEGIN,  OP_WRITE,  OP_WRITE,
                                             OP_VERIFY, OP_VERIFY, OP_RESET};
    const std::uint16_t expectedSequences[] = {sequence,
                                               static_cast<std::uint16_t>(sequence + 1),
                                               static_cast<std::uint16_t>(sequence + 2),
                                               static_cast<std::uint16_t>(sequence + 3),
                                               static_cast<std::uint16_t>(sequence + 4),
                                               0};
    const std::uint16_t expectedSegments[] = {0, 0x1000, 0x1020, 0x1000, 0x1020, 0};
    const std::size_t expectedLengths[] = {64, 536, 512, 536, 512, 64};
    const auto file = ReadWhole(path);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].Header.Opcode, expectedOpcodes[i]);
        EXPECT_EQ(sent[i].Header.Sequence, expectedSequences[i]);
        EXPECT_EQ(sent[i].Header.Segment, expectedSegments[i]);
        EXPECT_EQ(sent[i].Header.Offset, 0);
        EXPECT_EQ(sent[i].Bytes.size(), expectedLengths[i]);
    }
    // Verification sends the same bytes again, block for block.
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 512, sent[3].Bytes.begin() + 24));
    EXPECT_TRUE(std::equal(file.begin() + 512, file.end(), sent[4].Bytes.begin() + 24));

    EXPECT_EQ(progress.Events,
              (std::vector<std::string>{"begin", "status:Erasing EEPROM...", "refresh",
                                        "status:Upgrade...", "percent:51/51", "refresh",
                                        "status:Verify Target...", "refresh", "percent:51/52",
                                        "refresh", "status:Reseting Target...", "refresh",
                                        "status:Upgrade Finish", "refresh"}));
    ExpectMemoryHoldsFile(path);
    EXPECT_EQ(ReadWhole(path), file) << "the image is never written";
}

TEST_F(TransferTest, ImageOfWholeBlocksSendsNoEmptyBlock)
{
    AddTarget(TARGET_A);
    const auto path = MakeImage(1024);
    RunTransfer(TARGET_A, path);
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    EXPECT_EQ(SentWithOpcode(OP_WRITE).size(), 2u);
    EXPECT_EQ(SentWithOpcode(OP_VERIFY).size(), 2u);
    for (const auto& frame : sent) {
        if (frame.Header.Opcode == OP_WRITE || frame.Header.Opcode == OP_VERIFY) {
            EXPECT_EQ(frame.Header.DataLength, 512);
        }
    }
}

TEST_F(TransferTest, SegmentWrapsAtSixteenBits)
{
    AddTarget(TARGET_A);
    RunTransfer(TARGET_A, MakeImage(1000, 0xFFF0));
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    const auto writes = SentWithOpcode(OP_WRITE);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].Header.Segment, 0xFFF0);
    EXPECT_EQ(writes[1].Header.Segment, 0x0010);
    EXPECT_EQ(writes[1].Header.Offset, 0);
}

TEST_F(TransferTest, LargerImageLandsWholeAndProgressRunsInOrder)
{
    AddTarget(TARGET_A);
    const auto path = MakeImage(20 * 512 + 100, 0x2000, 777);
    RunTransfer(TARGET_A, path);
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    ExpectMemoryHoldsFile(path, 0x2000);
    EXPECT_TRUE(Target().WasReset());

    // Bar positions never go back within a phase and never reach 100.
    int last = -1;
    bool verifying = false;
    for (const auto& event : progress.Events) {
        if (event == "status:Verify Target...") {
            verifying = true;
            last = -1;
        }
        if (event.rfind("percent:", 0) == 0) {
            const int position = std::stoi(event.substr(8));
            const int number = std::stoi(event.substr(event.find('/') + 1));
            EXPECT_GE(position, last);
            EXPECT_LT(position, 100);
            EXPECT_EQ(number, verifying ? position + 1 : position);
            last = position;
        }
    }
}

TEST_F(TransferTest, DeviceStatusStopsTheTransfer)
{
    AddTarget(TARGET_A).Device().Faults().StatusForOpcode[OP_WRITE] = 0x0005;
    RunTransfer(TARGET_A, MakeImage(2000));
    EXPECT_EQ(run.Session.State, SESSION_FAILED);
    EXPECT_EQ(run.Session.Result, 5);
    EXPECT_TRUE(SentWithOpcode(OP_VERIFY).empty());
    EXPECT_TRUE(SentWithOpcode(OP_RESET).empty());
}

TEST_F(TransferTest, BeginRefusedAndResetRefused)
{
    AddTarget(TARGET_A).Device().Faults().StatusForOpcode[OP_BEGIN] = 0x0009;
    RunTransfer(TARGET_A, MakeImage(600));
    EXPECT_EQ(run.Session.State, SESSION_FAILED);
    EXPECT_EQ(run.Session.Result, 9);
    EXPECT_TRUE(SentWithOpcode(OP_WRITE).empty());

    Target().Faults().StatusForOpcode.clear();
    Target().Faults().StatusForOpcode[OP_RESET] = 0x0001;
    RunTransfer(TARGET_A, MakeImage(600));
    EXPECT_EQ(run.Session.State, SESSION_FAILED);
    EXPECT_EQ(run.Session.Result, RESULT_RESET_REFUSED);
}

TEST_F(TransferTest, BlockLostOnTheWayIsResentAndLands)
{
    AddTarget(TARGET_A);
    bool droppedOnce = false;
    lab.Segment().SetHook([&droppedOnce](std::span<const std::uint8_t> frame,
                                         const SegmentStation*) {
        const auto header = DecodeHeader(frame);
        if (header && header->Opcode == OP_WRITE && header->Source == LAB_ADAPTER_ADDRESS &&
            header->Segment == 0x1020 && !droppedOnce) {
            droppedOnce = true;
            return std::vector<std::uint32_t>{};
        }
        return std::vector<std::uint32_t>{1};
    });
    const auto path = MakeImage(1500);
    RunTransfer(TARGET_A, path);
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    const auto writes = SentWithOpcode(OP_WRITE);
    ASSERT_EQ(writes.size(), 4u);  // three blocks, the second of them twice
    EXPECT_EQ(writes[1].Bytes, writes[2].Bytes);
    EXPECT_GT(writes[2].Time - writes[1].Time, 1980u);
    ExpectMemoryHoldsFile(path);
}

TEST_F(TransferTest, SilentDeviceInEachPhaseFailsAfterItsTries)
{
    struct Case {
        std::uint16_t opcode;
        std::size_t tries;
        std::uint64_t minimumMs;
    };
    const Case cases[] = {{OP_BEGIN, 20, 20 * 990},
                          {OP_WRITE, 30, 30 * 1980},
                          {OP_VERIFY, 20, 20 * 990},
                          {OP_RESET, 20, 20 * 990}};
    AddTarget(TARGET_A);
    const auto path = MakeImage(1000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opcode);
        sent.clear();
        Target().Faults().SilentOpcodes = {c.opcode};
        const std::uint64_t start = kernel.Now();
        RunTransfer(TARGET_A, path);
        EXPECT_EQ(run.Session.State, SESSION_FAILED);
        EXPECT_EQ(run.Session.Result, RESULT_NO_REPLY);
        const auto requests = SentWithOpcode(c.opcode);
        EXPECT_EQ(requests.size(), c.tries);
        EXPECT_GT(kernel.Now() - start, c.minimumMs);
        // The first block is the one retried, unchanged.
        for (const auto& request : requests) {
            EXPECT_EQ(request.Header.Sequence, requests.front().Header.Sequence);
            EXPECT_EQ(request.Bytes, requests.front().Bytes);
        }
        // An unverified image is never followed by a reset.
        if (c.opcode == OP_VERIFY) {
            EXPECT_TRUE(SentWithOpcode(OP_RESET).empty());
        }
    }
}

TEST_F(TransferTest, LossyLinkWithDuplicatedRepliesStillLandsTheImage)
{
    auto& faults = AddTarget(TARGET_A).Device().Faults();
    faults.DropRequestShare = 0.2;
    faults.DropReplyShare = 0.2;
    faults.DuplicateReplies = true;
    faults.Seed = 1234;
    const auto path = MakeImage(40 * 512 + 17, 0x3000, 0, 99);
    const auto before = ReadWhole(path);
    RunTransfer(TARGET_A, path);
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    ExpectMemoryHoldsFile(path, 0x3000);
    EXPECT_EQ(ReadWhole(path), before);
}

TEST_F(TransferTest, ReadOnlyImageTransfers)
{
    AddTarget(TARGET_A);
    const auto path = MakeImage(3000);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    RunTransfer(TARGET_A, path);
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    ExpectMemoryHoldsFile(path);
}

// Files that fail to read after a number of successful reads.
class FailingFileSystem final : public FileSystem {
public:
    explicit FailingFileSystem(int readsBeforeFailure) : left_(readsBeforeFailure) {}
    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) override
    {
        auto file = real_.OpenForReading(path);
        if (!file) {
            return nullptr;
        }
        return std::make_unique<File>(std::move(file), left_);
    }

private:
    class File final : public ReadOnlyFile {
    public:
        File(std::unique_ptr<ReadOnlyFile> inner, int& left) : inner_(std::move(inner)), left_(left)
        {
        }
        bool Seek(std::uint64_t offset) override { return inner_->Seek(offset); }
        std::int64_t SeekEnd() override { return inner_->SeekEnd(); }
        std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
        {
            return left_-- > 0 ? inner_->Read(buffer, size) : -1;
        }

    private:
        std::unique_ptr<ReadOnlyFile> inner_;
        int& left_;
    };
    SystemFileSystem real_;
    int left_;
};

class TransferReadErrorTest : public TransferTest {};

TEST_F(TransferReadErrorTest, ReadErrorMidTransferStopsWithAFailure)
{
    AddTarget(TARGET_A);
    const auto path = MakeImage(4000);
    // Enough reads for the header search and the first blocks, then the file fails.
    FailingFileSystem failing(8);
    RunState failingRun(binding, failing);
    UpgradeLink failingLink(failingRun);
    ASSERT_EQ(failingLink.OpenTransfer(TARGET_A, path), OPEN_READY);
    ASSERT_EQ(failingLink.SendBegin(failingRun.Session), BUILD_SENT);
    while (failingRun.Session.State != SESSION_DONE && failingRun.Session.State != SESSION_FAILED) {
        failingLink.PollTransferReply();
        ASSERT_EQ(failingLink.CheckSessionTimeout(), TIMEOUT_OK);
    }
    EXPECT_EQ(failingRun.Session.State, SESSION_FAILED);
    EXPECT_EQ(failingRun.Session.Result, RESULT_READ_FAILED);
    EXPECT_TRUE(SentWithOpcode(OP_RESET).empty());
}

// An image that another program changes while it is sent, or whose reads come back short: the
// device gets exactly the bytes the file had when the transfer opened, or the transfer fails.
class ChangingImageTest : public TransferTest {
protected:
    static constexpr char IMAGE[] = "/images/fw.bin";
    static constexpr std::size_t IMAGE_BYTES = 2000;  // three whole blocks and 464 bytes

    ChangingImageTest()
    {
        ImageSpec spec;
        spec.Size = IMAGE_BYTES;
        spec.HeaderOffset = 0;
        spec.Descriptor = SampleDescriptor();
        spec.Seed = 31;
        image = BuildImage(spec);
    }

    // The data of every block frame of the opcode, in the order sent.
    std::vector<std::uint8_t> BlockData(std::uint16_t opcode) const
    {
        std::vector<std::uint8_t> data;
        for (const SentFrame& frame : SentWithOpcode(opcode)) {
            data.insert(data.end(), frame.Bytes.begin() + FRAME_DATA,
                        frame.Bytes.begin() + FRAME_DATA + frame.Header.DataLength);
        }
        return data;
    }

    // Calls change when the tool sends the count-th frame of the opcode.
    void WhenSent(std::uint16_t opcode, std::size_t count, std::function<void()> change)
    {
        onSent = [opcode, count, change = std::move(change),
                  seen = std::size_t{0}](const FrameHeader& header) mutable {
            if (header.Opcode == opcode && ++seen == count) {
                change();
            }
        };
    }

    std::vector<std::uint8_t> image;
    MemoryFileSystem memory;
    RunState memoryRun{binding, memory};
};

TEST_F(ChangingImageTest, ShortReadsOfEveryLengthStillSendWholeBlocks)
{
    AddTarget(TARGET_A);
    for (std::size_t chunk = 1; chunk < BLOCK_BYTES; ++chunk) {
        SCOPED_TRACE(chunk);
        MemoryFileBehaviour shortReads;
        shortReads.ChunkBytes = chunk;
        memory.Add(IMAGE, image, shortReads);
        sent.clear();
        RunTransfer(memoryRun, TARGET_A, IMAGE);
        EXPECT_EQ(memoryRun.Session.State, SESSION_DONE);
        EXPECT_EQ(SentWithOpcode(OP_WRITE).size(), 4u);
        EXPECT_EQ(BlockData(OP_WRITE), image);
        EXPECT_EQ(BlockData(OP_VERIFY), image);
        if (HasFailure()) {
            return;
        }
    }
    EXPECT_EQ(Target().MemoryAt(0x10000, IMAGE_BYTES), image);
}

TEST_F(ChangingImageTest, ImageCutShortFailsBeforeAnyReset)
{
    struct Case {
        const char* when;
        std::uint16_t opcode;  // the cut comes as the count-th frame of this opcode goes out
        std::size_t count;
        std::size_t size;    // what is left of the file
        bool dropThatFrame;  // the block is lost, and read again to be sent again
        std::size_t writes;
        std::size_t verifies;
    };
    const Case cases[] = {
        {"writing, at a block boundary", OP_WRITE, 2, 1024, false, 2, 0},
        {"writing, within a block", OP_WRITE, 1, 700, false, 1, 0},
        {"writing, to nothing", OP_WRITE, 1, 0, false, 1, 0},
        {"verifying, at a block boundary", OP_VERIFY, 1, 1024, false, 4, 2},
        {"verifying, within the last block", OP_VERIFY, 3, 1600, false, 4, 3},
        {"while a lost block waits to go again", OP_WRITE, 2, 600, true, 2, 0},
    };
    AddTarget(TARGET_A);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        memory.Add(IMAGE, image);
        sent.clear();
        progress.Events.clear();
        memoryRun.FramesResent = 0;
        WhenSent(c.opcode, c.count, [&] { memory.Truncate(IMAGE, c.size); });
        lab.Segment().SetHook([&](std::span<const std::uint8_t> frame, const SegmentStation*) {
            const auto header = DecodeHeader(frame);
            const bool lost = c.dropThatFrame && header && header->Source == LAB_ADAPTER_ADDRESS &&
                              header->Opcode == c.opcode &&
                              SentWithOpcode(c.opcode).size() == c.count;
            return lost ? std::vector<std::uint32_t>{} : std::vector<std::uint32_t>{1};
        });
        RunTransfer(memoryRun, TARGET_A, IMAGE);
        EXPECT_EQ(memoryRun.Session.State, SESSION_FAILED);
        EXPECT_EQ(memoryRun.Session.Result, RESULT_READ_FAILED);
        EXPECT_EQ(SentWithOpcode(OP_WRITE).size(), c.writes);
        EXPECT_EQ(SentWithOpcode(OP_VERIFY).size(), c.verifies);
        EXPECT_TRUE(SentWithOpcode(OP_RESET).empty());
        EXPECT_EQ(memoryRun.FramesResent, 0u) << "a block that could not be read went nowhere";
        EXPECT_EQ(
            std::count(progress.Events.begin(), progress.Events.end(), "status:Upgrade Finish"), 0);
        EXPECT_EQ(memory.OpenNow(), 0);
    }
    lab.Segment().SetHook({});
}

TEST_F(ChangingImageTest, GrowingImageIsSentOnlyToItsSizeAtTheStart)
{
    AddTarget(TARGET_A);
    memory.Add(IMAGE, image);
    const std::vector<std::uint8_t> more(3000, 0xA5);
    WhenSent(OP_WRITE, 1, [&] { memory.Append(IMAGE, more); });
    RunTransfer(memoryRun, TARGET_A, IMAGE);
    EXPECT_EQ(memoryRun.Session.State, SESSION_DONE);
    EXPECT_EQ(BlockData(OP_WRITE), image);
    EXPECT_EQ(BlockData(OP_VERIFY), image);
    for (const std::string& event : progress.Events) {
        if (event.starts_with("percent:")) {
            EXPECT_LT(std::stoi(event.substr(8)), 100) << event;
        }
    }

    // Grown once the image is written: the verification stops where the writing did.
    memory.Add(IMAGE, image);
    sent.clear();
    WhenSent(OP_VERIFY, 1, [&] { memory.Append(IMAGE, more); });
    RunTransfer(memoryRun, TARGET_A, IMAGE);
    EXPECT_EQ(memoryRun.Session.State, SESSION_DONE);
    EXPECT_EQ(BlockData(OP_VERIFY), image);
}

// A file of any size that reads as zeros.
class HugeFile final : public ReadOnlyFile {
public:
    explicit HugeFile(std::int64_t size) : size_(size) {}
    bool Seek(std::uint64_t offset) override
    {
        position_ = static_cast<std::int64_t>(offset);
        return true;
    }
    std::int64_t SeekEnd() override { return position_ = size_; }
    std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
    {
        const std::int64_t count =
            std::min<std::int64_t>(static_cast<std::int64_t>(size), size_ - position_);
        std::fill_n(buffer, count, std::uint8_t{0});
        position_ += count;
        return count;
    }

private:
    std::int64_t size_;
    std::int64_t position_ = 0;
};

TEST_F(TransferTest, PercentOfALargeFileDoesNotOverflow)
{
    AddTarget(TARGET_A);
    auto& session = run.Session;
    session.State = SESSION_WRITE;
    session.Target = TARGET_A;
    session.Sequence = 7;
    session.Segment = 0x1000;
    session.FileSize = 100'000'000;
    session.FilePosition = 49'999'872;
    run.TransferFile = std::make_unique<HugeFile>(100'000'000);
    run.Progress = &progress;

    FrameHeader ack;
    ack.Source = TARGET_A;
    ack.Opcode = OP_WRITE;
    ack.Sequence = 7;
    ack.Segment = 0x1000;
    ack.DataLength = 2;
    link.HandleTransferReply(MakeReply(ack, std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(progress.Events,
              (std::vector<std::string>{"status:Upgrade...", "percent:50/50", "refresh"}));
}

TEST_F(TransferTest, AcksThatDoNotEchoTheRequestAreDropped)
{
    // A hand-driven device whose first answer to each request is subtly wrong.
    TestStation device(lab.Segment(), TARGET_A, false);
    int wrongAnswers = 0;
    device.SetResponder([&](std::span<const std::uint8_t> frame, TestStation& self) {
        const auto request = DecodeHeader(frame);
        if (!request) {
            return;
        }
        FrameHeader reply;
        reply.Destination = request->Source;
        reply.Source = TARGET_A;
        reply.Opcode = request->Opcode;
        reply.Sequence = request->Sequence;
        reply.Offset = request->Offset;
        reply.Segment = request->Segment;
        reply.DataLength = 2;
        const std::vector<std::uint8_t> ok = {0, 0};
        if (request->Opcode == OP_RESET) {
            reply.DataLength = 2;  // a reset reply claims no data: dropped
            self.Send(MakeReply(reply, ok));
            reply.DataLength = 0;
            self.Send(MakeReply(reply, {}, 24));  // too short to hold the status: dropped
            wrongAnswers += 2;
            self.Send(MakeReply(reply, ok));
            return;
        }
        if (request->Opcode == OP_WRITE) {
            FrameHeader wrongSegment = reply;
            ++wrongSegment.Segment;
            FrameHeader wrongSequence = reply;
            ++wrongSequence.Sequence;
            self.Send(MakeReply(wrongSegment, ok));
            self.Send(MakeReply(wrongSequence, ok));
            wrongAnswers += 2;
        }
        self.Send(MakeReply(reply, ok));
    });
    RunTransfer(TARGET_A, MakeImage(1000));
    EXPECT_EQ(run.Session.State, SESSION_DONE);
    EXPECT_EQ(wrongAnswers, 6);
    // Each block went out once: the wrong answers neither advanced nor stopped the transfer.
    EXPECT_EQ(SentWithOpcode(OP_WRITE).size(), 2u);
    EXPECT_EQ(SentWithOpcode(OP_RESET).size(), 1u);
}

}  // namespace
}  // namespace tarvik::testing

namespace tarvik::testing {
namespace {

// One image file of any length: a header at offset 0, zeros after it.
class OversizedImageFiles final : public FileSystem {
public:
    explicit OversizedImageFiles(std::int64_t size) : size_(size) {}
    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string&) override
    {
        class File final : public ReadOnlyFile {
        public:
            explicit File(std::int64_t size) : size_(size)
            {
                header_.assign(HEADER_MAGIC, HEADER_MAGIC + 7);
                const auto descriptor = SampleDescriptor();
                header_.insert(header_.end(), descriptor.Bytes.begin(), descriptor.Bytes.end());
                header_.insert(header_.end(), HEADER_MAGIC, HEADER_MAGIC + 7);
            }
            bool Seek(std::uint64_t offset) override
            {
                position_ = static_cast<std::int64_t>(offset);
                return true;
            }
            std::int64_t SeekEnd() override { return position_ = size_; }
            std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
            {
                const std::int64_t count =
                    std::min<std::int64_t>(static_cast<std::int64_t>(size), size_ - position_);
                for (std::int64_t i = 0; i < count; ++i) {
                    const auto at = static_cast<std::size_t>(position_ + i);
                    buffer[i] = at < header_.size() ? header_[at] : 0;
                }
                position_ += count;
                return count;
            }

        private:
            std::int64_t size_;
            std::int64_t position_ = 0;
            std::vector<std::uint8_t> header_;
        };
        return std::make_unique<File>(size_);
    }

private:
    std::int64_t size_;
};

TEST_F(TransferTest, ImageBeyondThirtyTwoBitOffsetsIsRefused)
{
    // Its block offsets would wrap and the transfer would never end.
    OversizedImageFiles files5GiB(std::int64_t{5} << 30);
    RunState oversized(binding, files5GiB);
    UpgradeLink oversizedLink(oversized);
    EXPECT_EQ(oversizedLink.OpenTransfer(TARGET_A, "huge.bin"), OPEN_NO_DESCRIPTOR);
    EXPECT_EQ(oversized.Session.FileHandle, -1);

    // The position moves on 512 bytes a block: a last block that starts at 0xFFFFFE00 would
    // move it to 0 again and start the file over.
    for (const std::int64_t size : {std::int64_t{0xFFFFFE01}, std::int64_t{0xFFFFFFFF}}) {
        OversizedImageFiles wrappingFiles(size);
        RunState wrapping(binding, wrappingFiles);
        UpgradeLink wrappingLink(wrapping);
        EXPECT_EQ(wrappingLink.OpenTransfer(TARGET_A, "wrap.bin"), OPEN_NO_DESCRIPTOR) << size;
        EXPECT_EQ(wrapping.Session.FileHandle, -1);
    }

    OversizedImageFiles filesJustFit(0xFFFFFE00);
    RunState fitting(binding, filesJustFit);
    UpgradeLink fittingLink(fitting);
    EXPECT_EQ(fittingLink.OpenTransfer(TARGET_A, "big.bin"), OPEN_READY);
    EXPECT_EQ(fitting.Session.FileSize, 0xFFFFFE00u);
}

}  // namespace
}  // namespace tarvik::testing
