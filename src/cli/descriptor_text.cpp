#include "cli/descriptor_text.h"

#include <algorithm>

namespace tarvik::cli {
namespace {

std::string_view Label(DescriptorField field)
{
    switch (field) {
    case DescriptorField::PidVersion:
        return "PID Version:";
    case DescriptorField::UpgradeControl:
        return "Upgrade Control:";
    case DescriptorField::HwVersion:
        return "H/W  Version:";
    case DescriptorField::BoardCode:
        return "Board Code:";
    case DescriptorField::FwVersion:
        return "F/W Version:";
    case DescriptorField::ProductId:
        return "Product ID:";
    case DescriptorField::ProductMask:
        return "Product Mask:";
    case DescriptorField::ProtocolId:
        return "Protocol ID:";
    case DescriptorField::ProtocolMask:
        return "Protocol Mask:";
    case DescriptorField::FunctionId:
        return "Function ID:";
    case DescriptorField::FunctionMask:
        return "Function Mask:";
    case DescriptorField::CodeSegment:
        return "Code Segment:";
    case DescriptorField::CodeSize:
        return "Code Size:";
    }
    return "";
}

std::string Row(std::string_view label, std::string_view value)
{
    std::string row(label);
    row.resize(std::max<std::size_t>(row.size(), 17), ' ');
    return row.append(" ").append(value).append("\n");
}

}  // namespace

std::string DescriptorText(const ImageDescriptor& descriptor, std::string_view nameLabel,
                           std::string_view name)
{
    std::string text = Row(nameLabel, name);
    for (const DescriptorField field : DISPLAYED_FIELDS) {
        text += Row(Label(field), FormatField(descriptor, field));
    }
    return text;
}

}  // namespace tarvik::cli
