#include "platform/windows_api.h"

#include "platform/registry/registry.h"

#include "platform/host/ip_helper_windows.h"

namespace tarvik {

AdapterAddressList AdapterAddressList::Read()
{
    AdapterAddressList list;
    ULONG size = 16 * 1024;
    for (int attempt = 0; attempt < 4; ++attempt) {
        list.buffer_.resize(size);
        const ULONG result = ::GetAdaptersAddresses(
            AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(list.buffer_.data()), &size);
        if (result == ERROR_SUCCESS) {
            return list;
        }
        if (result != ERROR_BUFFER_OVERFLOW) {
            break;
        }
    }
    list.buffer_.clear();
    return list;
}

const IP_ADAPTER_ADDRESSES* AdapterAddressList::First() const
{
    return buffer_.empty() ? nullptr
                           : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer_.data());
}

const IP_ADAPTER_ADDRESSES* AdapterAddressList::ByServiceName(const std::string& serviceName) const
{
    for (auto* adapter = First(); adapter != nullptr; adapter = adapter->Next) {
        if (adapter->AdapterName != nullptr &&
            RegistryNamesEqual(adapter->AdapterName, serviceName)) {
            return adapter;
        }
    }
    return nullptr;
}

const IP_ADAPTER_ADDRESSES* AdapterAddressList::ByKnownName(const std::string& name) const
{
    for (auto* adapter = First(); adapter != nullptr; adapter = adapter->Next) {
        if ((adapter->FriendlyName != nullptr &&
             RegistryNamesEqual(Utf8Text(adapter->FriendlyName), name)) ||
            (adapter->Description != nullptr &&
             RegistryNamesEqual(Utf8Text(adapter->Description), name))) {
            return adapter;
        }
    }
    return nullptr;
}

}  // namespace tarvik
