#include "image/descriptor.h"

#include <algorithm>
#include <cstdio>

namespace tarvik {
namespace {

struct FieldPlace {
    std::size_t Offset;
    std::size_t Width;
};

FieldPlace PlaceOf(DescriptorField field)
{
    switch (field) {
    case DescriptorField::PidVersion:
        return {DESC_PID_VERSION, 2};
    case DescriptorField::UpgradeControl:
        return {DESC_UPGRADE_CONTROL, 2};
    case DescriptorField::HwVersion:
        return {DESC_HW_VERSION, 2};
    case DescriptorField::BoardCode:
        return {DESC_BOARD_CODE, BOARD_CODE_BYTES};
    case DescriptorField::FwVersion:
        return {DESC_FW_VERSION, 2};
    case DescriptorField::ProductId:
        return {DESC_PRODUCT_ID, 2};
    case DescriptorField::ProductMask:
        return {DESC_PRODUCT_MASK, 2};
    case DescriptorField::ProtocolId:
        return {DESC_PROTOCOL_ID, 2};
    case DescriptorField::ProtocolMask:
        return {DESC_PROTOCOL_MASK, 2};
    case DescriptorField::FunctionId:
        return {DESC_FUNCTION_ID, 2};
    case DescriptorField::FunctionMask:
        return {DESC_FUNCTION_MASK, 2};
    case DescriptorField::CodeSegment:
        return {DESC_CODE_SEGMENT, 2};
    case DescriptorField::CodeSize:
        return {DESC_CODE_SIZE, 2};
    }
    return {0, 0};
}

}  // namespace

std::string FormatHexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(DIGITS[byte >> 4]);
        text.push_back(DIGITS[byte & 0x0F]);
    }
    return text;
}

const char* FieldName(DescriptorField field)
{
    switch (field) {
    case DescriptorField::PidVersion:
        return "PidVersion";
    case DescriptorField::UpgradeControl:
        return "UpgradeControl";
    case DescriptorField::HwVersion:
        return "HwVersion";
    case DescriptorField::BoardCode:
        return "BoardCode";
    case DescriptorField::FwVersion:
        return "FwVersion";
    case DescriptorField::ProductId:
        return "ProductId";
    case DescriptorField::ProductMask:
        return "ProductMask";
    case DescriptorField::ProtocolId:
        return "ProtocolId";
    case DescriptorField::ProtocolMask:
        return "ProtocolMask";
    case DescriptorField::FunctionId:
        return "FunctionId";
    case DescriptorField::FunctionMask:
        return "FunctionMask";
    case DescriptorField::CodeSegment:
        return "CodeSegment";
    case DescriptorField::CodeSize:
        return "CodeSize";
    }
    return "";
}

std::string FormatField(const ImageDescriptor& descriptor, DescriptorField field)
{
    char text[8];
    switch (field) {
    case DescriptorField::CodeSegment:
        std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(descriptor.CodeSegment()));
        return text;
    case DescriptorField::CodeSize:
        // Unsigned on purpose: 0xFFFF is a size of 65535, never -1.
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(descriptor.CodeSize()));
        return text;
    default: {
        const FieldPlace place = PlaceOf(field);
        return FormatHexBytes(
            std::span<const std::uint8_t>(descriptor.Bytes).subspan(place.Offset, place.Width));
    }
    }
}

bool SameBoardCode(const ImageDescriptor& image, const ImageDescriptor& device)
{
    const auto imageBoard = image.BoardCode();
    const auto deviceBoard = device.BoardCode();
    return std::equal(imageBoard.begin(), imageBoard.end(), deviceBoard.begin());
}

}  // namespace tarvik
