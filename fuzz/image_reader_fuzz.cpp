// The image reader on any file content. The reader scans through a large buffer, takes reads
// of any length and treats a read error as the end of the file; whatever the pieces, it must
// find what a plain search over the bytes it could read finds. Then the descriptor's display
// forms must say what the descriptor holds.
//
// Input: four option bytes, then the file.
//   [0]    0: every read delivers all it may; n: reads of 1 to n·n/16 + 1 bytes
//   [1..2] little-endian v; 0: no read error; v: every read from offset v − 1 on fails
//   [3]    0: the reader's own 64 KiB buffer; n: a lent buffer of 1024 + 7·n bytes

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/descriptor.h"
#include "image/image_file.h"
#include "image/image_search.h"
#include "image/memory_file_system.h"
#include "platform/formats/byte_order.h"
#include "platform/formats/hex_text.h"

namespace tarvik {
namespace {

constexpr std::size_t OPTION_BYTES = 4;
constexpr char IMAGE_PATH[] = "image.bin";
constexpr std::size_t HEADER_MAGIC_BYTES = sizeof HEADER_MAGIC - 1;
constexpr std::size_t HEADER_CLOSING_MAGIC = IMAGE_HEADER_BYTES - HEADER_MAGIC_BYTES;
constexpr std::size_t TRAILER_MAGIC_BYTES = sizeof TRAILER_MAGIC - 1;

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "image reader fault: %s\n", what);
    std::abort();
}

// The header is the first 70 bytes with the magic at both ends; when it leaves the firmware
// version empty, the first whole 1024-byte block ending with the trailer magic completes it.
int PlainSearch(std::span<const std::uint8_t> bytes, ImageDescriptor& descriptor)
{
    const auto headerMagicAt = [&](std::size_t at) {
        return std::memcmp(bytes.data() + at, HEADER_MAGIC, HEADER_MAGIC_BYTES) == 0;
    };
    std::optional<std::size_t> header;
    for (std::size_t at = 0; at + IMAGE_HEADER_BYTES <= bytes.size(); ++at) {
        if (headerMagicAt(at) && headerMagicAt(at + HEADER_CLOSING_MAGIC)) {
            header = at;
            break;
        }
    }
    if (!header) {
        return IMAGE_NO_DESCRIPTOR;
    }
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(*header + HEADER_MAGIC_BYTES),
                DESCRIPTOR_BYTES, descriptor.Bytes.begin());
    if (!descriptor.FwVersionIsZero()) {
        return IMAGE_OK;
    }
    for (std::size_t block = 0; block + TRAILER_BLOCK_BYTES <= bytes.size();
         block += TRAILER_BLOCK_BYTES) {
        const std::uint8_t* at = bytes.data() + block;
        if (std::memcmp(at + TRAILER_MAGIC_OFFSET, TRAILER_MAGIC, TRAILER_MAGIC_BYTES) == 0) {
            std::copy_n(at + TRAILER_PRODUCT_ID, 2, descriptor.Bytes.begin() + DESC_PRODUCT_ID);
            std::copy_n(at + TRAILER_PROTOCOL_ID, 2, descriptor.Bytes.begin() + DESC_PROTOCOL_ID);
            std::copy_n(at + TRAILER_FW_VERSION, 2, descriptor.Bytes.begin() + DESC_FW_VERSION);
            return IMAGE_OK;
        }
    }
    return IMAGE_NO_DESCRIPTOR;
}

void CheckDisplayForms(const ImageDescriptor& descriptor)
{
    for (const DescriptorField field : DISPLAYED_FIELDS) {
        const char* name = FieldName(field);
        if (name == nullptr || *name == '\0') {
            Fault("a displayed field without a name");
        }
        const std::string text = FormatField(descriptor, field);
        if (field == DescriptorField::CodeSize) {
            if (text != std::to_string(descriptor.CodeSize())) {
                Fault("CodeSize is not shown as its unsigned number");
            }
            continue;
        }
        const auto bytes = ParseHexDigits(text);
        if (!bytes || bytes->empty() ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c < 'a' || c > 'f'; })) {
            Fault("a field is not shown as upper-case hex bytes");
        }
        if (field == DescriptorField::CodeSegment) {
            if (bytes->size() != 2 ||
                (std::uint16_t{(*bytes)[0]} << 8 | (*bytes)[1]) != descriptor.CodeSegment()) {
                Fault("CodeSegment is not shown as its four-digit number");
            }
            continue;
        }
        if (std::search(descriptor.Bytes.begin(), descriptor.Bytes.end(), bytes->begin(),
                        bytes->end()) == descriptor.Bytes.end()) {
            Fault("a field shows bytes the descriptor does not hold");
        }
    }
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvik;
    if (size < OPTION_BYTES) {
        return -1;
    }
    const std::span<const std::uint8_t> options(data, OPTION_BYTES);
    const std::span<const std::uint8_t> file(data + OPTION_BYTES, size - OPTION_BYTES);

    testing::MemoryFileBehaviour behaviour;
    if (options[0] != 0) {
        behaviour.MaxChunk = std::size_t{options[0]} * options[0] / 16 + 1;
    }
    std::span<const std::uint8_t> readable = file;
    if (const std::uint16_t errorAt = LoadLe16(options, 1); errorAt != 0) {
        behaviour.ErrorAt = errorAt - 1u;
        readable = file.first(std::min<std::size_t>(file.size(), errorAt - 1u));
    }
    testing::MemoryFileSystem files;
    files.Add(IMAGE_PATH, {file.begin(), file.end()}, behaviour);

    ImageDescriptor found;
    int result = 0;
    if (options[3] == 0) {
        result = ReadImageDescriptor(files, IMAGE_PATH, found);
    } else {
        std::vector<std::uint8_t> buffer(TRAILER_BLOCK_BYTES + std::size_t{options[3]} * 7);
        result = ReadImageDescriptor(files, IMAGE_PATH, buffer, found);
    }
    if (files.OpenNow() != 0) {
        Fault("the reader left the image file open");
    }

    ImageDescriptor expected;
    if (result != PlainSearch(readable, expected)) {
        Fault("the reader's result differs from the plain search");
    }
    if (result == IMAGE_OK) {
        if (found != expected) {
            Fault("the reader took another descriptor than the plain search");
        }
        CheckDisplayForms(found);
    }
    return 0;
}
