#pragma once
// What a user does about a finding of `doctor`, in the words and tools of the system in front
// of them. The judgement (what is wrong, how badly) is written once above this layer; it names
// a remedy and the facts to fill in, and each system's table gives the text: `sudo ip link` on
// Linux, the adapter's settings, `netsh` and "Run as administrator" on Windows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace tarvik {

// The remedies whose words differ between systems. A text may hold fields in braces, filled
// from the facts: {interface}, {mtu}, {bridge}, {wait}, {binary}, {group}, {user}, {explain}.
enum class Remedy : std::uint8_t {
    NoSuchInterface,
    NoAdapter,               // no usable wired adapter at all
    BringUp,                 // {interface} is down
    SetMtu,                  // {interface} {mtu}: a block's frame does not pass
    RaiseMtu,                // {interface} {mtu}: small, but a block passes
    ReleaseFromManager,      // {interface}: NetworkManager runs it
    ReleaseFromNetworkd,     // {interface}: systemd-networkd runs it
    WaitOrStopSpanningTree,  // {wait} {bridge}: the port drops frames while it learns
    BringBridgeUp,           // {bridge}
    SpanningTreeOff,         // {bridge}: on, with a forward delay
    CloseOtherRawSockets,    // another program sends and receives raw frames there
    RejoinSession,           // {group}: granted after this session began
    PrivilegeNotGranted,     // {binary}: the right it carries was not given
    NoPrivilege,             // {binary}: neither the administrator's rights nor the right
    NoPrivilegeOrJoinGroup,  // {binary} {group} {user}: ... and the group exists
    FilterRefused,           // {explain}: reception did not start on an open adapter
};
inline constexpr std::size_t REMEDY_COUNT = static_cast<std::size_t>(Remedy::FilterRefused) + 1;

struct RemedyRow {
    Remedy Which;
    std::string_view Text;
};
using RemedyTable = std::array<RemedyRow, REMEDY_COUNT>;

// Each system's table. Both are plain data in a portable file, so either can be read (and
// tested) anywhere; SystemRemedies picks the one of the system the program runs on.
extern const RemedyTable LINUX_REMEDIES;
extern const RemedyTable WINDOWS_REMEDIES;
const RemedyTable& SystemRemedies();

// Whether each row stands at the index of its remedy, with a text.
constexpr bool RowsStandAtTheirRemedies(const RemedyTable& table)
{
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (static_cast<std::size_t>(table[i].Which) != i || table[i].Text.empty()) {
            return false;
        }
    }
    return true;
}

using RemedyField = std::pair<std::string_view, std::string>;

// The remedy's text from the table with the fields filled in; a field not given stays as
// written.
std::string RemedyText(const RemedyTable& table, Remedy remedy,
                       std::initializer_list<RemedyField> fields = {});

// The same from this system's table.
inline std::string RemedyText(Remedy remedy, std::initializer_list<RemedyField> fields = {})
{
    return RemedyText(SystemRemedies(), remedy, fields);
}

}  // namespace tarvik
