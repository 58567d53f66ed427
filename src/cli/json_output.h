#pragma once
// Machine-readable results: a descriptor as an object keyed by its field names in row order
// (values in their display forms), the browse list as an array of device names, and a
// failure as {"error": "<the fixed text>"}. Text from outside (file names, names given on the
// command line, what a history file holds) enters an object through JsonText, so that every
// string in it is UTF-8; JsonLine writes an object and cannot fail.

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/failure_catalogue.h"
#include "image/descriptor.h"

namespace tarvik::cli {

using Json = nlohmann::ordered_json;

// The text as a JSON string: bytes that are not UTF-8 written as \\xHH (see Utf8Escaped).
Json JsonText(std::string_view text);
// The object in one line, without its newline. A string that is not UTF-8 (one that did not
// come through JsonText) has its bad bytes replaced by U+FFFD instead of ending the program.
std::string JsonLine(const Json& value, int indent = -1);

// nameKey/name lead the object ("DeviceName" or "FileName"); an empty key leaves them out.
Json DescriptorJson(const ImageDescriptor& descriptor, std::string_view nameKey = {},
                    std::string_view name = {});
Json NamesJson(const std::vector<std::string>& names);
Json ErrorJson(std::string_view text);
// An explained exit status: status, message (empty when it shows none), meaning, causes, remedy.
Json ExplainedJson(const ExplainedStatus& explained);

}  // namespace tarvik::cli
