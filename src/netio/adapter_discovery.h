#pragma once
// Finding the network adapters at start-up: list the adapters the registry names, one
// operation per family of the first platform, and open one of them through the binding and
// start reception. The choice among several is the start-up sequence's (commands/).

#include <string>
#include <string_view>
#include <vector>

#include "netio/binding.h"
#include "platform/registry/registry.h"

namespace tarvik {

// Results of FindAdapters9x and FindAdaptersNT (and of the listing and opening steps).
inline constexpr int DISCOVERY_OK = 0;          // open, reception running
inline constexpr int DISCOVERY_NO_ADAPTER = 1;  // nothing usable listed
inline constexpr int DISCOVERY_OPEN_ADAPTER_FAILED = 2;
inline constexpr int DISCOVERY_OPEN_REGISTRY_FAILED = 3;    // the enumerated key is missing
inline constexpr int DISCOVERY_OPEN_EVENT_FAILED = 4;       // OpenRequestEvent failed
inline constexpr int DISCOVERY_START_RECEPTION_FAILED = 5;  // StartReception failed

inline constexpr std::string_view NET_CLASS_KEY_9X =
    "System\\CurrentControlSet\\Services\\Class\\Net";
inline constexpr std::string_view NETWORK_CARDS_KEY_NT = NT_NETWORK_CARDS_KEY;

// Buffer sizes of the registry reads; a longer subkey name ends the enumeration, a longer
// value reads as empty.
inline constexpr std::uint32_t SUBKEY_NAME_CHARS = 16;
inline constexpr std::uint32_t VALUE_TEXT_BYTES = 261;
inline constexpr std::uint32_t HIDDEN_VALUE_BYTES = 4;

// The adapters found, in registry enumeration order. Entry i of Descriptions and of Names
// describe the same adapter; Count is their number. Every usable adapter is kept.
struct AdapterList {
    int Count = 0;
    int Selection = 0;                      // the adapter chosen by the selection step
    std::vector<std::string> Descriptions;  // what the user sees
    std::vector<std::string> Names;         // what the packet driver opens

    void Add(std::string description, std::string name);
};

// Lists the 95/98 family's adapters: every subkey of NET_CLASS_KEY_9X is opened by its name
// through the binding, kept when it reports the 802.3 medium, and closed again; nothing stays
// open. DISCOVERY_OK with at least one listed; otherwise 3 (no key), 1 (every probe opened,
// none was 802.3) or 2 (some probe could not open).
int ListAdapters9x(Registry& registry, Binding& binding, AdapterList& list);

// Lists the NT family's cards under NETWORK_CARDS_KEY_NT, skipping those with a "Hidden"
// value; opens nothing. DISCOVERY_OK with at least one listed; otherwise 3 or 1.
int ListAdaptersNT(Registry& registry, AdapterList& list);

// The opening steps on one name: open (2 on failure), OpenRequestEvent (4), StartReception (5).
int OpenListedAdapter(Binding& binding, const std::string& name);

// The index of the adapter whose name is name, or is ADAPTER_NAME_PREFIX + name (so "eth0"
// finds "\Device\eth0"); -1 when none.
int FindAdapterIndex(const AdapterList& list, std::string_view name);

// For a name IFACE.VID (VID 1..4094) whose IFACE is listed: adds the VLAN's adapter (on the
// system's interface of that name where it has one, else tagged by the driver on IFACE) after
// the listed ones and returns its index; -1 for any other name.
int AddVlanAdapter(AdapterList& list, std::string_view name);

}  // namespace tarvik
