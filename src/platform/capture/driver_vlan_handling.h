#pragma once
// Whether Tarvik can tag a VLAN itself on an adapter. A Windows NIC driver that handles 802.1Q
// itself (its advanced property "Priority & VLAN") takes the tag off every frame it receives
// before Npcap sees it: Tarvik's frames would go out tagged and the devices' replies would come
// up without the tag that says their VLAN, so none of them would ever be taken. A driver that
// is itself on a VLAN ("VLAN ID") tags and untags everything on its own. Such an adapter is
// refused before anything is sent, in one line that says why and what to do.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace tarvik {

// The network adapters' setup class: each adapter's driver keeps its advanced properties in a
// numbered subkey ("0007") whose NetCfgInstanceId is the adapter's GUID ("{...}").
inline constexpr std::string_view NETWORK_ADAPTER_CLASS_KEY =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";

// The values of *PriorityVLANTag: 0 off, 1 priority tags only, 2 VLAN tags only, 3 both.
inline constexpr std::uint32_t PRIORITY_VLAN_TAG_VLAN = 2;
inline constexpr std::uint32_t PRIORITY_VLAN_TAG_BOTH = 3;

// A driver's 802.1Q properties as the registry holds them. Drivers write advanced properties as
// texts ("3"), some as numbers; a number is kept here as its decimal text. Nothing where the
// driver has no such value.
struct DriverVlanProperties {
    std::optional<std::string> PriorityVlanTag;  // *PriorityVLANTag
    std::optional<std::string> VlanId;           // VlanID: the VLAN the driver itself is on
};

// The 802.1Q properties of the adapter whose NetCfgInstanceId is adapterGuid (case ignored);
// nothing when no subkey of the class is that adapter's, or the class cannot be read.
std::optional<DriverVlanProperties> ReadDriverVlanProperties(Registry& registry,
                                                             std::string_view adapterGuid);

// Why Tarvik cannot speak on VLAN vlanId through the adapter the user knows as adapterName, in
// one line ending in what to do; nothing when its driver leaves the tags alone: "Priority &
// VLAN" off or priority only, no VLAN ID of its own, or values absent or unreadable (what
// cannot be read is no reason to refuse).
std::optional<std::string> DriverVlanRefusal(const DriverVlanProperties& properties,
                                             std::string_view adapterName, std::uint16_t vlanId);

// On this machine: why Tarvik cannot tag VLAN vlanId on interfaceName ("{GUID}" on Windows),
// from the adapter's driver properties; nothing where it can. Linux never refuses: its kernel
// hands a tag the driver took off up beside the frame, where the capture finds it.
std::optional<std::string> VlanTaggingRefusal(const std::string& interfaceName,
                                              std::uint16_t vlanId);

}  // namespace tarvik
