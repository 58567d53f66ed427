#include "protocol/frame.h"

#include <algorithm>

namespace tarvik {

void EncodeHeader(std::span<std::uint8_t> frame, const FrameHeader& header)
{
    std::copy(header.Destination.begin(), header.Destination.end(),
              frame.begin() + FRAME_DESTINATION);
    std::copy(header.Source.begin(), header.Source.end(), frame.begin() + FRAME_SOURCE);
    StoreLe16(frame, FRAME_TYPE, header.FrameType);
    StoreLe16(frame, FRAME_OPCODE, header.Opcode);
    StoreLe16(frame, FRAME_SEQUENCE, header.Sequence);
    StoreLe16(frame, FRAME_OFFSET, header.Offset);
    StoreLe16(frame, FRAME_SEGMENT, header.Segment);
    StoreLe16(frame, FRAME_DATA_LENGTH, header.DataLength);
}

std::optional<FrameHeader> DecodeHeader(std::span<const std::uint8_t> frame)
{
    if (frame.size() < FRAME_HEADER_BYTES) {
        return std::nullopt;
    }
    FrameHeader header;
    std::copy_n(frame.begin() + FRAME_DESTINATION, header.Destination.size(),
                header.Destination.begin());
    std::copy_n(frame.begin() + FRAME_SOURCE, header.Source.size(), header.Source.begin());
    header.FrameType = LoadLe16(frame, FRAME_TYPE);
    header.Opcode = LoadLe16(frame, FRAME_OPCODE);
    header.Sequence = LoadLe16(frame, FRAME_SEQUENCE);
    header.Offset = LoadLe16(frame, FRAME_OFFSET);
    header.Segment = LoadLe16(frame, FRAME_SEGMENT);
    header.DataLength = LoadLe16(frame, FRAME_DATA_LENGTH);
    return header;
}

bool HoldsData(std::span<const std::uint8_t> frame, const FrameHeader& header,
               std::size_t minimumData)
{
    const std::size_t needed = FRAME_HEADER_BYTES +
                               std::max<std::size_t>(header.DataLength, minimumData);
    return frame.size() >= needed;
}

std::uint16_t ReplyStatus(std::span<const std::uint8_t> frame)
{
    return LoadLe16(frame, FRAME_DATA);
}

void StoreReplyStatus(std::span<std::uint8_t> frame, std::uint16_t status)
{
    StoreLe16(frame, FRAME_DATA, status);
}

}  // namespace tarvik
