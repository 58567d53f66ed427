#include <gtest/gtest.h>

#include <set>

#include "image/descriptor.h"

namespace tarvik {
namespace {

ImageDescriptor With(std::size_t offset, std::initializer_list<std::uint8_t> bytes)
{
    ImageDescriptor descriptor;
    std::copy(bytes.begin(), bytes.end(),
              descriptor.Bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return descriptor;
}

// The texts the information dialogs and the command line show for each field.
class DescriptorDisplay : public ::testing::Test {};

TEST_F(DescriptorDisplay, HexBytesAreUpperCaseInStoredOrder)
{
    const std::uint8_t bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(FormatHexBytes(bytes), "0AFF");
    EXPECT_EQ(FormatHexBytes({}), "");
}

TEST_F(DescriptorDisplay, ByteStringFieldsAreNeverTakenAsNumbers)
{
    EXPECT_EQ(FormatField(With(DESC_PID_VERSION, {0x01, 0x00}), DescriptorField::PidVersion),
              "0100");
    EXPECT_EQ(FormatField(With(DESC_FW_VERSION, {0x12, 0x34}), DescriptorField::FwVersion), "1234");
    EXPECT_EQ(FormatField(With(DESC_BOARD_CODE, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}),
                          DescriptorField::BoardCode),
              "001122334455");
}

TEST_F(DescriptorDisplay, CodeSegmentIsALittleEndianNumberInFourHexDigits)
{
    EXPECT_EQ(FormatField(With(DESC_CODE_SEGMENT, {0x00, 0x10}), DescriptorField::CodeSegment),
              "1000");
    EXPECT_EQ(FormatField(With(DESC_CODE_SEGMENT, {0x00, 0xF0}), DescriptorField::CodeSegment),
              "F000");
    EXPECT_EQ(FormatField(With(DESC_CODE_SEGMENT, {0x0A, 0x00}), DescriptorField::CodeSegment),
              "000A");
}

TEST_F(DescriptorDisplay, CodeSizeIsAnUnsignedLittleEndianDecimal)
{
    EXPECT_EQ(FormatField(With(DESC_CODE_SIZE, {0x34, 0x12}), DescriptorField::CodeSize), "4660");
    EXPECT_EQ(FormatField(With(DESC_CODE_SIZE, {0xFF, 0xFF}), DescriptorField::CodeSize), "65535");
    EXPECT_EQ(FormatField(With(DESC_CODE_SIZE, {0x00, 0x02}), DescriptorField::CodeSize), "512");
    EXPECT_EQ(FormatField(With(DESC_CODE_SIZE, {0x00, 0x00}), DescriptorField::CodeSize), "0");
}

TEST_F(DescriptorDisplay, EveryShownFieldReadsItsOwnBytes)
{
    // Each byte of the descriptor is distinct, so a field reading a neighbour's bytes shows.
    ImageDescriptor descriptor;
    for (std::size_t i = 0; i < DESCRIPTOR_BYTES; ++i) {
        descriptor.Bytes[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    const std::pair<DescriptorField, const char*> expected[] = {
        {DescriptorField::PidVersion, "1011"},        {DescriptorField::UpgradeControl, "1213"},
        {DescriptorField::BoardCode, "141516171819"}, {DescriptorField::HwVersion, "3435"},
        {DescriptorField::ProductId, "3637"},         {DescriptorField::ProductMask, "3839"},
        {DescriptorField::ProtocolId, "3A3B"},        {DescriptorField::ProtocolMask, "3C3D"},
        {DescriptorField::FunctionId, "3E3F"},        {DescriptorField::FunctionMask, "4041"},
        {DescriptorField::FwVersion, "4243"},         {DescriptorField::CodeSegment, "4544"},
        {DescriptorField::CodeSize, "18246"},
    };
    for (const auto& [field, text] : expected) {
        EXPECT_EQ(FormatField(descriptor, field), text) << FieldName(field);
    }
}

TEST_F(DescriptorDisplay, FieldNamesAreDistinctAndSpelledAsInOutput)
{
    std::set<std::string> names;
    for (const DescriptorField field : DISPLAYED_FIELDS) {
        names.insert(FieldName(field));
    }
    EXPECT_EQ(names.size(), DISPLAYED_FIELDS.size());
    EXPECT_STREQ(FieldName(DescriptorField::HwVersion), "HwVersion");
    EXPECT_STREQ(FieldName(DescriptorField::CodeSegment), "CodeSegment");
}

}  // namespace
}  // namespace tarvik
