#pragma once
// The 56-byte information block that describes an image and a device alike. It is kept as
// plain bytes and copied whole; the accessors below name the fields and say their byte order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/formats/byte_order.h"

namespace tarvik {

inline constexpr std::size_t DESCRIPTOR_BYTES = 56;

// Field offsets within the descriptor.
inline constexpr std::size_t DESC_PID_VERSION = 0;      // 2 bytes, shown only
inline constexpr std::size_t DESC_UPGRADE_CONTROL = 2;  // 2 bytes, shown only
inline constexpr std::size_t DESC_BOARD_CODE = 4;       // 6 bytes, compared by the check
inline constexpr std::size_t DESC_RESERVED = 10;        // 26 bytes, carried unchanged
inline constexpr std::size_t DESC_HW_VERSION = 36;
inline constexpr std::size_t DESC_PRODUCT_ID = 38;
inline constexpr std::size_t DESC_PRODUCT_MASK = 40;
inline constexpr std::size_t DESC_PROTOCOL_ID = 42;
inline constexpr std::size_t DESC_PROTOCOL_MASK = 44;
inline constexpr std::size_t DESC_FUNCTION_ID = 46;
inline constexpr std::size_t DESC_FUNCTION_MASK = 48;
inline constexpr std::size_t DESC_FW_VERSION = 50;
inline constexpr std::size_t DESC_CODE_SEGMENT = 52;  // 16-bit little-endian number
inline constexpr std::size_t DESC_CODE_SIZE = 54;     // 16-bit little-endian number
inline constexpr std::size_t BOARD_CODE_BYTES = 6;

struct ImageDescriptor {
    std::array<std::uint8_t, DESCRIPTOR_BYTES> Bytes{};

    std::span<const std::uint8_t, BOARD_CODE_BYTES> BoardCode() const
    {
        return std::span<const std::uint8_t, BOARD_CODE_BYTES>(Bytes.data() + DESC_BOARD_CODE,
                                                               BOARD_CODE_BYTES);
    }
    bool FwVersionIsZero() const
    {
        return Bytes[DESC_FW_VERSION] == 0 && Bytes[DESC_FW_VERSION + 1] == 0;
    }
    std::uint16_t CodeSegment() const { return LoadLe16(Bytes, DESC_CODE_SEGMENT); }
    void SetCodeSegment(std::uint16_t segment) { StoreLe16(Bytes, DESC_CODE_SEGMENT, segment); }
    std::uint16_t CodeSize() const { return LoadLe16(Bytes, DESC_CODE_SIZE); }
    void SetCodeSize(std::uint16_t size) { StoreLe16(Bytes, DESC_CODE_SIZE, size); }
    bool operator==(const ImageDescriptor&) const = default;
};

// Bytes as upper-case hexadecimal, two digits per byte, in stored order ("%02X" each).
// Whether an image fits a device: the two descriptors carry the same board code.
bool SameBoardCode(const ImageDescriptor& image, const ImageDescriptor& device);

std::string FormatHexBytes(std::span<const std::uint8_t> bytes);

// The fields shown in the information dialogs, in the order of their rows.
enum class DescriptorField {
    PidVersion,
    UpgradeControl,
    HwVersion,
    BoardCode,
    FwVersion,
    ProductId,
    ProductMask,
    ProtocolId,
    ProtocolMask,
    FunctionId,
    FunctionMask,
    CodeSegment,
    CodeSize,
};

inline constexpr std::array<DescriptorField, 13> DISPLAYED_FIELDS = {
    DescriptorField::PidVersion,  DescriptorField::UpgradeControl, DescriptorField::HwVersion,
    DescriptorField::BoardCode,   DescriptorField::FwVersion,      DescriptorField::ProductId,
    DescriptorField::ProductMask, DescriptorField::ProtocolId,     DescriptorField::ProtocolMask,
    DescriptorField::FunctionId,  DescriptorField::FunctionMask,   DescriptorField::CodeSegment,
    DescriptorField::CodeSize,
};

// The field's name as the program spells it in machine-readable output ("BoardCode").
const char* FieldName(DescriptorField field);
// The display form: hex bytes for byte strings, "%04X" for CodeSegment, "%d" for CodeSize.
std::string FormatField(const ImageDescriptor& descriptor, DescriptorField field);

}  // namespace tarvik
