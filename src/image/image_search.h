#pragma once
// The two searches behind ReadImageDescriptor, each over an open file and through a buffer
// the caller lends. They read the file in large pieces but give the results of a search that
// slides a 70-byte window over the file (for the header) and reads it block by block (for
// the trailer).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "image/descriptor.h"
#include "platform/files/file_system.h"

namespace tarvik {

inline constexpr std::size_t IMAGE_READ_BUFFER_BYTES = 64 * 1024;

// Reads the file from its current offset to the first offset p at which the header magic
// stands both at p and at p + 63 with all 70 bytes in the file, and copies the 56 bytes at
// p + 7 into descriptor. False at the end of the file or on a read error; a read error
// counts as the end, so a header that lies wholly in bytes delivered before it is still found.
// buffer: at least IMAGE_HEADER_BYTES.
bool FindImageHeader(ReadOnlyFile& file, std::span<std::uint8_t> buffer,
                     ImageDescriptor& descriptor);

// Reads the file from its current offset in 1024-byte blocks and, in the first block that
// ends with the trailer magic, takes ProductId, ProtocolId and FwVersion into descriptor.
// False when the file ends (a last, partial block included) or a read fails first.
// buffer: at least TRAILER_BLOCK_BYTES.
bool FindTrailerBlock(ReadOnlyFile& file, std::span<std::uint8_t> buffer,
                      ImageDescriptor& descriptor);

// ReadImageDescriptor through the caller's buffer (at least TRAILER_BLOCK_BYTES).
int ReadImageDescriptor(FileSystem& files, const std::string& path, std::span<std::uint8_t> buffer,
                        ImageDescriptor& descriptor);

}  // namespace tarvik
