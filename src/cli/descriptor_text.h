#pragma once
// A descriptor as a technician reads it: one labelled row per field, as the information
// dialogs show them.

#include <string>
#include <string_view>

#include "image/descriptor.h"

namespace tarvik::cli {

// The first row names the file or the device ("File Name:" / "Device Name:").
std::string DescriptorText(const ImageDescriptor& descriptor, std::string_view nameLabel,
                           std::string_view name);

}  // namespace tarvik::cli
