#include "platform/capture/driver_vlan_handling.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "platform/formats/byte_order.h"

namespace tarvik {
namespace {

// Class subkey names are four digits; a value holds at most a short text.
constexpr std::uint32_t SUBKEY_NAME_CHARS = 256;
constexpr std::uint32_t VALUE_BYTES = 256;

std::optional<std::string> ReadValue(const RegistryKey& key, std::string_view name)
{
    std::vector<std::uint8_t> data(VALUE_BYTES);
    std::uint32_t size = VALUE_BYTES;
    std::uint32_t type = REG_NONE;
    if (key.QueryValue(name, &type, data.data(), size) != REGISTRY_SUCCESS) {
        return std::nullopt;
    }
    if (type == REG_SZ) {
        const auto* text = reinterpret_cast<const char*>(data.data());
        return std::string(text, strnlen(text, size));
    }
    if (type == REG_DWORD && size == 4) {
        return std::to_string(LoadLe32(data, 0));
    }
    // Another type is no property a driver writes: as if absent.
    return std::nullopt;
}

// A property's number: decimal digits, blanks around them allowed; nothing for anything else.
std::optional<std::uint32_t> PropertyNumber(const std::optional<std::string>& text)
{
    if (!text) {
        return std::nullopt;
    }
    std::string_view digits = *text;
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) {
        digits.remove_prefix(1);
    }
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) {
        digits.remove_suffix(1);
    }
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::optional<DriverVlanProperties> ReadDriverVlanProperties(Registry& registry,
                                                             std::string_view adapterGuid)
{
    RegistryKey adapters;
    if (registry.OpenKey(NETWORK_ADAPTER_CLASS_KEY, adapters) != REGISTRY_SUCCESS) {
        return std::nullopt;
    }
    for (std::uint32_t index = 0;; ++index) {
        char name[SUBKEY_NAME_CHARS];
        std::uint32_t chars = sizeof name;
        const int listed = adapters.EnumKey(index, name, chars);
        if (listed == REGISTRY_MORE_DATA) {
            continue;
        }
        if (listed != REGISTRY_SUCCESS) {
            return std::nullopt;
        }
        // Windows keeps a "Properties" subkey beside the adapters that only the system may
        // open: a subkey that cannot be opened is no adapter's.
        RegistryKey adapter;
        if (adapters.OpenSubkey(std::string_view(name, chars), adapter) != REGISTRY_SUCCESS) {
            continue;
        }
        const std::optional<std::string> instance = ReadValue(adapter, "NetCfgInstanceId");
        if (!instance || !RegistryNamesEqual(*instance, adapterGuid)) {
            continue;
        }
        return DriverVlanProperties{ReadValue(adapter, "*PriorityVLANTag"),
                                    ReadValue(adapter, "VlanID")};
    }
}

std::optional<std::string> DriverVlanRefusal(const DriverVlanProperties& properties,
                                             std::string_view adapterName, std::uint16_t vlanId)
{
    const std::string opening = "adapter \"" + std::string(adapterName) + "\" cannot carry VLAN " +
                                std::to_string(vlanId) + " tagged by Tarvik: its driver ";
    const std::string otherwise = ", or give each bay an adapter of its own";
    // A driver on a VLAN of its own tags whatever it sends with that VLAN and passes up only
    // that VLAN's frames, untagged: Tarvik's tag would go out inside its own.
    if (const std::optional<std::uint32_t> own = PropertyNumber(properties.VlanId);
        own && *own != 0) {
        return opening + "is itself on VLAN " + std::to_string(*own) +
               " (\"VLAN ID\" in its advanced properties); set \"VLAN ID\" to 0 and turn "
               "\"Priority & VLAN\" off in the adapter's advanced properties" +
               otherwise;
    }
    const std::optional<std::uint32_t> tagging = PropertyNumber(properties.PriorityVlanTag);
    if (tagging && (*tagging == PRIORITY_VLAN_TAG_VLAN || *tagging == PRIORITY_VLAN_TAG_BOTH)) {
        return opening +
               "takes the VLAN tags off the frames it receives (\"Priority & VLAN\" is on); turn "
               "\"Priority & VLAN\" off in the adapter's advanced properties" +
               otherwise;
    }
    return std::nullopt;
}

}  // namespace tarvik
