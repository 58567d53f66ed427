#include "cli/json_output.h"

namespace tarvik::cli {

Json DescriptorJson(const ImageDescriptor& descriptor, std::string_view nameKey,
                    std::string_view name)
{
    Json object = Json::object();
    if (!nameKey.empty()) {
        object[std::string(nameKey)] = std::string(name);
    }
    for (const DescriptorField field : DISPLAYED_FIELDS) {
        object[FieldName(field)] = FormatField(descriptor, field);
    }
    return object;
}

Json NamesJson(const std::vector<std::string>& names)
{
    return Json(names);
}

Json ErrorJson(std::string_view text)
{
    return Json{{"error", std::string(text)}};
}

Json ExplainedJson(const ExplainedStatus& explained)
{
    return Json{{"status", explained.ExitStatus},
                {"message", std::string(explained.Text)},
                {"meaning", std::string(explained.Meaning)},
                {"causes", std::string(explained.Causes)},
                {"remedy", std::string(explained.Remedy)}};
}

}  // namespace tarvik::cli
