#include "image/image_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/image_search.h"

namespace tarvik {
namespace {

constexpr std::size_t HEADER_MAGIC_BYTES = sizeof HEADER_MAGIC - 1;
constexpr std::size_t HEADER_CLOSING_MAGIC = IMAGE_HEADER_BYTES - HEADER_MAGIC_BYTES;
constexpr std::size_t HEADER_DESCRIPTOR = HEADER_MAGIC_BYTES;
constexpr std::size_t TRAILER_MAGIC_BYTES = sizeof TRAILER_MAGIC - 1;

static_assert(HEADER_DESCRIPTOR + DESCRIPTOR_BYTES == HEADER_CLOSING_MAGIC);
static_assert(TRAILER_MAGIC_OFFSET + TRAILER_MAGIC_BYTES == TRAILER_BLOCK_BYTES);

bool IsHeaderAt(const std::uint8_t* bytes)
{
    return std::memcmp(bytes, HEADER_MAGIC, HEADER_MAGIC_BYTES) == 0 &&
           std::memcmp(bytes + HEADER_CLOSING_MAGIC, HEADER_MAGIC, HEADER_MAGIC_BYTES) == 0;
}

void TakeTrailerField(ImageDescriptor& descriptor, std::size_t field, const std::uint8_t* block,
                      std::size_t offset)
{
    descriptor.Bytes[field] = block[offset];
    descriptor.Bytes[field + 1] = block[offset + 1];
}

}  // namespace

bool FindImageHeader(ReadOnlyFile& file, std::span<std::uint8_t> buffer, ImageDescriptor& descriptor)
{
    std::uint8_t* const bytes = buffer.data();
    std::size_t count = 0;
    for (;;) {
        // Fewer than 70 bytes are ever carried over, so there is always room to read.
        const std::int64_t got = file.Read(bytes + count, buffer.size() - count);
        if (got <= 0) {
            return false;
        }
        count += static_cast<std::size_t>(got);

        // Every position that starts with the magic's first byte is a candidate; one too
        // close to the end of what was read is kept, with what follows it, for the next read.
        std::size_t kept = count;
        for (std::size_t at = 0; at < count;) {
            const void* hit = std::memchr(bytes + at, HEADER_MAGIC[0], count - at);
            if (hit == nullptr) {
                break;
            }
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes);
            if (count - at < IMAGE_HEADER_BYTES) {
                kept = at;
                break;
            }
            if (IsHeaderAt(bytes + at)) {
                std::copy_n(bytes + at + HEADER_DESCRIPTOR, DESCRIPTOR_BYTES, descriptor.Bytes.begin());
                return true;
            }
            ++at;
        }
        std::memmove(bytes, bytes + kept, count - kept);
        count -= kept;
    }
}

bool FindTrailerBlock(ReadOnlyFile& file, std::span<std::uint8_t> buffer, ImageDescriptor& descriptor)
{
    std::uint8_t* const bytes = buffer.data();
    std::size_t count = 0;
    for (;;) {
        const std::int64_t got = file.Read(bytes + count, buffer.size() - count);
        if (got <= 0) {
            return false;
        }
        count += static_cast<std::size_t>(got);

        std::size_t block = 0;
        for (; count - block >= TRAILER_BLOCK_BYTES; block += TRAILER_BLOCK_BYTES) {
            const std::uint8_t* const at = bytes + block;
            if (std::memcmp(at + TRAILER_MAGIC_OFFSET, TRAILER_MAGIC, TRAILER_MAGIC_BYTES) == 0) {
                TakeTrailerField(descriptor, DESC_PRODUCT_ID, at, TRAILER_PRODUCT_ID);
                TakeTrailerField(descriptor, DESC_PROTOCOL_ID, at, TRAILER_PROTOCOL_ID);
                TakeTrailerField(descriptor, DESC_FW_VERSION, at, TRAILER_FW_VERSION);
                return true;
            }
        }
        std::memmove(bytes, bytes + block, count - block);
        count -= block;
    }
}

int ReadImageDescriptor(FileSystem& files, const std::string& path, ImageDescriptor& descriptor)
{
    std::vector<std::uint8_t> buffer(IMAGE_READ_BUFFER_BYTES);
    return ReadImageDescriptor(files, path, buffer, descriptor);
}

int ReadImageDescriptor(FileSystem& files, const std::string& path, std::span<std::uint8_t> buffer,
                        ImageDescriptor& descriptor)
{
    {
        const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
        if (!file) {
            return IMAGE_CANNOT_OPEN;
        }
        if (!FindImageHeader(*file, buffer, descriptor)) {
            return IMAGE_NO_DESCRIPTOR;
        }
    }
    if (!descriptor.FwVersionIsZero()) {
        return IMAGE_OK;
    }
    // The trailer block may lie before the header, so its search starts again from the top.
    const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        return IMAGE_CANNOT_OPEN;
    }
    return FindTrailerBlock(*file, buffer, descriptor) ? IMAGE_OK : IMAGE_NO_DESCRIPTOR;
}

}  // namespace tarvik
