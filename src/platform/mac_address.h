#pragma once

#include <array>
#include <cstdint>

namespace tarvik {

using MacAddress = std::array<std::uint8_t, 6>;

inline constexpr MacAddress BROADCAST_ADDRESS = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

}  // namespace tarvik
