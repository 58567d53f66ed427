// The six requests. Each is built from a zeroed send buffer, so nothing of a longer earlier
// frame is ever sent again, and the station address is asked of the adapter for every frame.

#include <algorithm>

#include "protocol/upgrade_link.h"

namespace tarvik {

int UpgradeLink::SendRequest(const MacAddress& destination, std::uint16_t opcode,
                             const SessionState* session, const std::uint8_t* block,
                             std::size_t length)
{
    if (length > MAX_PAYLOAD_BYTES) {
        return BUILD_SEND_FAILED;
    }
    auto& frame = run_.SendBuffer;
    std::fill(frame.begin(), frame.end(), std::uint8_t{0});

    FrameHeader header;
    header.Destination = destination;
    if (run_.Link.QueryStationAddress(header.Source.data()) != STATION_ADDRESS_OK) {
        return BUILD_NO_STATION_ADDRESS;
    }
    header.FrameType = FrameTypeFor(run_.FrameVariant);
    header.Opcode = opcode;
    std::size_t frameLength = SHORT_REQUEST_BYTES;
    if (opcode == OP_BEGIN) {
        header.Sequence = session->Sequence;
    } else if (opcode == OP_WRITE || opcode == OP_VERIFY) {
        header.Sequence = session->Sequence;
        header.Offset = session->Offset;
        header.Segment = session->Segment;
        header.DataLength = static_cast<std::uint16_t>(length);
        if (length > 0) {
            std::copy_n(block, length, frame.begin() + FRAME_DATA);
        }
        // Block frames go out at their own length, unpadded.
        frameLength = FRAME_HEADER_BYTES + length;
    }
    EncodeHeader(frame, header);

    if (run_.Link.SendFrame(frame.data(), static_cast<std::uint32_t>(frameLength)) != SEND_OK) {
        return BUILD_SEND_FAILED;
    }
    ++run_.FramesSent;
    return BUILD_SENT;
}

int UpgradeLink::SendProbe()
{
    return SendRequest(BROADCAST_ADDRESS, OP_INFO, nullptr, nullptr, 0);
}

int UpgradeLink::SendInfoRequest(const SessionState& session)
{
    return SendRequest(session.Target, OP_INFO, &session, nullptr, 0);
}

int UpgradeLink::SendBegin(const SessionState& session)
{
    return SendRequest(session.Target, OP_BEGIN, &session, nullptr, 0);
}

int UpgradeLink::SendWriteBlock(const SessionState& session, const std::uint8_t* block,
                                std::size_t length)
{
    return SendRequest(session.Target, OP_WRITE, &session, block, length);
}

int UpgradeLink::SendVerifyBlock(const SessionState& session, const std::uint8_t* block,
                                 std::size_t length)
{
    return SendRequest(session.Target, OP_VERIFY, &session, block, length);
}

int UpgradeLink::SendReset(const SessionState& session)
{
    return SendRequest(session.Target, OP_RESET, &session, nullptr, 0);
}

}  // namespace tarvik
