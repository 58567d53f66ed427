#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

using MacAddress = std::array<std::uint8_t, 6>;

inline constexpr MacAddress BROADCAST_ADDRESS = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// "02:5a:17:00:00:0b": lower case with colons, as ip(8) shows it and BPF programs take it.
std::string FormatMacAddress(const MacAddress& address);
// "02:5a:17:00:00:0b", "02-5A-17-00-00-0B" or "025A1700000B"; nothing for anything else.
std::optional<MacAddress> ParseMacAddress(std::string_view text);

}  // namespace tarvik
