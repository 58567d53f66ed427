#pragma once
// Makes image files: for the tests, the lab and the tarvik-mkimage tool. The filler between
// the planted header and trailer is pseudo-random, repeatable from a seed, and never holds
// either magic by accident.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/descriptor.h"

namespace tarvik {

struct ImageSpec {
    std::size_t Size = 64 * 1024;
    // Where the 70-byte header starts; none for a file without one. A header that would run
    // past the end of the file is cut off there.
    std::optional<std::size_t> HeaderOffset = 0x200;
    ImageDescriptor Descriptor{};
    // The index k of the 1024-byte block at offset 1024·k that carries the trailer; none for
    // a file without one. A block that would run past the end of the file is cut off there.
    std::optional<std::size_t> TrailerBlockIndex;
    std::array<std::uint8_t, 2> TrailerProductId{};
    std::array<std::uint8_t, 2> TrailerProtocolId{};
    std::array<std::uint8_t, 2> TrailerFwVersion{};
    std::uint32_t Seed = 1;
};

// The lab's sample image: 64 KiB, header at 0x200, SampleDescriptor(), seed 1.
inline constexpr std::size_t SAMPLE_IMAGE_BYTES = 64 * 1024;
inline constexpr std::size_t SAMPLE_HEADER_OFFSET = 0x200;

// The descriptor of the lab's sample image and its emulated targets: board code 001122334455,
// firmware version 0103, code segment 0x1000.
ImageDescriptor SampleDescriptor();
ImageSpec SampleImageSpec();

std::vector<std::uint8_t> BuildImage(const ImageSpec& spec);

// Pseudo-random bytes from the seed, free of both magics.
void FillImageBytes(std::span<std::uint8_t> bytes, std::uint32_t seed);
// Writes the 70-byte header (magic, descriptor, magic) at offset; the part past the end of
// image is left out.
void PlaceHeader(std::span<std::uint8_t> image, std::size_t offset,
                 const ImageDescriptor& descriptor);
// Writes the trailer fields and magic into the block at 1024·blockIndex, clipped like PlaceHeader.
void PlaceTrailer(std::span<std::uint8_t> image, std::size_t blockIndex,
                  std::array<std::uint8_t, 2> productId, std::array<std::uint8_t, 2> protocolId,
                  std::array<std::uint8_t, 2> fwVersion);

// Writes bytes to path. When replaceExisting is false an existing file is left alone and the
// call fails.
bool WriteImageFile(const std::string& path, std::span<const std::uint8_t> bytes,
                    bool replaceExisting = true);

}  // namespace tarvik
