#include "platform/windows_api.h"

#include "platform/capture/driver_vlan_handling.h"

// Last: the IP Helper API's headers define as macros names other headers declare.
#include "platform/host/ip_helper_windows.h"

namespace tarvik {

std::optional<std::string> VlanTaggingRefusal(const std::string& interfaceName,
                                              std::uint16_t vlanId)
{
    WindowsRegistry registry;
    const std::optional<DriverVlanProperties> properties =
        ReadDriverVlanProperties(registry, interfaceName);
    if (!properties) {
        return std::nullopt;
    }
    // The user knows the adapter by its connection's name ("Ethernet 2"), not by its GUID.
    const AdapterAddressList list = AdapterAddressList::Read();
    const IP_ADAPTER_ADDRESSES* adapter = list.ByServiceName(interfaceName);
    const std::string name = adapter != nullptr && adapter->FriendlyName != nullptr
                                 ? Utf8Text(adapter->FriendlyName)
                                 : interfaceName;
    return DriverVlanRefusal(*properties, name, vlanId);
}

}  // namespace tarvik
