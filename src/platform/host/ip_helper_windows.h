#pragma once
// The IP Helper API's list of the machine's adapters, each with its service name ("{GUID}"),
// friendly name, description, state and hardware address: read once, then looked up by any of
// the names users know an adapter by (ASCII case ignored, as Windows compares them). Windows
// files only; include it after every header of this project (its headers define as macros
// names those declare).

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>  // after the sockets API, which it needs

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {

class AdapterAddressList {
public:
    // The list as the system has it now; empty when it cannot be read.
    static AdapterAddressList Read();

    // The adapter of that service name ("{GUID}"); null when none.
    const IP_ADAPTER_ADDRESSES* ByServiceName(const std::string& serviceName) const;
    // The adapter whose friendly name or description that is; null when none.
    const IP_ADAPTER_ADDRESSES* ByKnownName(const std::string& name) const;

private:
    const IP_ADAPTER_ADDRESSES* First() const;

    std::vector<std::uint8_t> buffer_;
};

}  // namespace tarvik
