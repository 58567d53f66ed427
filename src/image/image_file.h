#pragma once
// The image file reader: finds the 70-byte header anywhere in the file and, when the header
// leaves the firmware version empty, the 1024-byte trailer block that completes it.

#include <string>

#include "image/descriptor.h"
#include "platform/files/file_system.h"

namespace tarvik {

inline constexpr std::size_t IMAGE_HEADER_BYTES = 70;
inline constexpr std::size_t TRAILER_BLOCK_BYTES = 1024;
inline constexpr char HEADER_MAGIC[] = "tAvIrOn";  // 7 bytes, at header offsets 0 and 63
inline constexpr char TRAILER_MAGIC[] = "aViRoN";  // 6 bytes, at block offset 1018

// Where the trailer block keeps the three fields it supplies, each in the descriptor's order.
inline constexpr std::size_t TRAILER_PRODUCT_ID = 1010;
inline constexpr std::size_t TRAILER_PROTOCOL_ID = 1012;
inline constexpr std::size_t TRAILER_FW_VERSION = 1014;
inline constexpr std::size_t TRAILER_MAGIC_OFFSET = 1018;

// ReadImageDescriptor results.
inline constexpr int IMAGE_OK = 0;
inline constexpr int IMAGE_CANNOT_OPEN = 2;
inline constexpr int IMAGE_NO_DESCRIPTOR = 3;

// 0 found; 2 the file cannot be opened; 3 no header (or a read error), or no trailer block
// when one is needed. Closes the file on every path. Constant memory whatever the file size.
int ReadImageDescriptor(FileSystem& files, const std::string& path, ImageDescriptor& descriptor);

}  // namespace tarvik
