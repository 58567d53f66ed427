#include "commands/carrier_log.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "platform/files/file_system.h"
#include "platform/files/path_text.h"
#include "platform/host/user_identity.h"

namespace tarvik {
namespace {

// A whole field of decimal digits, no sign.
template <typename Value>
bool Number(const std::string& text, Value& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, failed] = std::from_chars(text.data(), end, value);
    return !text.empty() && text.front() != '-' && failed == std::errc() && stop == end;
}

}  // namespace

CarrierLog CarrierLog::FromText(std::string_view text)
{
    CarrierLog log;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with('#')) {
            continue;
        }
        std::istringstream fields(line);
        std::string name, changes, checked, rest;
        CarrierRecord record;
        if (fields >> name >> changes >> checked && !(fields >> rest) &&
            Number(changes, record.Changes) && Number(checked, record.CheckedMs)) {
            log.records_[name] = record;
        }
    }
    return log;
}

CarrierLog CarrierLog::Load(const std::string& path)
{
    std::ifstream file(PathOf(path), std::ios::binary);
    if (!file) {
        return {};
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return FromText(text);
}

std::optional<CarrierRecord> CarrierLog::Last(const std::string& interfaceName) const
{
    const auto found = records_.find(interfaceName);
    return found == records_.end() ? std::nullopt : std::optional(found->second);
}

void CarrierLog::Set(const std::string& interfaceName, const CarrierRecord& record)
{
    records_[interfaceName] = record;
}

std::string CarrierLog::Text() const
{
    std::string text = "# tarvik-cli doctor: each interface's carrier changes when last checked\n";
    for (const auto& [name, record] : records_) {
        text += name + " " + std::to_string(record.Changes) + " " +
                std::to_string(record.CheckedMs) + "\n";
    }
    return text;
}

bool CarrierLog::Save(const std::string& path, std::string& error) const
{
    const std::filesystem::path target = PathOf(path);
    std::error_code failed;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), failed);
        if (failed) {
            error = "cannot create " + TextOf(target.parent_path()) + ": " + failed.message();
            return false;
        }
    }
    // Written beside it and renamed over it: a check cut short leaves the last whole log.
    const std::string text = Text();
    return ReplaceFileWhole(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size()),
                            error);
}

std::string DefaultCarrierLogPath()
{
    const std::string folder = UserStateFolder();
    return folder.empty() ? folder : JoinPath(folder, "carrier-changes");
}

}  // namespace tarvik
