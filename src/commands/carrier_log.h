#pragma once
// What `doctor` last saw of each interface's carrier-change counter, kept between checks in a
// small file of the user's state folder: one line per interface, "NAME CHANGES WHEN" (WHEN in
// milliseconds since 1970, UTC). The counter is the system's; doctor only remembers it, so the
// next check can say how often the link came and went in between.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

struct CarrierRecord {
    std::uint64_t Changes = 0;
    std::int64_t CheckedMs = 0;  // when it was seen, milliseconds since 1970 (UTC)
    bool operator==(const CarrierRecord&) const = default;
};

class CarrierLog {
public:
    // The log in a file's text; a line that is not a record is passed over.
    static CarrierLog FromText(std::string_view text);
    // The log in the file at path; empty when there is none yet or it cannot be read.
    static CarrierLog Load(const std::string& path);

    std::optional<CarrierRecord> Last(const std::string& interfaceName) const;
    void Set(const std::string& interfaceName, const CarrierRecord& record);

    std::string Text() const;
    // Writes the whole log (its folder made when missing), replacing the file in one step;
    // false, with why in error, when it could not.
    bool Save(const std::string& path, std::string& error) const;

private:
    std::map<std::string, CarrierRecord> records_;
};

// carrier-changes in the user's state folder; empty when the environment names no home.
std::string DefaultCarrierLogPath();

}  // namespace tarvik
