// MAC addresses and hex digits as text: the forms people type on a command line and the one
// BPF programs take.

#include "platform/formats/mac_address.h"

#include <gtest/gtest.h>

#include "platform/formats/hex_text.h"

namespace tarvik {
namespace {

constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x0B};

TEST(MacAddressText, FormatsLowerCaseWithColonsAndReadsEveryTypedForm)
{
    EXPECT_EQ(FormatMacAddress(DEVICE), "02:5a:17:00:00:0b");
    EXPECT_EQ(FormatMacAddress(BROADCAST_ADDRESS), "ff:ff:ff:ff:ff:ff");

    EXPECT_EQ(ParseMacAddress("02:5a:17:00:00:0b"), DEVICE);
    EXPECT_EQ(ParseMacAddress("02-5A-17-00-00-0B"), DEVICE);
    EXPECT_EQ(ParseMacAddress("025A1700000b"), DEVICE);
    EXPECT_EQ(ParseMacAddress(FormatMacAddress(BROADCAST_ADDRESS)), BROADCAST_ADDRESS);
}

TEST(MacAddressText, RefusesWrongLengthsMisplacedSeparatorsAndNonDigits)
{
    for (const char* text : {"", "025A1700000", "025A1700000B0", "02:5a:17:00:00",
                             "02:5a:17:00:00:0b:", "025:a1:70:00:00:b0", "02:5a:17:00:00:0g",
                             "02 5a 17 00 00 0b", "0x025A17000B", "02:5a:1700000b"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseMacAddress(text), std::nullopt);
    }
}

TEST(HexText, DigitsOfEitherCaseAndNothingElse)
{
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    for (const char c : {'g', 'G', '/', ':', '@', '`', ' ', 'x', '\0'}) {
        EXPECT_EQ(HexDigitValue(c), -1) << c;
    }

    EXPECT_EQ(ParseHexDigits("00fF7a"), (std::vector<std::uint8_t>{0x00, 0xFF, 0x7A}));
    EXPECT_EQ(ParseHexDigits(""), std::vector<std::uint8_t>{});
    EXPECT_EQ(ParseHexDigits("abc"), std::nullopt);
    EXPECT_EQ(ParseHexDigits("+f"), std::nullopt);
    EXPECT_EQ(ParseHexDigits("0 "), std::nullopt);
}

}  // namespace
}  // namespace tarvik
