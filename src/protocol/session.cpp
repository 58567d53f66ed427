// The session engine: one request in flight, a timer per try, a fixed number of tries, and
// the information query built on it.

#include <algorithm>

#include "protocol/upgrade_link.h"

namespace tarvik {

std::uint16_t UpgradeLink::QueryTargetInfo(const MacAddress& target, std::uint8_t* buffer,
                                           std::uint16_t tries)
{
    SessionState& session = run_.Session;
    session.Target = target;
    session.Result = 0;
    session.StartTick = run_.Link.kernel().GetTickCount();
    session.InfoBuffer = buffer;
    session.Timeout = STEP_TRY_UNITS;
    session.RetriesLeft = tries;
    session.State = SESSION_INFO;

    std::uint16_t result = QUERY_OK;
    if (SendInfoRequest(session) != BUILD_SENT) {
        result = QUERY_FIRST_SEND_FAILED;
    } else {
        for (;;) {
            PollInfoReply();
            if (CheckSessionTimeout() != TIMEOUT_OK) {
                result = QUERY_RESEND_FAILED;
                break;
            }
            if (session.State == SESSION_DONE || session.State == SESSION_FAILED) {
                result = session.Result;
                break;
            }
        }
    }
    // The caller's buffer does not outlive the call.
    session.InfoBuffer = nullptr;
    return result;
}

std::uint16_t UpgradeLink::FetchTargetInfo(const MacAddress& target, std::uint8_t* buffer,
                                           std::uint16_t tries)
{
    return QueryTargetInfo(target, buffer, tries) == QUERY_OK ? QUERY_OK : QUERY_NO_REPLY;
}

void UpgradeLink::PollInfoReply()
{
    const std::uint32_t length =
        run_.Link.WaitFrame(run_.ReceiveBuffer.data(), run_.ReceiveBuffer.size());
    if (length != 0) {
        HandleInfoReply(std::span(run_.ReceiveBuffer.data(), length));
    }
}

void UpgradeLink::HandleInfoReply(std::span<const std::uint8_t> frame)
{
    SessionState& session = run_.Session;
    const auto header = DecodeHeader(frame);
    if (!header || header->FrameType != FrameTypeFor(run_.FrameVariant) ||
        header->Source != session.Target) {
        return;
    }
    if (header->Opcode != OP_INFO || session.State != SESSION_INFO || header->Sequence != 0 ||
        header->Offset != 0 || header->Segment != 0 || header->DataLength != DESCRIPTOR_BYTES ||
        !HoldsData(frame, *header)) {
        return;
    }
    if (session.InfoBuffer != nullptr) {
        std::copy_n(frame.begin() + FRAME_DATA, DESCRIPTOR_BYTES, session.InfoBuffer);
    }
    session.State = SESSION_DONE;
    session.Result = 0;
}

int UpgradeLink::CheckSessionTimeout()
{
    SessionState& session = run_.Session;
    switch (session.State) {
    case SESSION_INFO:
    case SESSION_BEGIN:
    case SESSION_WRITE:
    case SESSION_VERIFY:  // a verification that runs out of tries is a failure like any other
    case SESSION_RESET:
        break;
    default:
        return TIMEOUT_OK;
    }
    if (!TimerExpired(session.StartTick, session.Timeout)) {
        return TIMEOUT_OK;
    }
    if (session.RetriesLeft <= 1) {
        session.RetriesLeft = 0;
        session.State = SESSION_FAILED;
        session.Result = RESULT_NO_REPLY;
        return TIMEOUT_OK;
    }
    --session.RetriesLeft;
    if (ResendCurrentRequest() != RESEND_OK) {
        return TIMEOUT_RESEND_FAILED;
    }
    if (session.State == SESSION_FAILED) {
        return TIMEOUT_OK;  // the block to send again could not be read: nothing went out
    }
    ++run_.FramesResent;
    session.StartTick = run_.Link.kernel().GetTickCount();
    return TIMEOUT_OK;
}

int UpgradeLink::ResendCurrentRequest()
{
    SessionState& session = run_.Session;
    switch (session.State) {
    case SESSION_INFO:
        return SendInfoRequest(session) == BUILD_SENT ? RESEND_OK : RESEND_INFO_FAILED;
    case SESSION_BEGIN:
        return SendBegin(session) == BUILD_SENT ? RESEND_OK : RESEND_BEGIN_FAILED;
    case SESSION_WRITE:
    case SESSION_VERIFY: {
        const std::int64_t length = ReadBlockAtFilePosition();
        if (length < 0) {
            FailOnReadError();
            return RESEND_OK;
        }
        const auto count = static_cast<std::size_t>(length);
        if (session.State == SESSION_WRITE) {
            return SendWriteBlock(session, run_.BlockBuffer.data(), count) == BUILD_SENT
                       ? RESEND_OK
                       : RESEND_WRITE_FAILED;
        }
        return SendVerifyBlock(session, run_.BlockBuffer.data(), count) == BUILD_SENT
                   ? RESEND_OK
                   : RESEND_VERIFY_FAILED;
    }
    case SESSION_RESET:
        return SendReset(session) == BUILD_SENT ? RESEND_OK : RESEND_RESET_FAILED;
    default:
        return RESEND_OK;
    }
}

}  // namespace tarvik
