#pragma once
// The station's bays as the command line gives them: --bay NAME=IFACE[.VID] (repeatable),
// --bays FILE (one bay per line: NAME IFACE [VID]; # starts a comment), and on the lab
// --lab-bays BAYSxDEVICES (that many bays, each holding that many devices with the same
// addresses as every other bay's).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::cli {

struct BaySpec {
    std::string Name;       // as the board, the records and the events show it
    std::string Interface;  // "eth1", or "eth0.12" for VLAN 12 on eth0
};

// The most bays one station serves.
inline constexpr std::size_t MAX_BAYS = 256;

// NAME=IFACE[.VID]; nothing, with why in error, when the text is not such a bay.
std::optional<BaySpec> ParseBay(std::string_view text, std::string& error);
// A bays file's text; nothing, with why (and the line) in error.
std::optional<std::vector<BaySpec>> ParseBaysFile(std::string_view text, std::string& error);

// What --lab-bays asks of the lab.
struct LabBays {
    std::size_t Bays = 0;
    std::size_t DevicesPerBay = 0;
};
// BAYSxDEVICES (each 1 to 256, at most 1024 devices in all); nothing, with why in error.
std::optional<LabBays> ParseLabBays(std::string_view text, std::string& error);

// The bays' names: duplicates refused, with the name in error.
bool BayNamesUnique(const std::vector<BaySpec>& bays, std::string& error);

// A command's bays: those of --bay, then those of the --bays file (none when file is empty),
// their names each once; nothing, with why in error, when the file cannot be read or holds no
// good bays, or a name is given twice.
std::optional<std::vector<BaySpec>> GatherBays(std::vector<BaySpec> named, const std::string& file,
                                               std::string& error);

}  // namespace tarvik::cli
