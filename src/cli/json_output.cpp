#include "cli/json_output.h"

#include "platform/formats/utf8_text.h"

namespace tarvik::cli {

Json JsonText(std::string_view text)
{
    return Json(Utf8Escaped(text));
}

std::string JsonLine(const Json& value, int indent)
{
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json DescriptorJson(const ImageDescriptor& descriptor, std::string_view nameKey,
                    std::string_view name)
{
    Json object = Json::object();
    if (!nameKey.empty()) {
        object[std::string(nameKey)] = JsonText(name);
    }
    for (const DescriptorField field : DISPLAYED_FIELDS) {
        object[FieldName(field)] = FormatField(descriptor, field);
    }
    return object;
}

Json NamesJson(const std::vector<std::string>& names)
{
    Json array = Json::array();
    for (const std::string& name : names) {
        array.push_back(JsonText(name));
    }
    return array;
}

Json ErrorJson(std::string_view text)
{
    return Json{{"error", JsonText(text)}};
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
