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

// The first position in [from, last] where the magic's first two bytes stand, or last + 1;
// bytes[last + 1] must be readable. In random code bytes the first byte alone stands every
// 256 bytes, which makes a byte-wise search stop and restart too often to keep pace with
// reading the file; the pair stands once in 64 KiB. Each compare tests sixteen positions.
std::size_t FindMagicStart(const std::uint8_t* bytes, std::size_t from, std::size_t last)
{
    using Lanes = std::uint8_t __attribute__((vector_size(16)));
    constexpr auto FIRST = static_cast<std::uint8_t>(HEADER_MAGIC[0]);
    constexpr auto SECOND = static_cast<std::uint8_t>(HEADER_MAGIC[1]);
    constexpr std::size_t STEP = 64;

    std::size_t at = from;
    for (; at + STEP - 1 <= last; at += STEP) {
        Lanes hits{};
        for (std::size_t lane = 0; lane < STEP; lane += sizeof(Lanes)) {
            Lanes here;
            Lanes next;
            std::memcpy(&here, bytes + at + lane, sizeof here);
            std::memcpy(&next, bytes + at + lane + 1, sizeof next);
            hits |= reinterpret_cast<Lanes>((here == FIRST) & (next == SECOND));
        }
        std::uint64_t halves[2];
        std::memcpy(halves, &hits, sizeof halves);
        if ((halves[0] | halves[1]) != 0) {
            break;
        }
    }
    for (; at <= last; ++at) {
        if (bytes[at] == FIRST && bytes[at + 1] == SECOND) {
            return at;
        }
    }
    return last + 1;
}

void TakeTrailerField(ImageDescriptor& descriptor, std::size_t field, const std::uint8_t* block,
                      std::size_t offset)
{
    descriptor.Bytes[field] = block[offset];
    descriptor.Bytes[field + 1] = block[offset + 1];
}

// The file's bytes in order, a buffer at a time: what a search has not settled yet stays at
// the front of the buffer, and the next read appends to it. Both searches leave less than the
// buffer unsettled, so there is always room to read.
class ReadAhead {
public:
    ReadAhead(ReadOnlyFile& file, std::span<std::uint8_t> buffer) : file_(file), buffer_(buffer) {}

    // False at the end of the file or on a read error.
    bool Fill()
    {
        const std::int64_t got = file_.Read(buffer_.data() + count_, buffer_.size() - count_);
        if (got <= 0) {
            return false;
        }
        count_ += static_cast<std::size_t>(got);
        return true;
    }
    const std::uint8_t* Data() const { return buffer_.data(); }
    std::size_t Count() const { return count_; }
    // The first settled bytes are done with.
    void Drop(std::size_t settled)
    {
        std::memmove(buffer_.data(), buffer_.data() + settled, count_ - settled);
        count_ -= settled;
    }

private:
    ReadOnlyFile& file_;
    std::span<std::uint8_t> buffer_;
    std::size_t count_ = 0;
};

}  // namespace

bool FindImageHeader(ReadOnlyFile& file, std::span<std::uint8_t> buffer,
                     ImageDescriptor& descriptor)
{
    ReadAhead input(file, buffer);
    while (input.Fill()) {
        const std::uint8_t* const bytes = input.Data();
        const std::size_t count = input.Count();
        // Every position with 70 bytes behind it is settled now; the last 69 bytes may begin
        // a header that the next read completes, so they are carried over.
        if (count >= IMAGE_HEADER_BYTES) {
            const std::size_t last = count - IMAGE_HEADER_BYTES;
            for (std::size_t at = 0; (at = FindMagicStart(bytes, at, last)) <= last; ++at) {
                if (IsHeaderAt(bytes + at)) {
                    std::copy_n(bytes + at + HEADER_DESCRIPTOR, DESCRIPTOR_BYTES,
                                descriptor.Bytes.begin());
                    return true;
                }
            }
        }
        input.Drop(count >= IMAGE_HEADER_BYTES - 1 ? count - (IMAGE_HEADER_BYTES - 1) : 0);
    }
    return false;
}

bool FindTrailerBlock(ReadOnlyFile& file, std::span<std::uint8_t> buffer,
                      ImageDescriptor& descriptor)
{
    ReadAhead input(file, buffer);
    while (input.Fill()) {
        std::size_t block = 0;
        for (; input.Count() - block >= TRAILER_BLOCK_BYTES; block += TRAILER_BLOCK_BYTES) {
            const std::uint8_t* const at = input.Data() + block;
            if (std::memcmp(at + TRAILER_MAGIC_OFFSET, TRAILER_MAGIC, TRAILER_MAGIC_BYTES) == 0) {
                TakeTrailerField(descriptor, DESC_PRODUCT_ID, at, TRAILER_PRODUCT_ID);
                TakeTrailerField(descriptor, DESC_PROTOCOL_ID, at, TRAILER_PROTOCOL_ID);
                TakeTrailerField(descriptor, DESC_FW_VERSION, at, TRAILER_FW_VERSION);
                return true;
            }
        }
        input.Drop(block);
    }
    return false;
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
