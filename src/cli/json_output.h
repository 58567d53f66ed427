#pragma once
// Machine-readable results: a descriptor as an object keyed by its field names in row order
// (values in their display forms), the browse list as an array of device names, and a
// failure as {"error": "<the fixed text>"}.

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/failure_catalogue.h"
#include "image/descriptor.h"

namespace tarvik::cli {

using Json = nlohmann::ordered_json;

// nameKey/name lead the object ("DeviceName" or "FileName"); an empty key leaves them out.
Json DescriptorJson(const ImageDescriptor& descriptor, std::string_view nameKey = {},
                    std::string_view name = {});
Json NamesJson(const std::vector<std::string>& names);
Json ErrorJson(std::string_view text);
// An explained exit status: status, message (empty when it shows none), meaning, causes, remedy.
Json ExplainedJson(const ExplainedStatus& explained);

}  // namespace tarvik::cli
