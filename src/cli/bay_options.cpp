#include "cli/bay_options.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/capture/vlan_tagging.h"

namespace tarvik::cli {
namespace {

// A bay's name is what an operator reads on the board and types in a query: short, and
// without blanks or characters a shell or a file would take apart.
bool GoodName(std::string_view name)
{
    return !name.empty() && name.size() <= 32 &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
           });
}

std::optional<unsigned> Number(std::string_view text)
{
    unsigned value = 0;
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failed != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// IFACE or IFACE.VID, the VID 1 to 4094 when given.
bool GoodInterface(std::string_view name, std::string& error)
{
    if (name.empty() || name.size() > 64 ||
        name.find_first_of(" \t=") != std::string_view::npos) {
        error = "'" + std::string(name) + "' is not an interface name";
        return false;
    }
    if (HasBadVlanSuffix(name)) {
        error = "VLAN " + std::string(name.substr(name.rfind('.') + 1)) + " of " +
                std::string(name) + " is not 1 to 4094";
        return false;
    }
    return true;
}

std::optional<BaySpec> MakeBay(std::string_view name, std::string_view interfaceName,
                               std::string& error)
{
    if (!GoodName(name)) {
        error = "'" + std::string(name) +
                "' is not a bay name (1 to 32 letters, digits, '-', '_' or '.')";
        return std::nullopt;
    }
    if (!GoodInterface(interfaceName, error)) {
        return std::nullopt;
    }
    return BaySpec{std::string(name), std::string(interfaceName)};
}

}  // namespace

std::optional<BaySpec> ParseBay(std::string_view text, std::string& error)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        error = "'" + std::string(text) + "' is not NAME=IFACE[.VID]";
        return std::nullopt;
    }
    return MakeBay(text.substr(0, equals), text.substr(equals + 1), error);
}

std::optional<std::vector<BaySpec>> ParseBaysFile(std::string_view text, std::string& error)
{
    std::vector<BaySpec> bays;
    std::istringstream lines{std::string(text)};
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) {
            fields.push_back(word);
        }
        if (fields.empty()) {
            continue;
        }
        const auto at = [number](const std::string& why) {
            return "line " + std::to_string(number) + ": " + why;
        };
        if (fields.size() > 3 || fields.size() < 2) {
            error = at("a bay is NAME IFACE [VID]");
            return std::nullopt;
        }
        std::string interfaceName = fields[1];
        if (fields.size() == 3) {
            const std::optional<unsigned> vid = Number(fields[2]);
            if (!vid || *vid < 1 || *vid > 4094) {
                error = at("VLAN " + fields[2] + " is not 1 to 4094");
                return std::nullopt;
            }
            interfaceName += "." + fields[2];
        }
        std::optional<BaySpec> bay = MakeBay(fields[0], interfaceName, error);
        if (!bay) {
            error = at(error);
            return std::nullopt;
        }
        bays.push_back(std::move(*bay));
    }
    if (bays.empty()) {
        error = "no bay in it";
        return std::nullopt;
    }
    return bays;
}

std::optional<LabBays> ParseLabBays(std::string_view text, std::string& error)
{
    const std::size_t x = text.find('x');
    const std::optional<unsigned> bays = Number(text.substr(0, x));
    const std::optional<unsigned> devices =
        x == std::string_view::npos ? std::optional<unsigned>(1) : Number(text.substr(x + 1));
    if (!bays || !devices || *bays < 1 || *bays > MAX_BAYS || *devices < 1 ||
        *devices > MAX_BAYS || *bays * *devices > 1024) {
        error = "'" + std::string(text) +
                "' is not BAYSxDEVICES (each 1 to 256, at most 1024 devices in all)";
        return std::nullopt;
    }
    return LabBays{*bays, *devices};
}

bool BayNamesUnique(const std::vector<BaySpec>& bays, std::string& error)
{
    std::set<std::string> seen;
    for (const BaySpec& bay : bays) {
        if (!seen.insert(bay.Name).second) {
            error = "the bay " + bay.Name + " is named twice";
            return false;
        }
    }
    if (bays.size() > MAX_BAYS) {
        error = std::to_string(bays.size()) + " bays; a station serves at most " +
                std::to_string(MAX_BAYS);
        return false;
    }
    return true;
}

std::optional<std::vector<BaySpec>> GatherBays(std::vector<BaySpec> named, const std::string& file,
                                               std::string& error)
{
    if (!file.empty()) {
        std::ifstream input(file, std::ios::binary);
        std::ostringstream text;
        text << input.rdbuf();
        std::optional<std::vector<BaySpec>> read;
        if (!input) {
            error = "it cannot be read";
        } else {
            read = ParseBaysFile(text.str(), error);
        }
        if (!read) {
            error = "the bays in " + file + ": " + error;
            return std::nullopt;
        }
        named.insert(named.end(), read->begin(), read->end());
    }
    if (!BayNamesUnique(named, error)) {
        return std::nullopt;
    }
    return named;
}

}  // namespace tarvik::cli
