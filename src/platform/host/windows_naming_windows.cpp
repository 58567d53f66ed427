#include "platform/windows_api.h"

#include "platform/host/windows_naming.h"

// Last: the IP Helper API's headers define as macros names other headers declare.
#include "platform/host/ip_helper_windows.h"

namespace tarvik {

std::string WindowsNaming::FriendlyName(const std::string& interfaceName)
{
    const AdapterAddressList list = AdapterAddressList::Read();
    const IP_ADAPTER_ADDRESSES* adapter = list.ByServiceName(interfaceName);
    return adapter != nullptr && adapter->FriendlyName != nullptr ? Utf8Text(adapter->FriendlyName)
                                                                  : std::string();
}

std::string WindowsNaming::InterfaceOfName(const std::string& name)
{
    const AdapterAddressList list = AdapterAddressList::Read();
    const IP_ADAPTER_ADDRESSES* adapter = list.ByKnownName(name);
    return adapter != nullptr && adapter->AdapterName != nullptr ? adapter->AdapterName
                                                                 : std::string();
}

}  // namespace tarvik
