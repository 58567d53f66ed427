#pragma once
// Multi-byte numbers on the wire, in the image descriptor and in registry values are stored
// least significant byte first. Every such number is read and written through these helpers,
// so the byte order is said here and nowhere else. The caller has checked that the bytes
// from offset on are there.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvik {

constexpr std::uint16_t LoadLe16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

constexpr void StoreLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::uint32_t LoadLe32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(LoadLe16(bytes, offset)) |
           static_cast<std::uint32_t>(LoadLe16(bytes, offset + 2)) << 16;
}

constexpr std::uint64_t LoadLe64(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint64_t>(LoadLe32(bytes, offset)) |
           static_cast<std::uint64_t>(LoadLe32(bytes, offset + 4)) << 32;
}

constexpr void StoreLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    StoreLe16(bytes, offset, static_cast<std::uint16_t>(value & 0xFFFF));
    StoreLe16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

constexpr void StoreLe64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value)
{
    StoreLe32(bytes, offset, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    StoreLe32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace tarvik
