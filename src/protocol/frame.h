#pragma once
// The upgrade frame on the wire: destination, source, then six 16-bit little-endian words
// (FrameType, Opcode, Sequence, Offset, Segment, DataLength) and the payload at offset 24.
// Every field is read and written here and nowhere else.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/formats/byte_order.h"
#include "platform/formats/mac_address.h"
#include "platform/capture/packet_driver.h"

namespace tarvik {

inline constexpr std::uint16_t OP_INFO = 0;
inline constexpr std::uint16_t OP_BEGIN = 1;
inline constexpr std::uint16_t OP_WRITE = 2;
inline constexpr std::uint16_t OP_RESET = 3;
inline constexpr std::uint16_t OP_VERIFY = 4;

inline constexpr std::uint16_t FRAME_TYPE_UNTYPED = 0x0000;
inline constexpr std::uint16_t FRAME_TYPE_TYPED = 0x8888;

// The two variants of the frame a device may speak, told apart by the FrameType word: untyped
// (0x0000, what the tool starts with) and typed (0x8888). A run speaks one at a time; a device
// answers one or both.
enum class FrameVariantKind : std::uint8_t { Untyped, Typed };

inline constexpr std::size_t FRAME_DESTINATION = 0;
inline constexpr std::size_t FRAME_SOURCE = 6;
inline constexpr std::size_t FRAME_TYPE = 12;
inline constexpr std::size_t FRAME_OPCODE = 14;
inline constexpr std::size_t FRAME_SEQUENCE = 16;
inline constexpr std::size_t FRAME_OFFSET = 18;
inline constexpr std::size_t FRAME_SEGMENT = 20;
inline constexpr std::size_t FRAME_DATA_LENGTH = 22;
inline constexpr std::size_t FRAME_DATA = 24;
inline constexpr std::size_t FRAME_HEADER_BYTES = 24;

// The FrameType field as the socket filter reads bytes 12-13, high byte first: the frame
// stores it low byte first. The two variants' values read the same either way; a value whose
// bytes differ would not.
constexpr std::uint16_t FrameTypeAsFilterField(std::uint16_t frameType)
{
    std::array<std::uint8_t, 2> field{};
    StoreLe16(field, 0, frameType);
    return static_cast<std::uint16_t>(field[0] << 8 | field[1]);
}

// What the socket filter may drop before the receive path sees it: frames of neither variant,
// and frames too short to hold the header. The protocol still judges every frame that passes.
inline FrameAdmission ProtocolFrameAdmission()
{
    return {{FrameTypeAsFilterField(FRAME_TYPE_UNTYPED), FrameTypeAsFilterField(FRAME_TYPE_TYPED)},
            FRAME_HEADER_BYTES};
}

inline constexpr std::size_t SEND_BUFFER_BYTES = MAX_FRAME_BYTES;
inline constexpr std::size_t RECEIVE_BUFFER_BYTES = 1520;
inline constexpr std::size_t SHORT_REQUEST_BYTES = 64;  // probe, info, begin, reset
inline constexpr std::size_t BLOCK_BYTES = 512;
inline constexpr std::size_t MAX_PAYLOAD_BYTES = SEND_BUFFER_BYTES - FRAME_HEADER_BYTES;
inline constexpr std::size_t STATUS_BYTES = 2;

struct FrameHeader {
    MacAddress Destination{};
    MacAddress Source{};
    std::uint16_t FrameType = 0;
    std::uint16_t Opcode = 0;
    std::uint16_t Sequence = 0;
    std::uint16_t Offset = 0;
    std::uint16_t Segment = 0;
    std::uint16_t DataLength = 0;
    bool operator==(const FrameHeader&) const = default;
};

// Writes the header's fields into the first 24 bytes.
void EncodeHeader(std::span<std::uint8_t> frame, const FrameHeader& header);
// The header of a received frame; nothing when the frame is shorter than a header.
std::optional<FrameHeader> DecodeHeader(std::span<const std::uint8_t> frame);
// Whether the frame holds the payload its header claims (and at least minimumData bytes).
bool HoldsData(std::span<const std::uint8_t> frame, const FrameHeader& header,
               std::size_t minimumData = 0);
// The status word of a reply (little-endian at offset 24); the caller has checked the length.
std::uint16_t ReplyStatus(std::span<const std::uint8_t> frame);
// Writes a reply's status word, as the device does; the frame holds at least 26 bytes.
void StoreReplyStatus(std::span<std::uint8_t> frame, std::uint16_t status);

// The FrameType word that a variant's frames carry.
constexpr std::uint16_t FrameTypeFor(FrameVariantKind variant)
{
    return variant == FrameVariantKind::Typed ? FRAME_TYPE_TYPED : FRAME_TYPE_UNTYPED;
}

// An opcode as logs and notes name it: "INFO", "BEGIN", "WRITE", "RESET", "VERIFY", or "?".
constexpr std::string_view OpcodeName(std::uint16_t opcode)
{
    constexpr std::string_view NAMES[] = {"INFO", "BEGIN", "WRITE", "RESET", "VERIFY"};
    return opcode <= OP_VERIFY ? NAMES[opcode] : "?";
}

// A variant as the command lines name it: "untyped" or "typed".
constexpr std::string_view FrameVariantName(FrameVariantKind variant)
{
    return variant == FrameVariantKind::Typed ? "typed" : "untyped";
}

}  // namespace tarvik
