#include "image/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/image_file.h"
#include "platform/formats/byte_order.h"
#include "platform/files/file_system.h"

namespace tarvik {
namespace {

constexpr std::size_t HEADER_MAGIC_BYTES = sizeof HEADER_MAGIC - 1;
constexpr std::size_t TRAILER_MAGIC_BYTES = sizeof TRAILER_MAGIC - 1;

// splitmix64: the same bytes from the same seed on every machine and library.
class FillerBytes {
public:
    explicit FillerBytes(std::uint32_t seed) : state_(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_;
};

// Zero is in neither magic, so blanking the first byte of a chance match cannot make another.
void BreakMagic(std::span<std::uint8_t> bytes, const char* magic, std::size_t length)
{
    if (bytes.size() < length) {
        return;
    }
    for (std::size_t at = 0; at + length <= bytes.size(); ++at) {
        if (bytes[at] == static_cast<std::uint8_t>(magic[0]) &&
            std::memcmp(&bytes[at], magic, length) == 0) {
            bytes[at] = 0;
        }
    }
}

void PlaceClipped(std::span<std::uint8_t> image, std::size_t offset, const std::uint8_t* bytes,
                  std::size_t length)
{
    if (offset >= image.size()) {
        return;
    }
    std::copy_n(bytes, std::min(length, image.size() - offset),
                image.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

ImageDescriptor SampleDescriptor()
{
    ImageDescriptor descriptor;
    auto put = [&descriptor](std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(),
                  descriptor.Bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    put(DESC_PID_VERSION, {0x01, 0x00});
    put(DESC_UPGRADE_CONTROL, {0x00, 0x01});
    put(DESC_BOARD_CODE, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    put(DESC_HW_VERSION, {0x02, 0x01});
    put(DESC_PRODUCT_ID, {0x10, 0x20});
    put(DESC_PRODUCT_MASK, {0xFF, 0xF0});
    put(DESC_PROTOCOL_ID, {0x00, 0x07});
    put(DESC_PROTOCOL_MASK, {0xFF, 0xFF});
    put(DESC_FUNCTION_ID, {0x00, 0x03});
    put(DESC_FUNCTION_MASK, {0x00, 0xFF});
    put(DESC_FW_VERSION, {0x01, 0x03});
    descriptor.SetCodeSegment(0x1000);
    descriptor.SetCodeSize(64);  // KiB
    return descriptor;
}

ImageSpec SampleImageSpec()
{
    ImageSpec spec;
    spec.Size = SAMPLE_IMAGE_BYTES;
    spec.HeaderOffset = SAMPLE_HEADER_OFFSET;
    spec.Descriptor = SampleDescriptor();
    spec.Seed = 1;
    return spec;
}

void FillImageBytes(std::span<std::uint8_t> bytes, std::uint32_t seed)
{
    FillerBytes filler(seed);
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        StoreLe64(bytes, at, filler.Next());
    }
    std::array<std::uint8_t, 8> last{};
    StoreLe64(last, 0, filler.Next());
    std::copy_n(last.begin(), bytes.size() - at, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    BreakMagic(bytes, HEADER_MAGIC, HEADER_MAGIC_BYTES);
    BreakMagic(bytes, TRAILER_MAGIC, TRAILER_MAGIC_BYTES);
}

void PlaceHeader(std::span<std::uint8_t> image, std::size_t offset,
                 const ImageDescriptor& descriptor)
{
    std::array<std::uint8_t, IMAGE_HEADER_BYTES> header{};
    std::memcpy(header.data(), HEADER_MAGIC, HEADER_MAGIC_BYTES);
    std::copy(descriptor.Bytes.begin(), descriptor.Bytes.end(),
              header.begin() + HEADER_MAGIC_BYTES);
    std::memcpy(header.data() + HEADER_MAGIC_BYTES + DESCRIPTOR_BYTES, HEADER_MAGIC,
                HEADER_MAGIC_BYTES);
    PlaceClipped(image, offset, header.data(), header.size());
}

void PlaceTrailer(std::span<std::uint8_t> image, std::size_t blockIndex,
                  std::array<std::uint8_t, 2> productId, std::array<std::uint8_t, 2> protocolId,
                  std::array<std::uint8_t, 2> fwVersion)
{
    const std::size_t block = blockIndex * TRAILER_BLOCK_BYTES;
    PlaceClipped(image, block + TRAILER_PRODUCT_ID, productId.data(), 2);
    PlaceClipped(image, block + TRAILER_PROTOCOL_ID, protocolId.data(), 2);
    PlaceClipped(image, block + TRAILER_FW_VERSION, fwVersion.data(), 2);
    PlaceClipped(image, block + TRAILER_MAGIC_OFFSET,
                 reinterpret_cast<const std::uint8_t*>(TRAILER_MAGIC), TRAILER_MAGIC_BYTES);
}

std::vector<std::uint8_t> BuildImage(const ImageSpec& spec)
{
    std::vector<std::uint8_t> image(spec.Size);
    FillImageBytes(image, spec.Seed);
    if (spec.TrailerBlockIndex) {
        PlaceTrailer(image, *spec.TrailerBlockIndex, spec.TrailerProductId, spec.TrailerProtocolId,
                     spec.TrailerFwVersion);
    }
    if (spec.HeaderOffset) {
        PlaceHeader(image, *spec.HeaderOffset, spec.Descriptor);
    }
    return image;
}

bool WriteImageFile(const std::string& path, std::span<const std::uint8_t> bytes,
                    bool replaceExisting)
{
    return WriteNewFile(path, bytes, replaceExisting);
}

}  // namespace tarvik
