// The upgrade transfer: stop-and-wait, one 512-byte block per acknowledged frame, first every
// block written, then every block sent again for verification, then the reset.

#include <algorithm>
#include <limits>

#include "image/image_file.h"
#include "protocol/progress.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

// The next block of a phase lies 512 bytes further on; the segment absorbs the carry and
// wraps at 16 bits, the offset stays below 16.
void AdvanceBlockAddress(SessionState& session)
{
    const auto moved = static_cast<std::uint16_t>(session.Offset + BLOCK_BYTES);
    session.Segment = static_cast<std::uint16_t>(session.Segment + (moved >> 4));
    session.Offset = static_cast<std::uint16_t>(moved & 0xF);
}

bool EchoesBlockInFlight(const FrameHeader& header, const SessionState& session)
{
    return header.Sequence == session.Sequence && header.Offset == session.Offset &&
           header.Segment == session.Segment && header.DataLength == STATUS_BYTES;
}

// A step that puts the phase's text on show, with bytesDone of the image acknowledged in it.
ProgressReport PhaseReport(ProgressPhase phase, std::uint64_t bytesDone,
                           const SessionState& session)
{
    ProgressReport report;
    report.Phase = phase;
    report.Text = ProgressText(phase);
    report.BytesDone = bytesDone;
    report.BytesTotal = session.FileSize;
    return report;
}

}  // namespace

int UpgradeLink::OpenTransfer(const MacAddress& target, const std::string& path)
{
    CloseTransferFile();
    if (path.empty()) {
        return OPEN_NO_PATH;
    }
    if (ReadImageDescriptor(run_.Files, path, run_.TransferDescriptor) != IMAGE_OK) {
        return OPEN_NO_DESCRIPTOR;
    }
    SessionState& session = run_.Session;
    Kernel& kernel = run_.Link.kernel();
    session.Target = target;
    session.Sequence = static_cast<std::uint16_t>(kernel.GetTickCount() & 0xFFFF);
    session.Offset = 0;
    session.Segment = run_.TransferDescriptor.CodeSegment();
    session.Result = 0;
    session.FilePosition = 0;
    session.StartTick = kernel.GetTickCount();
    session.Timeout = STEP_TRY_UNITS;
    session.RetriesLeft = STEP_TRIES;
    session.State = SESSION_BEGIN;

    auto file = run_.Files.OpenForReading(path);
    if (!file) {
        return OPEN_CANNOT_OPEN;
    }
    const std::int64_t size = file->SeekEnd();
    if (size < 0) {
        return OPEN_CANNOT_OPEN;
    }
    // File positions are kept in 32 bits and move on a whole block at a time: past
    // MAX_IMAGE_BYTES the position after the last block would wrap to the first one, and the
    // transfer would never end.
    if (static_cast<std::uint64_t>(size) > MAX_IMAGE_BYTES) {
        return OPEN_NO_DESCRIPTOR;
    }
    // The image's size from here to the end of the transfer, as the progress display shows it:
    // every block is read against it, never against the file's end of the moment.
    session.FileSize = static_cast<std::uint32_t>(size);
    session.FileHandle = 1;
    run_.TransferFile = std::move(file);
    return OPEN_READY;
}

void UpgradeLink::CloseTransferFile()
{
    run_.TransferFile.reset();
    run_.Session.FileHandle = -1;
}

void UpgradeLink::PollTransferReply()
{
    const std::uint32_t length =
        run_.Link.WaitFrame(run_.ReceiveBuffer.data(), run_.ReceiveBuffer.size());
    if (length != 0) {
        HandleTransferReply(std::span(run_.ReceiveBuffer.data(), length));
    }
}

std::int64_t UpgradeLink::ReadBlockAtFilePosition()
{
    const SessionState& session = run_.Session;
    ReadOnlyFile* file = run_.TransferFile.get();
    if (file == nullptr) {
        return -1;
    }
    // The image is the FileSize bytes it had when the transfer opened, whatever the file does
    // meanwhile: bytes a writer appends are not sent, and a file cut short fails the transfer
    // instead of passing its new end off as the image's.
    if (session.FilePosition >= session.FileSize) {
        return 0;
    }
    const std::size_t wanted =
        std::min<std::size_t>(BLOCK_BYTES, session.FileSize - session.FilePosition);
    if (!file->Seek(session.FilePosition)) {
        return -1;
    }
    // A read may return fewer bytes than asked before the end of the file.
    std::size_t filled = 0;
    while (filled < wanted) {
        const std::int64_t got = file->Read(run_.BlockBuffer.data() + filled, wanted - filled);
        if (got <= 0) {
            return -1;
        }
        filled += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(filled);
}

void UpgradeLink::FailOnReadError()
{
    run_.Session.State = SESSION_FAILED;
    run_.Session.Result = RESULT_READ_FAILED;
}

int UpgradeLink::PercentOfFile() const
{
    const SessionState& session = run_.Session;
    if (session.FileSize == 0) {
        return 0;
    }
    return static_cast<int>(std::uint64_t{session.FilePosition} * 100 / session.FileSize);
}

void UpgradeLink::ReportProgress(const ProgressReport& report)
{
    if (run_.Progress != nullptr) {
        run_.Progress->SetProgress(report);
    }
}

void UpgradeLink::EnterResetStep()
{
    ReportProgress(PhaseReport(ProgressPhase::Reset, run_.Session.FileSize, run_.Session));
    run_.Session.State = SESSION_RESET;
    StartTry(STEP_TRY_UNITS, STEP_TRIES);
    SendReset(run_.Session);
}

void UpgradeLink::StartTry(std::uint16_t timeout, std::uint16_t tries)
{
    run_.Session.StartTick = run_.Link.kernel().GetTickCount();
    run_.Session.Timeout = timeout;
    run_.Session.RetriesLeft = tries;
}

bool UpgradeLink::TakeStatus(std::span<const std::uint8_t> frame)
{
    if (const std::uint16_t status = ReplyStatus(frame); status != 0) {
        run_.Session.Result = status;
        run_.Session.State = SESSION_FAILED;
        return false;
    }
    return true;
}

std::optional<std::size_t> UpgradeLink::TakeBlockAck(std::span<const std::uint8_t> frame,
                                                     const FrameHeader& header, std::uint8_t state)
{
    SessionState& session = run_.Session;
    if (session.State != state || !EchoesBlockInFlight(header, session) ||
        !HoldsData(frame, header) || !TakeStatus(frame)) {
        return std::nullopt;
    }
    session.FilePosition += BLOCK_BYTES;
    const std::int64_t length = ReadBlockAtFilePosition();
    if (length < 0) {
        FailOnReadError();
        return std::nullopt;
    }
    if (length > 0) {
        AdvanceBlockAddress(session);
    }
    return static_cast<std::size_t>(length);
}

void UpgradeLink::HandleBeginReply(std::span<const std::uint8_t> frame, const FrameHeader& header)
{
    SessionState& session = run_.Session;
    if (session.State != SESSION_BEGIN || header.Sequence != session.Sequence ||
        header.Offset != 0 || header.Segment != 0 || header.DataLength != STATUS_BYTES ||
        !HoldsData(frame, header) || !TakeStatus(frame)) {
        return;
    }
    const std::int64_t length = ReadBlockAtFilePosition();
    if (length < 0) {
        FailOnReadError();
        return;
    }
    if (length == 0) {
        EnterResetStep();
        return;
    }
    session.State = SESSION_WRITE;
    ++session.Sequence;
    StartTry(WRITE_TRY_UNITS, WRITE_TRIES);
    if (SendWriteBlock(session, run_.BlockBuffer.data(), static_cast<std::size_t>(length)) ==
        BUILD_SENT) {
        ReportProgress(PhaseReport(ProgressPhase::Erase, 0, session));
    }
}

void UpgradeLink::HandleWriteAck(std::span<const std::uint8_t> frame, const FrameHeader& header)
{
    SessionState& session = run_.Session;
    const auto length = TakeBlockAck(frame, header, SESSION_WRITE);
    if (!length) {
        return;
    }
    if (*length > 0) {
        ++session.Sequence;
        StartTry(WRITE_TRY_UNITS, WRITE_TRIES);
        if (SendWriteBlock(session, run_.BlockBuffer.data(), *length) == BUILD_SENT) {
            const int percent = PercentOfFile();
            ProgressReport report =
                PhaseReport(ProgressPhase::Write, session.FilePosition, session);
            report.Percent = ProgressPercent{percent, percent};
            ReportProgress(report);
        }
        return;
    }
    // Every block is written: verification starts again from the first block.
    ReportProgress(PhaseReport(ProgressPhase::Verify, 0, session));
    ++session.Sequence;
    session.Offset = 0;
    session.Segment = run_.TransferDescriptor.CodeSegment();
    session.FilePosition = 0;
    session.State = SESSION_VERIFY;
    StartTry(STEP_TRY_UNITS, STEP_TRIES);
    const std::int64_t first = ReadBlockAtFilePosition();
    if (first < 0) {
        FailOnReadError();
        return;
    }
    SendVerifyBlock(session, run_.BlockBuffer.data(), static_cast<std::size_t>(first));
}

void UpgradeLink::HandleVerifyAck(std::span<const std::uint8_t> frame, const FrameHeader& header)
{
    SessionState& session = run_.Session;
    const auto length = TakeBlockAck(frame, header, SESSION_VERIFY);
    if (!length) {
        return;
    }
    if (*length == 0) {
        EnterResetStep();
        return;
    }
    ++session.Sequence;
    StartTry(STEP_TRY_UNITS, STEP_TRIES);
    if (SendVerifyBlock(session, run_.BlockBuffer.data(), *length) == BUILD_SENT) {
        // While verifying, the percent text runs one ahead of the bar.
        const int percent = PercentOfFile();
        ProgressReport report = PhaseReport(ProgressPhase::Verify, session.FilePosition, session);
        report.Text.reset();  // "Verify Target..." stays on show
        report.Percent = ProgressPercent{percent, percent + 1};
        ReportProgress(report);
    }
}

void UpgradeLink::HandleResetAck(std::span<const std::uint8_t> frame, const FrameHeader& header)
{
    SessionState& session = run_.Session;
    // The status word sits at the data offset although the reply claims no data; a frame too
    // short to hold it is no reply.
    if (session.State != SESSION_RESET || header.Sequence != 0 || header.Offset != 0 ||
        header.Segment != 0 || header.DataLength != 0 || !HoldsData(frame, header, STATUS_BYTES)) {
        return;
    }
    if (ReplyStatus(frame) == 0) {
        session.State = SESSION_DONE;
        ReportProgress(PhaseReport(ProgressPhase::Done, session.FileSize, session));
    } else {
        session.State = SESSION_FAILED;
        session.Result = RESULT_RESET_REFUSED;
    }
}

void UpgradeLink::HandleTransferReply(std::span<const std::uint8_t> frame)
{
    const auto header = DecodeHeader(frame);
    if (!header || header->FrameType != FrameTypeFor(run_.FrameVariant) ||
        header->Source != run_.Session.Target) {
        return;
    }
    switch (header->Opcode) {
    case OP_BEGIN:
        HandleBeginReply(frame, *header);
        return;
    case OP_WRITE:
        HandleWriteAck(frame, *header);
        return;
    case OP_VERIFY:
        HandleVerifyAck(frame, *header);
        return;
    case OP_RESET:
        HandleResetAck(frame, *header);
        return;
    case OP_INFO:
        HandleInfoReply(frame);
        return;
    default:
        return;
    }
}

}  // namespace tarvik
